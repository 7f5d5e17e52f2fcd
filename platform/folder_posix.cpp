#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/folder.h"
#include "platform/unique_fd_posix.h"

namespace platform {

bool write_all(int fd, const char* data, std::size_t size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        data += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

std::string make_folders(const std::string& dir) {
    std::error_code ec;
    std::filesystem::create_directories(dir, ec);
    return ec ? dir + ": " + ec.message() : std::string();
}

std::string create_new_file(const std::string& path, std::string_view data) {
    // O_EXCL: never reuse or follow a name someone else holds.
    unique_fd f(::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
    if (!f.valid()) return path + ": " + std::strerror(errno);
    if (!write_all(f.get(), data.data(), data.size()) || !f.close_checked()) {
        const std::string error = path + ": " + std::strerror(errno);
        ::unlink(path.c_str());
        return error;
    }
    return {};
}

std::vector<own_file> own_files_in(const std::string& dir) {
    std::vector<own_file> files;
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return files;
    while (const dirent* e = ::readdir(d)) {
        struct stat st {};
        if (::fstatat(::dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 &&
            S_ISREG(st.st_mode) && st.st_uid == ::geteuid()) {
            const auto since_epoch = std::chrono::seconds(st.st_mtim.tv_sec) +
                                     std::chrono::nanoseconds(st.st_mtim.tv_nsec);
            files.push_back(
                {e->d_name, std::chrono::system_clock::time_point(
                                std::chrono::duration_cast<std::chrono::system_clock::duration>(
                                    since_epoch))});
        }
    }
    ::closedir(d);
    return files;
}

bool remove_file(const std::string& dir, std::string_view name) {
    return ::unlink((dir + "/" + std::string(name)).c_str()) == 0;
}

}  // namespace platform
