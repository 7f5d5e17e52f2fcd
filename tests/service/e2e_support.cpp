#include "tests/service/e2e_support.h"

#include <fstream>

#include "tests/service_support/fake_client_modes.h"

namespace service_e2e {

world::world(const std::string& mode) {
    box.install_product("fake_zorvexplorer");
    client_dir = box.root() / "client";
    fs::create_directories(client_dir);
    file("a.txt");
    file("b.txt");
    env[fake_client::dir_env] = client_dir.string();
    env[fake_client::mode_env] = mode;
    deadline = run_deadline;
}

std::string world::client_file(const std::string& name) const {
    return test_support::read_file(client_dir / name);
}

bool world::wait_client_file(const std::string& name) const {
    return test_support::wait_until([&] { return fs::exists(client_dir / name); });
}

bool process_alive(int pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) return false;
    const std::size_t paren = line.rfind(')');
    return paren != std::string::npos && paren + 2 < line.size() && line[paren + 2] != 'Z' &&
           line[paren + 2] != 'X';
}

}  // namespace service_e2e
