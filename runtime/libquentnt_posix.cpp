// The product runtime's file, time and security calls on POSIX.
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <string_view>

#include "runtime/product_runtime.h"

namespace {
// The POSIX pipe layer makes every pipe owner-only, so the attributes carry nothing.
struct owner_only_marker {
    int unused;
};
owner_only_marker owner_only{0};
}  // namespace

extern "C" unix_nt_file* unix_nt_fopen(const char* name, const char* mode) {
    const std::string_view how = mode != nullptr ? mode : "";
    if (how == "r" || how == "rb") {
        // Opened without blocking, as a FIFO would wait for a writer for ever; only a
        // regular file is a file to read here.
        const int fd = open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0) return nullptr;
        struct stat st {};
        if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
            const bool folder = S_ISDIR(st.st_mode);
            close(fd);
            errno = folder ? EISDIR : EINVAL;
            return nullptr;
        }
        const int flags = fcntl(fd, F_GETFL);
        std::FILE* file = flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0
                              ? fdopen(fd, mode)
                              : nullptr;
        if (file == nullptr) close(fd);
        return file;
    }
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

void libquentnt::sleep(unsigned seconds) {
    // A signal may end the C library's pause early: sleep on for what is left.
    unsigned left = seconds;
    while (left > 0) left = ::sleep(left);
}
