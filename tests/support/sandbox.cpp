#include "tests/support/sandbox.h"

#include <fstream>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace test_support {

bool wait_until(const std::function<bool()>& cond, std::chrono::milliseconds deadline) {
    auto end = std::chrono::steady_clock::now() + deadline;
    for (;;) {
        if (cond()) return true;
        if (std::chrono::steady_clock::now() >= end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
}

std::string read_file(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

void write_file(const fs::path& path, std::string_view data) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(data.data(), static_cast<std::streamsize>(data.size()));
    if (!out) throw std::runtime_error("cannot write " + path.string());
}

void sandbox::install(std::string_view program, const fs::path& relative) {
    fs::path dest = product_dir() / relative;
    dest += program_suffix();
    fs::create_directories(dest.parent_path());
    fs::copy_file(built_program(program), dest, fs::copy_options::overwrite_existing);
    fs::permissions(dest, fs::perms::owner_all, fs::perm_options::add);
}

void sandbox::install_product(std::string_view client) {
    install("trelmerge", "bin/trelmerge");
    install("zorv_service", "bin/zorv_service");
    install("trelmergeutf8", "bin/trelmergeutf8");
    fs::create_directories(product_dir() / "ZorvHome");
    if (!client.empty()) install(client, "ZorvHome/zorvexplorer");
}

}  // namespace test_support
