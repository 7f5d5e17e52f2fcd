#include "tests/service/e2e_support.h"

#include <fstream>
#include <sstream>

#include "common/login_name.h"
#include "common/pipe_names.h"
#include "platform/pipe.h"
#include "tests/service_support/fake_client_modes.h"

namespace service_e2e {

world::world(const std::string& mode) {
    box.install_product("fake_zorvexplorer");
    client_dir = box.root() / "client";
    fs::create_directories(client_dir);
    fs::create_directories(box.work_dir());
    file("a.txt");
    file("b.txt");
    env[fake_client::dir_env] = client_dir.string();
    env[fake_client::mode_env] = mode;
    // The front end's connect pause, so that no run sleeps for real.
    env["VARNEX_CONNECT_PAUSE_MS"] = "20";
}

test_support::run_result world::run(const std::string& program,
                                    const std::vector<std::string>& args) {
    std::vector<std::string> argv{(box.product_dir() / "bin" / program).string()};
    argv.insert(argv.end(), args.begin(), args.end());
    test_support::run_options options;
    options.cwd = box.work_dir().string();
    options.env = env;
    options.deadline = run_deadline;
    return test_support::run_program(argv, options);
}

std::string world::file(const std::string& name, const std::string& content) {
    test_support::write_file(box.work_dir() / name, content);
    return name;
}

fs::path world::product() const { return fs::canonical(box.product_dir()); }
fs::path world::files() const { return fs::canonical(box.work_dir()); }

std::string world::service_log() const {
    return test_support::read_file(box.user_work_dir() / "zorv_service.log");
}

std::optional<int> world::service_pid() const {
    const std::string text = test_support::read_file(box.user_work_dir() / "zorv_service.pid");
    if (text.empty() || text.find_first_not_of("0123456789") != std::string::npos) return {};
    return std::stoi(text);
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

std::string launcher_pipe_name() {
    return common::launcher_request_pipe_name(common::login_name());
}

std::optional<std::string> exchange(const std::string& request) {
    const std::string name = launcher_pipe_name();
    if (!test_support::wait_until([&] { return platform::wait_named_pipe(name, 0); })) return {};
    platform::pipe pipe = platform::pipe::open(name, platform::pipe_open::read_write);
    if (!pipe.valid()) return {};
    pipe.set_message_read_mode();
    if (!pipe.write(request)) return {};
    std::string reply;
    char buffer[65536];
    for (;;) {
        const platform::io_result r = pipe.read(buffer, sizeof buffer);
        if (r.status == platform::io_status::failed) return {};
        reply.append(buffer, r.count);
        if (r.status == platform::io_status::ok) return reply;
    }
}

}  // namespace service_e2e
