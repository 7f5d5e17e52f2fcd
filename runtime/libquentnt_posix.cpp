// The product runtime's file, time and security calls on POSIX.
#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <ctime>

#include "common/product_runtime.h"

namespace {
// The POSIX pipe layer makes every pipe owner-only, so the attributes carry nothing.
struct owner_only_marker {
    int unused;
};
owner_only_marker owner_only{0};
}  // namespace

extern "C" unix_nt_file* unix_nt_fopen(const char* name, const char* mode) {
    std::FILE* file = std::fopen(name, mode);
    // A directory opens for reading here but not on Windows; it is never a file to compare.
    struct stat st;
    if (file != nullptr && fstat(fileno(file), &st) == 0 && S_ISDIR(st.st_mode)) {
        std::fclose(file);
        errno = EISDIR;
        return nullptr;
    }
    return file;
}

extern "C" int unix_nt_fclose(unix_nt_file* file) {
    return file != nullptr ? std::fclose(file) : 0;
}

extern "C" int unix_nt_mkdir(const char* path, int mode) {
    // 0 asks for an owner-only directory.
    return mkdir(path, mode == 0 ? 0700 : static_cast<mode_t>(mode));
}

extern "C" std::int64_t unix_nt_time(std::int64_t* result) {
    const std::int64_t now = static_cast<std::int64_t>(std::time(nullptr));
    if (result != nullptr) *result = now;
    return now;
}

extern "C" void* nt_owner_security_attributes(std::uint32_t /*access_mask*/, int /*inherit_flag*/) {
    return &owner_only;
}
