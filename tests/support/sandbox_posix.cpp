#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <stdexcept>
#include <system_error>

#include "tests/support/sandbox.h"

namespace test_support {

namespace {

std::string login_name() {
    if (const passwd* pw = getpwuid(geteuid())) return pw->pw_name;
    return std::to_string(geteuid());
}

std::optional<std::string> save_and_set(const char* name, const std::string& value) {
    std::optional<std::string> old;
    if (const char* v = getenv(name)) old = v;
    setenv(name, value.c_str(), 1);
    return old;
}

void restore(const std::string& name, const std::optional<std::string>& old) {
    if (old)
        setenv(name.c_str(), old->c_str(), 1);
    else
        unsetenv(name.c_str());
}

}  // namespace

std::string_view program_suffix() { return ""; }

fs::path built_program(std::string_view name) { return fs::path(VARNEX_BUILD_BIN_DIR) / name; }

sandbox::sandbox() {
    const char* base = getenv("VARNEX_TEST_ROOT");
    std::string templ = std::string(base && *base ? base : "/tmp") + "/varnex-test-XXXXXX";
    if (!mkdtemp(templ.data())) throw std::runtime_error("mkdtemp failed");
    root_ = templ;
    for (const char* sub : {"tmp", "pipes", "product", "files"}) {
        fs::create_directory(root_ / sub);
        chmod((root_ / sub).c_str(), 0700);
    }
    for (const auto& [name, value] : {std::pair{"TMPDIR", tmp_dir().string()},
                                      std::pair{"VARNEX_PIPE_DIR", pipe_dir().string()}}) {
        saved_environment_.emplace_back(name, save_and_set(name, value));
    }
}

sandbox::~sandbox() {
    kill_product_processes();
    for (const auto& [name, old] : saved_environment_) restore(name, old);
    std::error_code ec;
    if (!getenv("VARNEX_KEEP_TEST_ROOT")) fs::remove_all(root_, ec);
}

fs::path sandbox::user_work_dir() const { return tmp_dir() / (login_name() + ".trelmerge"); }

void sandbox::kill_product_processes() const {
    // By pid: every process whose executable lies in this sandbox's tree.
    std::error_code ec;
    std::string prefix = fs::canonical(product_dir(), ec).string() + "/";
    if (ec) return;
    for (const auto& entry : fs::directory_iterator("/proc", ec)) {
        const std::string name = entry.path().filename().string();
        if (name.find_first_not_of("0123456789") != std::string::npos) continue;
        std::error_code rec;
        fs::path exe = fs::read_symlink(entry.path() / "exe", rec);
        if (rec) continue;
        if (exe.string().rfind(prefix, 0) == 0) kill(std::stoi(name), SIGKILL);
    }
}

}  // namespace test_support
