// The product runtime's system calls on POSIX.
#include <pwd.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "runtime/product_runtime.h"

namespace {

// Copies text into buf of size bytes, cut short when it does not fit, always NUL-terminated.
void copy_text(const std::string& text, char* buf, std::size_t size) {
    if (buf == nullptr || size == 0) return;
    const std::size_t n = text.size() < size - 1 ? text.size() : size - 1;
    std::memcpy(buf, text.data(), n);
    buf[n] = '\0';
}

std::string parent_of(const std::string& path) {
    const auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return "";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

std::string compute_login_name() {
    const uid_t uid = geteuid();
    long size = sysconf(_SC_GETPW_R_SIZE_MAX);
    if (size <= 0) size = 16384;
    std::vector<char> buffer(static_cast<std::size_t>(size));
    for (;;) {
        passwd entry{};
        passwd* found = nullptr;
        const int rc = getpwuid_r(uid, &entry, buffer.data(), buffer.size(), &found);
        if (rc == ERANGE && buffer.size() < (1u << 20)) {
            buffer.resize(buffer.size() * 2);
            continue;
        }
        if (rc == 0 && found != nullptr && found->pw_name != nullptr && found->pw_name[0] != '\0') {
            return found->pw_name;
        }
        // An account without a name still needs a stable, non-empty one.
        return std::to_string(static_cast<unsigned long>(uid));
    }
}

}  // namespace

extern "C" int ks_system_init(void) { return 0; }

extern "C" char* ks_product_dir(char* buf, int /*flags*/) {
    // Callers hand in at least 1024 bytes.
    constexpr std::size_t caller_buffer_size = 1024;
    std::string dir;
    // The kernel names the executable by its resolved path already; realpath would walk it
    // again with a readlink per component, on every front-end run.
    char exe[PATH_MAX];
    const ssize_t n = readlink("/proc/self/exe", exe, sizeof exe);
    if (n > 0 && static_cast<std::size_t>(n) < sizeof exe) {
        dir = parent_of(parent_of(std::string(exe, static_cast<std::size_t>(n))));
    }
    copy_text(dir, buf, caller_buffer_size);
    return buf;
}

extern "C" int fileutl_get_tmpdir(int /*flags*/, char* buf, int size, int /*reserved*/) {
    const char* env = std::getenv("TMPDIR");
    const std::string dir = env != nullptr && env[0] != '\0' ? env : "/tmp";
    if (size <= 0) return -1;
    copy_text(dir, buf, static_cast<std::size_t>(size));
    return 0;
}

extern "C" const char* fileutl_get_drive(const char* /*dir*/) {
    // POSIX paths have no drives.
    return "";
}

extern "C" const char* sysutl_myloginname(void) {
    static const std::string name = compute_login_name();
    return name.c_str();
}
