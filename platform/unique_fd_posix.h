// One owner for a file descriptor, for the POSIX backends of files and folders.
#pragma once

#include <unistd.h>

namespace platform {

class unique_fd {
  public:
    explicit unique_fd(int fd) : fd_(fd) {}
    ~unique_fd() {
        if (fd_ >= 0) ::close(fd_);
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    /// Closes now; false when close reported an error (a write that did not reach the file).
    bool close_checked() {
        const int fd = fd_;
        fd_ = -1;
        return fd < 0 || ::close(fd) == 0;
    }

  private:
    int fd_;
};

/// Writes all of data from the file's position; false on an error (errno tells).
bool write_all(int fd, const char* data, std::size_t size);

}  // namespace platform
