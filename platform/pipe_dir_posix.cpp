#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "platform/pipe_dir.h"

namespace platform {

std::string pipe_directory_problem(const std::string& dir) {
    if (dir.empty()) return "is not set";
    // Made private before anyone else can take the name; an existing one is judged below.
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        return std::string("cannot be created (") + std::strerror(errno) + ")";
    }
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        struct stat st {};
        const bool seen = ::lstat(dir.c_str(), &st) == 0;
        if (seen && S_ISLNK(st.st_mode)) return "is a symbolic link";
        if (error == ENOTDIR || (seen && !S_ISDIR(st.st_mode))) return "is not a directory";
        // Another user's private folder cannot even be opened.
        if (seen && st.st_uid != ::geteuid()) return "belongs to another user";
        return std::string("cannot be opened (") + std::strerror(error) + ")";
    }
    struct stat st {};
    const bool known = ::fstat(fd, &st) == 0;
    ::close(fd);
    if (!known) return "cannot be examined";
    if (st.st_uid != ::geteuid()) return "belongs to another user";
    if ((st.st_mode & 077) != 0) {
        char text[64];
        std::snprintf(text, sizeof text, "is open to other users (mode %04o)",
                      static_cast<unsigned>(st.st_mode & 07777));
        return text;
    }
    return {};
}

}  // namespace platform
