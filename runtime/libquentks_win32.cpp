// The Windows side of libquentks: where the product is installed, the temporary
// directory, the drive of a directory and the login name.
#include <windows.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>

#include "runtime/product_runtime.h"

namespace {

// The callers' buffers hold at least this much (ks_product_dir's contract).
constexpr DWORD product_dir_buffer = 1024;

void strip_last_component(char* path) {
    char* slash = std::strrchr(path, '\\');
    char* other = std::strrchr(path, '/');
    if (other > slash) slash = other;
    if (slash)
        *slash = '\0';
    else
        path[0] = '\0';
}

}  // namespace

extern "C" {

int ks_system_init(void) { return 0; }

char* ks_product_dir(char* buf, int /*flags*/) {
    buf[0] = '\0';
    DWORD n = GetModuleFileNameA(nullptr, buf, product_dir_buffer);
    if (n == 0 || n >= product_dir_buffer) {
        // A truncated path would name some other folder: report none.
        buf[0] = '\0';
        return buf;
    }
    strip_last_component(buf);  // the executable's name
    strip_last_component(buf);  // its folder (bin)
    return buf;
}

int fileutl_get_tmpdir(int /*flags*/, char* buf, int size, int /*reserved*/) {
    if (buf == nullptr || size <= 0) return -1;
    buf[0] = '\0';
    DWORD n = GetTempPathA(static_cast<DWORD>(size), buf);
    if (n == 0 || n >= static_cast<DWORD>(size)) {
        // Failed, or the path does not fit: no temporary directory.
        buf[0] = '\0';
        return -1;
    }
    if (n > 0 && buf[n - 1] == '\\') buf[n - 1] = '\0';
    return buf[0] == '\0' ? -1 : 0;
}

const char* fileutl_get_drive(const char* dir) {
    // Kept here rather than shared with the path rules so that the runtime library links
    // on its own; the rule is the same: a letter and a colon.
    thread_local char drive[3];
    drive[0] = '\0';
    if (dir && std::isalpha(static_cast<unsigned char>(dir[0])) && dir[1] == ':') {
        drive[0] = dir[0];
        drive[1] = ':';
        drive[2] = '\0';
    }
    return drive;
}

const char* sysutl_myloginname(void) {
    static const std::string name = [] {
        char buf[257] = {};
        DWORD size = sizeof buf;
        if (GetUserNameA(buf, &size) && buf[0] != '\0') return std::string(buf);
        const char* env = std::getenv("USERNAME");
        if (env && *env) return std::string(env);
        return std::string("user");
    }();
    return name.c_str();
}

}  // extern "C"
