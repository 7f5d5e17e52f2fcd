// inotify for the folders; a handler that writes to a pipe for SIGTERM, so that the
// request reaches the watching thread's poll without blocking the signal anywhere (a
// blocked signal would stay blocked in every program started later).
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <thread>

#include "platform/file_watch.h"

namespace platform {

namespace {

// The write end of the stop pipe, for the signal handler.
std::atomic<int> stop_pipe_write{-1};

void on_stop_signal(int) {
    const int saved = errno;
    const int fd = stop_pipe_write.load();
    if (fd >= 0) (void)!::write(fd, "t", 1);
    errno = saved;
}

void drain(int fd) {
    char buffer[4096];
    while (::read(fd, buffer, sizeof buffer) > 0) {
    }
}

}  // namespace

std::optional<file_identity> identify_file(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) return std::nullopt;
    return file_identity{static_cast<std::uint64_t>(st.st_dev),
                         static_cast<std::uint64_t>(st.st_ino)};
}

struct change_watch::impl {
    int inotify = -1;
    int stop_read = -1;
};

change_watch::change_watch() : impl_(new impl) {}

change_watch::~change_watch() {
    if (impl_->inotify >= 0) ::close(impl_->inotify);
    // The stop pipe stays open: the handler may still write to it.
    delete impl_;
}

bool change_watch::add_folder(const std::string& folder) {
    if (impl_->inotify < 0) impl_->inotify = ::inotify_init1(IN_CLOEXEC | IN_NONBLOCK);
    if (impl_->inotify < 0) return false;
    // Names coming and going, and the folder itself going: a replaced program is removed
    // and written anew (cmake --install) or renamed over (dpkg).
    constexpr std::uint32_t mask =
        IN_CREATE | IN_DELETE | IN_MOVED_FROM | IN_MOVED_TO | IN_DELETE_SELF | IN_MOVE_SELF;
    return ::inotify_add_watch(impl_->inotify, folder.c_str(), mask) >= 0;
}

bool change_watch::catch_stop_request() {
    if (impl_->stop_read >= 0) return true;
    int fds[2];
    if (::pipe2(fds, O_CLOEXEC | O_NONBLOCK) != 0) return false;
    int expected = -1;
    if (!stop_pipe_write.compare_exchange_strong(expected, fds[1])) {
        ::close(fds[0]);
        ::close(fds[1]);
        return false;
    }
    impl_->stop_read = fds[0];
    struct sigaction action {};
    action.sa_handler = on_stop_signal;
    sigemptyset(&action.sa_mask);
    // Other threads' calls go on where the system can restart them; the rest see EINTR,
    // which the pipe layer retries.
    action.sa_flags = SA_RESTART;
    return ::sigaction(SIGTERM, &action, nullptr) == 0;
}

change_watch::event change_watch::wait(std::uint32_t timeout_ms) {
    using clock = std::chrono::steady_clock;
    const bool bounded = timeout_ms != no_change_timeout;
    const auto deadline = clock::now() + std::chrono::milliseconds(bounded ? timeout_ms : 0);
    for (;;) {
        pollfd fds[2] = {{impl_->stop_read, POLLIN, 0}, {impl_->inotify, POLLIN, 0}};
        int wait_ms = -1;
        if (bounded) {
            const auto left =
                std::chrono::ceil<std::chrono::milliseconds>(deadline - clock::now()).count();
            wait_ms = static_cast<int>(left > 0 ? left : 0);
        }
        // A negative descriptor is left out by poll; with neither, this is a plain pause.
        const int ready = ::poll(fds, 2, wait_ms);
        if (ready < 0 && errno != EINTR) {
            // Nothing to wait on that works: pause instead of spinning.
            if (!bounded) return event::timed_out;
            std::this_thread::sleep_until(deadline);
            return event::timed_out;
        }
        if (ready > 0 && (fds[0].revents & POLLIN) != 0) {
            char one;
            (void)!::read(impl_->stop_read, &one, 1);
            return event::stop_requested;
        }
        if (ready > 0 && (fds[1].revents & POLLIN) != 0) {
            drain(impl_->inotify);
            return event::changed;
        }
        if (ready == 0 || (bounded && clock::now() >= deadline)) return event::timed_out;
    }
}

}  // namespace platform
