// Named pipes on POSIX: a pipe is a Unix-domain stream socket in a private per-user
// directory (or, for a pipe whose name only its client learns, in the abstract namespace),
// and every message travels as a 4-byte big-endian length and its bytes. The wire format
// and the directory rules are in docs/pipe-protocol.md.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/file.h>
#include <sys/random.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <new>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "platform/process.h"
#include "platform/socket_table.h"

static_assert(sizeof(sockaddr_un::sun_path) > platform::max_pipe_socket_path,
              "a pipe socket path must fit a socket address with its NUL");

namespace platform {

namespace {

using steady = std::chrono::steady_clock;

/// How often wait_for_client looks at a watched process.
constexpr int watch_poll_ms = 50;

/// How often wait_named_pipe looks for a listener that is not there yet. A service creates
/// its pipe within milliseconds of its start, so a short poll costs the first run little.
constexpr auto wait_poll = std::chrono::milliseconds(1);

/// How long open keeps trying a pipe whose queue is full, and how often. A pair's queue is
/// full only while a connection of another user waits there, which its server drops as
/// soon as it comes.
constexpr auto busy_retry = std::chrono::seconds(2);
constexpr auto busy_retry_pause = std::chrono::microseconds(100);

class unique_fd {
  public:
    unique_fd() = default;
    explicit unique_fd(int fd) : fd_(fd) {}
    ~unique_fd() { reset(); }
    unique_fd(unique_fd&& o) noexcept : fd_(o.release()) {}
    unique_fd& operator=(unique_fd&& o) noexcept {
        if (this != &o) reset(o.release());
        return *this;
    }
    unique_fd(const unique_fd&) = delete;
    unique_fd& operator=(const unique_fd&) = delete;

    int get() const { return fd_; }
    bool valid() const { return fd_ >= 0; }
    int release() {
        int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = fd;
    }

  private:
    int fd_ = -1;
};

/// Opens the pipe directory, creating it (mode 0700, last component only) when create is
/// set. Invalid unless it is a real directory of the effective user that nobody else can
/// reach: another user could otherwise swap or read our sockets.
unique_fd open_pipe_directory(const std::string& dir, bool create) {
    if (dir.empty()) return {};
    if (create && ::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) return {};
    unique_fd fd(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    if (!fd.valid()) return {};
    struct stat st {};
    if (::fstat(fd.get(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_uid != ::geteuid() ||
        (st.st_mode & 077) != 0) {
        errno = EACCES;
        return {};
    }
    return fd;
}

/// Holds an exclusive flock on the pipe directory: creations and removals of sockets by
/// our processes do not interleave.
class directory_lock {
  public:
    explicit directory_lock(int fd) : fd_(fd) {
        while (::flock(fd_, LOCK_EX) != 0 && errno == EINTR) {
        }
    }
    ~directory_lock() { ::flock(fd_, LOCK_UN); }
    directory_lock(const directory_lock&) = delete;
    directory_lock& operator=(const directory_lock&) = delete;

  private:
    int fd_;
};

bool is_socket_file(const std::string& path, struct stat* out = nullptr) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
    if (out) *out = st;
    return true;
}

/// A socket address for path: the file, or the same bytes in the abstract namespace.
socklen_t fill_address(const std::string& path, bool in_file_system, sockaddr_un& addr) {
    if (path.empty() || path.size() >= sizeof(addr.sun_path)) return 0;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    const std::size_t skip = in_file_system ? 0 : 1;  // an abstract name starts with NUL
    std::memcpy(addr.sun_path + skip, path.data(), path.size());
    return in_file_system
               ? static_cast<socklen_t>(sizeof addr)
               : static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
}

bool connect_socket(int fd, const std::string& path, bool in_file_system) {
    sockaddr_un addr;
    const socklen_t length = fill_address(path, in_file_system, addr);
    return length != 0 && ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0;
}

unique_fd new_client_socket() {
    return unique_fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
}

/// Back to blocking I/O once connected; the socket was made with these flags and no others.
bool connected_blocking(int fd) { return ::fcntl(fd, F_SETFL, O_RDWR) == 0; }

/// Connects to path without blocking on a full queue (a busy pipe fails at once). errno
/// tells why it failed.
unique_fd connect_to(const std::string& path, bool in_file_system) {
    unique_fd fd = new_client_socket();
    if (!fd.valid() || !connect_socket(fd.get(), path, in_file_system) ||
        !connected_blocking(fd.get())) {
        return {};
    }
    return fd;
}

/// A live server at path, judged by the kernel's socket table where it can be asked.
listener_state server_state(const std::string& path) {
    struct stat st {};
    if (!is_socket_file(path, &st)) return listener_state::not_listening;
    const listener_state state = socket_listener_state(st);
    if (state != listener_state::unknown) return state;
    // Without the table the only test left is a connection; the server drops it as a
    // client that went away.
    return connect_to(path, true).valid() ? listener_state::listening
                                          : listener_state::not_listening;
}

bool peer_is_same_user(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) {
        return false;
    }
    // The effective user never changes in our programs; a system call per check is waste.
    static const uid_t us = ::geteuid();
    return cred.uid == us;
}

/// Takes one queued client of listener lfd into connection; false with errno 0 when it was
/// another user's and dropped, else with accept's errno.
bool accept_client(int lfd, bool single_instance, unique_fd& connection) {
    errno = 0;
    unique_fd client(::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC));
    if (!client.valid()) return false;
    if (!peer_is_same_user(client.get())) {
        errno = 0;
        return false;
    }
    connection = std::move(client);
    // A single-instance pipe refuses later clients at once, but keeps its name until it is
    // closed, as its one instance still exists.
    if (single_instance) ::shutdown(lfd, SHUT_RD);
    return true;
}

/// Whether a failed accept_client leaves the listener fit to wait on: nobody was queued,
/// another instance or the client itself was quicker, or a client of another user was
/// dropped.
bool accept_may_go_on() {
    return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR || errno == ECONNABORTED ||
           errno == 0;
}

/// Milliseconds for poll until deadline (never negative); -1 when unbounded.
int poll_time_left(bool bounded, steady::time_point deadline) {
    if (!bounded) return -1;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - steady::now());
    return static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 1 << 30));
}

/// Reads exactly size bytes; got (when given) tells how many came before a failure.
bool read_exact(int fd, void* buffer, std::size_t size, std::size_t* got = nullptr) {
    auto* p = static_cast<char*>(buffer);
    const std::size_t wanted = size;
    while (size > 0) {
        ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (got) *got = wanted - size;
            return false;
        }
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

/// Sends every byte of parts, in one system call where the socket takes them all.
bool send_all(int fd, iovec* parts, int count) {
    while (count > 0) {
        msghdr msg{};
        msg.msg_iov = parts;
        msg.msg_iovlen = static_cast<std::size_t>(count);
        const ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        auto written = static_cast<std::size_t>(n);
        while (count > 0 && written >= parts->iov_len) {
            written -= parts->iov_len;
            ++parts;
            --count;
        }
        if (count > 0) {
            parts->iov_base = static_cast<char*>(parts->iov_base) + written;
            parts->iov_len -= written;
        }
    }
    return true;
}

bool send_all(int fd, const char* data, std::size_t size) {
    iovec part{const_cast<char*>(data), size};
    return send_all(fd, &part, 1);
}

/// Lets a large message queue up to 4 MiB on fd (as far as the system allows): with the
/// default of some 200 KiB, every step of a long message needs the reader to run, and on a
/// busy machine each such wake-up can wait for a time slice.
void make_room_for(int fd, std::size_t size) {
    constexpr std::size_t large = 1 << 20;
    if (size < large) return;
    const int room = 4 << 20;
    (void)::setsockopt(fd, SOL_SOCKET, SO_SNDBUF, &room, sizeof room);
}

/// The length prefix of a message of length bytes, and its first bytes.
bool send_message_part(int fd, std::uint32_t length, std::string_view first) {
    const std::uint32_t header = htonl(length);
    iovec parts[2] = {{const_cast<std::uint32_t*>(&header), sizeof header},
                      {const_cast<char*>(first.data()), first.size()}};
    return send_all(fd, parts, first.empty() ? 1 : 2);
}

/// Moves left bytes from socket in to socket out through a pipe, counting left down. True
/// when all moved; false with errno telling why it stopped (EINVAL or ENOSYS: the sockets
/// cannot splice, and nothing was moved; 0: in reached its end).
bool splice_all(int in, int out, std::uint32_t& left) {
    int through[2];
    if (::pipe2(through, O_CLOEXEC) != 0) return false;
    const unique_fd read_end(through[0]), write_end(through[1]);
    // A pipe's default 64 KiB asks for a wake-up every 16 pages.
    (void)::fcntl(through[1], F_SETPIPE_SZ, 1 << 20);
    while (left > 0) {
        const ssize_t got = ::splice(in, nullptr, through[1], nullptr, left, SPLICE_F_MOVE);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            if (got == 0) errno = 0;
            return false;
        }
        left -= static_cast<std::uint32_t>(got);
        for (ssize_t pending = got; pending > 0;) {
            const ssize_t put = ::splice(through[0], nullptr, out, nullptr,
                                         static_cast<std::size_t>(pending), SPLICE_F_MOVE);
            if (put < 0 && errno == EINTR) continue;
            if (put <= 0) {
                // The bytes in the pipe are lost with it: the message is cut either way.
                if (put == 0 || errno == EINVAL || errno == ENOSYS) errno = EPIPE;
                return false;
            }
            pending -= put;
        }
    }
    return true;
}

/// splice_all with SIGPIPE held: splice has no MSG_NOSIGNAL, and a reader that went away
/// would raise the signal, which ends the process. A signal raised is taken off again
/// before the thread goes on.
bool splice_through(int in, int out, std::uint32_t& left) {
    sigset_t broken_pipe, before;
    sigemptyset(&broken_pipe);
    sigaddset(&broken_pipe, SIGPIPE);
    if (::pthread_sigmask(SIG_BLOCK, &broken_pipe, &before) != 0) {
        errno = ENOSYS;
        return false;
    }
    const bool moved = splice_all(in, out, left);
    const int why = errno;
    if (!moved && why == EPIPE) {
        const timespec now{};
        while (::sigtimedwait(&broken_pipe, nullptr, &now) < 0 && errno == EINTR) {
        }
    }
    ::pthread_sigmask(SIG_SETMASK, &before, nullptr);
    errno = why;
    return moved;
}

/// A socket file this process bound and has not removed yet.
struct bound_file {
    std::string path;
    dev_t dev;
    ino_t ino;
};

/// Every socket file of this process, for remove_pipe_files. Touched only when a pipe in
/// the file system starts or stops listening, which the service does a few times a run.
struct bound_files {
    std::mutex mutex;
    std::vector<bound_file> files;
};

bound_files& our_files() {
    // Never destroyed: remove_pipe_files may run while other threads still close pipes.
    static auto* files = new bound_files;
    return *files;
}

void forget_file(const std::string& path) {
    bound_files& all = our_files();
    std::lock_guard guard(all.mutex);
    std::erase_if(all.files, [&](const bound_file& f) { return f.path == path; });
}

/// Removes path unless another server has put its own socket there since.
void unlink_if_ours(const std::string& path, dev_t dev, ino_t ino) {
    struct stat st {};
    if (is_socket_file(path, &st) && st.st_dev == dev && st.st_ino == ino) ::unlink(path.c_str());
}

/// A listening socket: one server instance's own, or shared by every instance of a
/// multi-instance name in this process.
struct listener {
    std::string path;  // the socket path; for an abstract socket its name without the NUL
    std::string dir;
    bool in_file_system = true;
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    int instances = 0;  // shared listeners only
    int max_instances = 1;
};

/// Closes l's socket and removes its file unless another server has put its own there.
void stop_listening(listener& l) {
    if (l.fd < 0) return;
    ::close(l.fd);
    l.fd = -1;
    if (!l.in_file_system) return;
    forget_file(l.path);
    unique_fd dir = open_pipe_directory(l.dir, false);
    if (!dir.valid()) return;
    directory_lock lock(dir.get());
    unlink_if_ours(l.path, l.dev, l.ino);
}

bool bind_and_listen(int fd, const std::string& path, bool in_file_system, int backlog) {
    sockaddr_un addr;
    const socklen_t length = fill_address(path, in_file_system, addr);
    if (length == 0 || ::bind(fd, reinterpret_cast<const sockaddr*>(&addr), length) != 0) {
        return false;
    }
    if (in_file_system) ::chmod(path.c_str(), 0600);
    if (::listen(fd, backlog) == 0) return true;
    if (in_file_system) ::unlink(path.c_str());
    return false;
}

/// A new listening socket for path. In the file system it replaces a file left by a dead
/// server; an abstract name that is taken fails, as a name held by another server does.
std::unique_ptr<listener> start_listening(const std::string& dir, const std::string& path,
                                          int max_instances, bool in_file_system) {
    // A single-instance pipe keeps no queue: a second client is refused at once, as a busy
    // pipe is, instead of waiting in the backlog.
    const int backlog = max_instances == 1 ? 0 : SOMAXCONN;
    auto l = std::make_unique<listener>();
    l->path = path;
    l->dir = dir;
    l->in_file_system = in_file_system;
    l->max_instances = max_instances;
    unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) return nullptr;
    if (!in_file_system) {
        // Nothing of the directory is used; every connection's user is checked instead.
        if (!bind_and_listen(fd.get(), path, false, backlog)) return nullptr;
        l->fd = fd.release();
        return l;
    }

    unique_fd dir_fd = open_pipe_directory(dir, true);
    if (!dir_fd.valid()) return nullptr;
    directory_lock lock(dir_fd.get());
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        // Only a socket is ours to replace; any other file stays and the name is refused.
        if (!S_ISSOCK(st.st_mode) || server_state(path) != listener_state::not_listening) {
            return nullptr;
        }
        if (::unlink(path.c_str()) != 0) return nullptr;
    }
    if (!bind_and_listen(fd.get(), path, true, backlog)) return nullptr;
    if (!is_socket_file(path, &st)) {
        ::unlink(path.c_str());
        return nullptr;
    }
    l->fd = fd.release();
    l->dev = st.st_dev;
    l->ino = st.st_ino;
    bound_files& all = our_files();
    std::lock_guard guard(all.mutex);
    all.files.push_back({path, st.st_dev, st.st_ino});
    return l;
}

/// Multi-instance listeners by socket path. The mutex guards the map and the counts only;
/// no system call is made while it is held.
struct listener_registry {
    std::mutex mutex;
    std::map<std::string, std::unique_ptr<listener>> by_path;
};

listener_registry& registry() {
    // Never destroyed: detached relay threads may still close instances while the process
    // runs its exit handlers.
    static auto* r = new listener_registry;
    return *r;
}

/// Takes one more instance of the shared listener at path, starting it when this process
/// has none.
listener* acquire_listener(const std::string& dir, const std::string& path, int max_instances,
                           create_error& error) {
    auto& reg = registry();
    {
        std::lock_guard guard(reg.mutex);
        auto it = reg.by_path.find(path);
        if (it != reg.by_path.end()) {
            listener& l = *it->second;
            if (l.fd < 0 || l.max_instances != max_instances) return nullptr;
            if (l.instances >= l.max_instances) {
                error = create_error::all_instances_busy;
                return nullptr;
            }
            ++l.instances;
            return &l;
        }
    }
    auto started = start_listening(dir, path, max_instances, true);
    if (!started) return nullptr;
    started->instances = 1;
    listener* raw = started.get();
    std::lock_guard guard(reg.mutex);
    // Another thread cannot have started the same name meanwhile: its socket would have
    // been live, and ours refused.
    reg.by_path.emplace(path, std::move(started));
    return raw;
}

void release_listener(listener* l) {
    std::unique_ptr<listener> last;
    {
        auto& reg = registry();
        std::lock_guard guard(reg.mutex);
        if (--l->instances > 0) return;
        auto it = reg.by_path.find(l->path);
        last = std::move(it->second);
        reg.by_path.erase(it);
    }
    stop_listening(*last);
}

}  // namespace

struct pipe::impl {
    listener* shared = nullptr;       // an instance of a multi-instance name
    std::unique_ptr<listener> owned;  // a single-instance server's own socket
    unique_fd connection;
    bool dropped = false;  // disconnect() was called
    bool can_read = true;
    bool can_write = true;
    bool message_reads = false;
    bool in_message = false;
    std::uint32_t remaining = 0;  // unread bytes of the current message

    listener* server() const { return shared ? shared : owned.get(); }
};

pipe pipe::create_server(std::string_view name, const pipe_server_options& options,
                         create_error* error) {
    pipe result;
    create_error why = create_error::failed;
    const std::string dir = pipe_directory();
    const std::string path = pipe_socket_path(name, dir);
    if (!path.empty() && options.max_instances >= 1 &&
        options.max_instances <= unlimited_instances) {
        auto made = std::make_unique<impl>();
        if (options.max_instances == 1) {
            made->owned = start_listening(dir, path, 1, options.in_file_system);
        } else {
            made->shared = acquire_listener(dir, path, options.max_instances, why);
        }
        if (made->server()) {
            made->can_read = options.access != pipe_access::outbound;
            made->can_write = options.access != pipe_access::inbound;
            made->message_reads = options.message_type;
            result.impl_ = made.release();
            why = create_error::none;
        }
    }
    if (error) *error = why;
    return result;
}

pipe pipe::open(std::string_view name, pipe_open access) {
    pipe result;
    const std::string dir = pipe_directory();
    const std::string path = pipe_socket_path(name, dir);
    if (path.empty() || !open_pipe_directory(dir, false).valid()) return result;
    // The file system first: a name there is guarded by our private directory, and an
    // abstract name could be taken by anybody.
    // A socket whose connect failed can try again: one socket serves both tries.
    unique_fd fd = new_client_socket();
    if (!fd.valid()) return result;
    const auto connect_either = [&] {
        return connect_socket(fd.get(), path, true) ||
               (errno == ENOENT && connect_socket(fd.get(), path, false));
    };
    bool connected = connect_either();
    // A full queue: as on Windows, where a busy pipe is waited for, try again for a while.
    for (const auto give_up = steady::now() + busy_retry;
         !connected && errno == EAGAIN && steady::now() < give_up;) {
        std::this_thread::sleep_for(busy_retry_pause);
        connected = connect_either();
    }
    // The server's credentials as of its listen(): a socket of another user at our name
    // must not receive our request.
    if (!connected || !connected_blocking(fd.get()) || !peer_is_same_user(fd.get())) {
        return result;
    }
    result.impl_ = new impl;
    result.impl_->connection = std::move(fd);
    result.impl_->can_read = access != pipe_open::write;
    result.impl_->can_write = access != pipe_open::read;
    return result;
}

bool pipe::valid() const { return impl_ != nullptr; }

connect_status pipe::wait_for_client(const process* watch, std::uint32_t timeout_ms) {
    if (!impl_ || !impl_->server()) return connect_status::failed;
    if (impl_->connection.valid()) return connect_status::connected;
    listener& l = *impl_->server();
    // A single-instance pipe stops listening after its one client; fd only changes below.
    const int lfd = l.fd;
    if (impl_->dropped || lfd < 0) return connect_status::failed;
    const bool bounded = timeout_ms != no_timeout;
    const auto deadline = steady::now() + std::chrono::milliseconds(bounded ? timeout_ms : 0);
    const bool single_instance = impl_->owned != nullptr;
    // A client that is already queued is taken without a poll first.
    bool look_first = true;
    for (;;) {
        if (look_first) {
            look_first = false;
            if (accept_client(lfd, single_instance, impl_->connection)) {
                return connect_status::connected;
            }
            if (!accept_may_go_on()) return connect_status::failed;
        }
        int wait_ms = watch ? watch_poll_ms : -1;
        if (bounded) {
            const int left_ms = poll_time_left(true, deadline);
            wait_ms = wait_ms < 0 ? left_ms : std::min(wait_ms, left_ms);
        }
        pollfd p{lfd, POLLIN, 0};
        const int ready = ::poll(&p, 1, wait_ms);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return connect_status::failed;
        }
        if (ready == 0) {
            if (watch && watch->has_ended()) return connect_status::process_ended;
            if (bounded && steady::now() >= deadline) return connect_status::timed_out;
            continue;
        }
        if (accept_client(lfd, single_instance, impl_->connection)) {
            return connect_status::connected;
        }
        if (!accept_may_go_on()) return connect_status::failed;
    }
}

connect_status pipe::wait_for_clients(pipe& a, pipe& b, std::uint32_t timeout_ms) {
    pipe* const ends[] = {&a, &b};
    for (pipe* end : ends) {
        if (!end->impl_ || !end->impl_->server()) return connect_status::failed;
    }
    const bool bounded = timeout_ms != no_timeout;
    const auto deadline = steady::now() + std::chrono::milliseconds(bounded ? timeout_ms : 0);
    for (;;) {
        pollfd listening[2];
        nfds_t count = 0;
        for (pipe* end : ends) {
            impl& s = *end->impl_;
            if (s.connection.valid()) continue;
            const int lfd = s.server()->fd;
            if (s.dropped || lfd < 0) return connect_status::failed;
            // Everything queued is taken now: a client of another user is dropped at once,
            // so that it never holds the queue that our client needs.
            while (!s.connection.valid()) {
                if (accept_client(lfd, s.owned != nullptr, s.connection)) break;
                if (!accept_may_go_on()) return connect_status::failed;
                if (errno != 0) break;  // nothing queued any more
            }
            if (!s.connection.valid()) listening[count++] = pollfd{lfd, POLLIN, 0};
        }
        if (count == 0) return connect_status::connected;
        // Checked here too: connections of another user that keep coming must not keep the
        // wait from its end.
        if (bounded && steady::now() >= deadline) return connect_status::timed_out;
        const int ready = ::poll(listening, count, poll_time_left(bounded, deadline));
        if (ready < 0 && errno != EINTR) return connect_status::failed;
    }
}

bool pipe::set_message_read_mode() {
    if (!impl_) return false;
    impl_->message_reads = true;
    return true;
}

io_result pipe::read(void* buffer, std::size_t size) {
    const io_result failed{io_status::failed, 0};
    if (!impl_ || !impl_->can_read || !impl_->connection.valid()) return failed;
    impl& s = *impl_;
    const int fd = s.connection.get();
    if (!s.in_message) {
        for (;;) {
            std::uint32_t header = 0;
            std::size_t got = 0;
            if (!read_exact(fd, &header, sizeof header, &got)) {
                // A stream that ends inside a length prefix ended inside a message: its
                // length never came, so at least one byte of it is missing.
                if (got > 0) {
                    s.in_message = true;
                    s.remaining = 1;
                }
                return failed;
            }
            s.remaining = ntohl(header);
            s.in_message = true;
            if (s.remaining > 0) break;
            s.in_message = false;
            if (s.message_reads) return {io_status::ok, 0};
            // A byte stream has nothing to show for an empty message.
        }
    }
    // A read ends at the message's end in both modes, so one read of a byte-mode client
    // gets a whole short message as a Windows pipe gives it.
    const std::size_t count = size < s.remaining ? size : s.remaining;
    if (!read_exact(fd, buffer, count)) return failed;
    s.remaining -= static_cast<std::uint32_t>(count);
    if (s.remaining > 0) return {s.message_reads ? io_status::more_data : io_status::ok, count};
    s.in_message = false;
    return {io_status::ok, count};
}

io_result pipe::read_unless_gone(void* buffer, std::size_t size, pipe& watched,
                                 bool& watched_gone) {
    watched_gone = false;
    if (impl_ && !impl_->in_message && impl_->connection.valid() && watched.impl_ &&
        watched.impl_->connection.valid()) {
        // Only hang-ups of the watched end are asked for (POLLHUP comes unasked): bytes it
        // sends, or its shutting down its sending side, must not wake us.
        pollfd p[2] = {{impl_->connection.get(), POLLIN, 0},
                       {watched.impl_->connection.get(), 0, 0}};
        for (;;) {
            const int ready = ::poll(p, 2, -1);
            if (ready < 0 && errno == EINTR) continue;
            // Something to read, or this end broke: read() tells which.
            if (ready < 0 || p[0].revents != 0) break;
            if ((p[1].revents & (POLLHUP | POLLERR | POLLNVAL)) != 0) {
                watched_gone = true;
                return {io_status::failed, 0};
            }
        }
    }
    return read(buffer, size);
}

std::size_t pipe::message_bytes_left() { return impl_ && impl_->in_message ? impl_->remaining : 0; }

bool pipe::write(std::string_view data) {
    if (!impl_ || !impl_->can_write || !impl_->connection.valid()) return false;
    if (data.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    make_room_for(impl_->connection.get(), data.size());
    return send_message_part(impl_->connection.get(), static_cast<std::uint32_t>(data.size()),
                             data);
}

bool pipe::write_with_rest_of(pipe& from, std::string_view start) {
    if (!from.impl_ || !from.impl_->in_message || !from.impl_->connection.valid()) {
        return write(start);
    }
    impl& source = *from.impl_;
    const std::uint64_t total = start.size() + std::uint64_t{source.remaining};
    if (!impl_ || !impl_->can_write || !impl_->connection.valid() ||
        total > std::numeric_limits<std::uint32_t>::max()) {
        return false;
    }
    const int out = impl_->connection.get();
    const auto break_off = [&] {
        // The reader sees the stream end inside the message, and drops it.
        ::shutdown(out, SHUT_RDWR);
        return false;
    };
    make_room_for(out, total);
    if (!send_message_part(out, static_cast<std::uint32_t>(total), start)) return break_off();
    const int in = source.connection.get();
    // The kernel moves the pages from one socket to the other through a pipe, without
    // copying them through our memory; where it cannot, the bytes are copied below.
    if (splice_through(in, out, source.remaining)) {
        source.in_message = false;
        return true;
    }
    if (errno != EINVAL && errno != ENOSYS) return break_off();
    // Big enough that each piece is a few socket buffers, small enough to stay in cache.
    constexpr std::size_t piece_size = 256 * 1024;
    const std::unique_ptr<char[]> piece(new (std::nothrow) char[piece_size]);
    if (!piece) return break_off();
    while (source.remaining > 0) {
        const ssize_t n =
            ::recv(in, piece.get(), std::min<std::size_t>(piece_size, source.remaining), 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return break_off();
        source.remaining -= static_cast<std::uint32_t>(n);
        if (!send_all(out, piece.get(), static_cast<std::size_t>(n))) return break_off();
    }
    source.in_message = false;
    return true;
}

bool pipe::flush() {
    // Bytes queued on a Unix stream socket stay readable by the peer after we close our
    // end, so there is nothing to wait for before a disconnect.
    return impl_ && impl_->connection.valid();
}

void pipe::disconnect() {
    if (!impl_) return;
    if (impl_->connection.valid()) ::shutdown(impl_->connection.get(), SHUT_RDWR);
    impl_->connection.reset();
    impl_->dropped = true;
}

bool pipe::wait_for_peer_gone(std::uint32_t timeout_ms) {
    if (!impl_ || !impl_->connection.valid()) return true;
    const bool bounded = timeout_ms != no_timeout;
    const auto deadline = steady::now() + std::chrono::milliseconds(bounded ? timeout_ms : 0);
    // Only hang-ups are asked for: data the peer sends must not wake us over and over.
    pollfd p{impl_->connection.get(), POLLRDHUP, 0};
    for (;;) {
        int ready = ::poll(&p, 1, poll_time_left(bounded, deadline));
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) return true;
        if (ready == 0 && steady::now() >= deadline) return false;
    }
}

void pipe::close() {
    if (!impl_) return;
    impl_->connection.reset();
    if (impl_->shared) release_listener(impl_->shared);
    if (impl_->owned) stop_listening(*impl_->owned);
    delete impl_;
    impl_ = nullptr;
}

bool wait_named_pipe(std::string_view name, std::uint32_t timeout_ms) {
    const std::string dir = pipe_directory();
    const std::string path = pipe_socket_path(name, dir);
    if (path.empty()) return false;
    const auto deadline = steady::now() + std::chrono::milliseconds(timeout_ms);
    for (;;) {
        // A directory that exists but is not private never becomes ours: give up at once.
        const bool dir_ok = open_pipe_directory(dir, false).valid();
        if (!dir_ok && errno != ENOENT) return false;
        if (dir_ok && server_state(path) == listener_state::listening) return true;
        // Not there yet (a service that is starting), a dead server's file, or every place
        // taken: look again until the time-out.
        const auto now = steady::now();
        if (now >= deadline) return false;
        std::this_thread::sleep_for(std::min<steady::duration>(wait_poll, deadline - now));
    }
}

bool pipe_is_served(std::string_view name) {
    const std::string dir = pipe_directory();
    const std::string path = pipe_socket_path(name, dir);
    struct stat st {};
    if (path.empty() || !open_pipe_directory(dir, false).valid() || !is_socket_file(path, &st)) {
        return false;
    }
    switch (socket_listener_state(st)) {
        case listener_state::listening:
        case listener_state::busy:
            return true;
        case listener_state::not_listening:
            return false;
        case listener_state::unknown:
            break;
    }
    // A full queue refuses the connection, but only a live server has a queue.
    return connect_to(path, true).valid() || errno == EAGAIN;
}

void remove_pipe_files() {
    bound_files& all = our_files();
    std::lock_guard guard(all.mutex);
    for (const bound_file& f : all.files) unlink_if_ours(f.path, f.dev, f.ino);
    all.files.clear();
}

bool unguessable_pipe_token(std::uint32_t& token) {
    std::uint32_t drawn = 0;
    for (;;) {
        const ssize_t n = ::getrandom(&drawn, sizeof drawn, 0);
        if (n == static_cast<ssize_t>(sizeof drawn)) break;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
    // The classic token's range, 7137 to 32767 * 32767 + 7137; the slight bias of the
    // modulo is of no use to a guesser.
    constexpr std::uint32_t lowest = 7137;
    constexpr std::uint32_t span = 32767u * 32767u + 1u;
    token = lowest + drawn % span;
    return true;
}

std::string pipe_directory() {
    if (const char* dir = std::getenv("VARNEX_PIPE_DIR"); dir && *dir) return dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return std::string(runtime) + "/varnex-pipes";
    }
    return "/tmp/varnex-pipes-" + std::to_string(::geteuid());
}

}  // namespace platform
