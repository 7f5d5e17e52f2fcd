#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

#include "platform/files.h"

namespace platform {

bool is_private_directory(const std::string& path) {
    struct stat st {};
    // lstat: a link to a private directory is not the directory itself, and whoever
    // planted the link can move it.
    if (lstat(path.c_str(), &st) != 0) return false;
    if (!S_ISDIR(st.st_mode)) return false;
    if (st.st_uid != geteuid()) return false;
    return (st.st_mode & 077) == 0;
}

bool write_private_file(const std::string& path, std::string_view data, file_open how) {
    int flags = O_WRONLY | O_CREAT | O_NOFOLLOW | O_CLOEXEC;
    flags |= how == file_open::truncate ? O_TRUNC : O_APPEND;
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0600);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    const char* p = data.data();
    std::size_t left = data.size();
    while (left > 0) {
        const ssize_t written = ::write(fd, p, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            break;
        }
        p += written;
        left -= static_cast<std::size_t>(written);
    }
    ::close(fd);
    return true;
}

}  // namespace platform
