#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

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

namespace {

std::string child_of(const std::string& dir, std::string_view name) {
    return dir + "/" + std::string(name);
}

}  // namespace

bool remove_file(const std::string& dir, std::string_view name) {
    return ::unlink(child_of(dir, name).c_str()) == 0;
}

bool replace_file(const std::string& dir, std::string_view from, std::string_view to) {
    return ::rename(child_of(dir, from).c_str(), child_of(dir, to).c_str()) == 0;
}

bool renew_file(const std::string& dir, std::string_view name) {
    // Not through a link: the name is ours, what it points at may not be.
    return ::utimensat(AT_FDCWD, child_of(dir, name).c_str(), nullptr, AT_SYMLINK_NOFOLLOW) == 0;
}

std::string file_head(const std::string& dir, std::string_view name, std::size_t size) {
    // O_NONBLOCK: a FIFO planted under the name must not stall the reader.
    unique_fd f(
        ::open(child_of(dir, name).c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
    struct stat st {};
    if (!f.valid() || ::fstat(f.get(), &st) != 0 || !S_ISREG(st.st_mode)) return {};
    std::string head(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        const ssize_t n = ::read(f.get(), head.data() + got, size - got);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        got += static_cast<std::size_t>(n);
    }
    head.resize(got);
    return head;
}

}  // namespace platform
