// Named pipes on POSIX: a pipe is a Unix-domain stream socket in a private per-user
// directory, and every message travels as a 4-byte big-endian length and its bytes. The
// wire format and the directory rules are in docs/pipe-protocol.md.
#include <arpa/inet.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <limits>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "platform/pipe.h"
#include "platform/process.h"

static_assert(sizeof(sockaddr_un::sun_path) > platform::max_pipe_socket_path,
              "a pipe socket path must fit a socket address with its NUL");

namespace platform {

namespace {

/// How often wait_for_client looks at a watched process.
constexpr int watch_poll_ms = 50;

/// Flags of a listening socket in /proc/net/unix (__SO_ACCEPTCON).
constexpr unsigned long listening_flag = 0x10000;

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

enum class liveness { listening, not_listening, unknown };

/// Whether some process has a listening socket bound at path, read from the kernel's table
/// so that nobody sees a connection. A socket whose file was unlinked may still be listed,
/// so the caller also checks that the file is there.
liveness listener_at(const std::string& path) {
    std::ifstream table("/proc/net/unix");
    if (!table) return liveness::unknown;
    std::string line;
    std::getline(table, line);  // heading
    while (std::getline(table, line)) {
        // "Num: RefCount Protocol Flags Type St Inode Path"; the path may hold blanks.
        std::size_t pos = 0;
        std::string fields[7];
        bool complete = true;
        for (auto& field : fields) {
            pos = line.find_first_not_of(' ', pos);
            if (pos == std::string::npos) {
                complete = false;
                break;
            }
            std::size_t end = line.find(' ', pos);
            field = line.substr(pos, end == std::string::npos ? std::string::npos : end - pos);
            pos = end;
        }
        if (!complete || pos == std::string::npos) continue;
        if (line.compare(pos + 1, std::string::npos, path) != 0) continue;
        unsigned long flags = std::strtoul(fields[3].c_str(), nullptr, 16);
        if (flags & listening_flag) return liveness::listening;
    }
    return liveness::not_listening;
}

bool is_socket_file(const std::string& path, struct stat* out = nullptr) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode)) return false;
    if (out) *out = st;
    return true;
}

bool fill_address(const std::string& path, sockaddr_un& addr) {
    if (path.empty() || path.size() >= sizeof(addr.sun_path)) return false;
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    return true;
}

/// Connects to path without blocking on a full backlog (a busy pipe fails at once).
unique_fd connect_to(const std::string& path) {
    sockaddr_un addr;
    if (!fill_address(path, addr)) return {};
    unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) return {};
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) return {};
    int flags = ::fcntl(fd.get(), F_GETFL);
    if (flags < 0 || ::fcntl(fd.get(), F_SETFL, flags & ~O_NONBLOCK) != 0) return {};
    return fd;
}

/// A live server at path, judged without a connection where the kernel table allows.
bool server_is_live(const std::string& path) {
    if (!is_socket_file(path)) return false;
    switch (listener_at(path)) {
        case liveness::listening:
            return true;
        case liveness::not_listening:
            return false;
        case liveness::unknown:
            break;
    }
    // Without the table the only test left is a connection; the server drops it as a
    // client that went away.
    return connect_to(path).valid();
}

bool peer_is_same_user(int fd) {
    ucred cred{};
    socklen_t len = sizeof cred;
    if (::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &len) != 0 || len != sizeof cred) {
        return false;
    }
    return cred.uid == ::geteuid();
}

/// Reads exactly size bytes; false on end of stream or error.
bool read_exact(int fd, void* buffer, std::size_t size) {
    auto* p = static_cast<char*>(buffer);
    while (size > 0) {
        ssize_t n = ::recv(fd, p, size, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        p += n;
        size -= static_cast<std::size_t>(n);
    }
    return true;
}

/// The listening socket shared by every server instance of one name in this process.
struct listener {
    std::string path;
    std::string dir;
    int fd = -1;
    dev_t dev = 0;
    ino_t ino = 0;
    int instances = 0;
    int max_instances = 1;
};

/// Listeners by socket path. Relay threads close instances while the main thread creates
/// them, so every change happens under the mutex.
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

/// Closes l's socket and removes its file unless another server has put its own there.
/// Called with the registry mutex held.
void stop_listening(listener& l) {
    if (l.fd < 0) return;
    ::close(l.fd);
    l.fd = -1;
    unique_fd dir = open_pipe_directory(l.dir, false);
    if (!dir.valid()) return;
    directory_lock lock(dir.get());
    struct stat st {};
    if (is_socket_file(l.path, &st) && st.st_dev == l.dev && st.st_ino == l.ino) {
        ::unlink(l.path.c_str());
    }
}

/// A new listening socket at path, replacing a file left by a dead server. Called with the
/// registry mutex held.
std::unique_ptr<listener> start_listening(const std::string& dir, const std::string& path,
                                          int max_instances) {
    unique_fd dir_fd = open_pipe_directory(dir, true);
    if (!dir_fd.valid()) return nullptr;
    directory_lock lock(dir_fd.get());

    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        // Only a socket is ours to replace; any other file stays and the name is refused.
        if (!S_ISSOCK(st.st_mode) || server_is_live(path)) return nullptr;
        if (::unlink(path.c_str()) != 0) return nullptr;
    }

    sockaddr_un addr;
    if (!fill_address(path, addr)) return nullptr;
    unique_fd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!fd.valid()) return nullptr;
    if (::bind(fd.get(), reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        return nullptr;
    }
    ::chmod(path.c_str(), 0600);
    // A single-instance pipe keeps no queue: a second client is refused at once, as a busy
    // pipe is, instead of waiting in the backlog.
    if (::listen(fd.get(), max_instances == 1 ? 0 : SOMAXCONN) != 0 || !is_socket_file(path, &st)) {
        ::unlink(path.c_str());
        return nullptr;
    }
    auto l = std::make_unique<listener>();
    l->path = path;
    l->dir = dir;
    l->fd = fd.release();
    l->dev = st.st_dev;
    l->ino = st.st_ino;
    l->max_instances = max_instances;
    return l;
}

/// Takes one more instance of the listener at path, creating it when this process has none.
listener* acquire_listener(const std::string& dir, const std::string& path, int max_instances) {
    auto& reg = registry();
    std::lock_guard guard(reg.mutex);
    auto it = reg.by_path.find(path);
    if (it != reg.by_path.end()) {
        listener& l = *it->second;
        if (l.fd < 0 || l.max_instances != max_instances || l.instances >= l.max_instances) {
            return nullptr;
        }
        ++l.instances;
        return &l;
    }
    auto l = start_listening(dir, path, max_instances);
    if (!l) return nullptr;
    l->instances = 1;
    listener* raw = l.get();
    reg.by_path.emplace(path, std::move(l));
    return raw;
}

void release_listener(listener* l) {
    auto& reg = registry();
    std::lock_guard guard(reg.mutex);
    if (--l->instances > 0) return;
    stop_listening(*l);
    reg.by_path.erase(l->path);
}

}  // namespace

struct pipe::impl {
    listener* server = nullptr;  // null for a client
    unique_fd connection;
    bool single_instance = false;
    bool dropped = false;  // disconnect() was called
    bool can_read = true;
    bool can_write = true;
    bool message_reads = false;
    bool in_message = false;
    std::uint32_t remaining = 0;  // unread bytes of the current message
};

pipe pipe::create_server(std::string_view name, const pipe_server_options& options) {
    pipe result;
    const std::string dir = pipe_directory();
    const std::string path = pipe_socket_path(name, dir);
    if (path.empty() || options.max_instances < 1 || options.max_instances > unlimited_instances) {
        return result;
    }
    listener* l = acquire_listener(dir, path, options.max_instances);
    if (!l) return result;
    result.impl_ = new impl;
    result.impl_->server = l;
    result.impl_->single_instance = options.max_instances == 1;
    result.impl_->can_read = options.access != pipe_access::outbound;
    result.impl_->can_write = options.access != pipe_access::inbound;
    result.impl_->message_reads = options.message_type;
    return result;
}

pipe pipe::open(std::string_view name, pipe_open access) {
    pipe result;
    const std::string dir = pipe_directory();
    const std::string path = pipe_socket_path(name, dir);
    if (path.empty() || !open_pipe_directory(dir, false).valid()) return result;
    unique_fd fd = connect_to(path);
    // The server's credentials as of its listen(): a socket of another user at our name
    // must not receive our request.
    if (!fd.valid() || !peer_is_same_user(fd.get())) return result;
    result.impl_ = new impl;
    result.impl_->connection = std::move(fd);
    result.impl_->can_read = access != pipe_open::write;
    result.impl_->can_write = access != pipe_open::read;
    return result;
}

bool pipe::valid() const { return impl_ != nullptr; }

connect_status pipe::wait_for_client(const process* watch) {
    if (!impl_ || !impl_->server) return connect_status::failed;
    if (impl_->connection.valid()) return connect_status::connected;
    listener& l = *impl_->server;
    // A single-instance pipe stops listening after its one client; fd only changes below.
    const int lfd = l.fd;
    if (impl_->dropped || lfd < 0) return connect_status::failed;
    for (;;) {
        pollfd p{lfd, POLLIN, 0};
        int ready = ::poll(&p, 1, watch ? watch_poll_ms : -1);
        if (ready < 0) {
            if (errno == EINTR) continue;
            return connect_status::failed;
        }
        if (ready == 0) {
            if (watch->has_ended()) return connect_status::process_ended;
            continue;
        }
        unique_fd client(::accept4(lfd, nullptr, nullptr, SOCK_CLOEXEC));
        if (!client.valid()) {
            // Another instance took the connection, or the client gave up first.
            if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR ||
                errno == ECONNABORTED) {
                continue;
            }
            return connect_status::failed;
        }
        if (!peer_is_same_user(client.get())) continue;  // dropped; wait for the next
        impl_->connection = std::move(client);
        if (impl_->single_instance) {
            std::lock_guard guard(registry().mutex);
            stop_listening(l);
        }
        return connect_status::connected;
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
            if (!read_exact(fd, &header, sizeof header)) return failed;
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

bool pipe::write(std::string_view data) {
    if (!impl_ || !impl_->can_write || !impl_->connection.valid()) return false;
    if (data.size() > std::numeric_limits<std::uint32_t>::max()) return false;
    const std::uint32_t header = htonl(static_cast<std::uint32_t>(data.size()));
    iovec parts[2] = {{const_cast<std::uint32_t*>(&header), sizeof header},
                      {const_cast<char*>(data.data()), data.size()}};
    iovec* next = parts;
    int left = 2;
    while (left > 0) {
        msghdr msg{};
        msg.msg_iov = next;
        msg.msg_iovlen = static_cast<std::size_t>(left);
        ssize_t n = ::sendmsg(impl_->connection.get(), &msg, MSG_NOSIGNAL);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        auto written = static_cast<std::size_t>(n);
        while (left > 0 && written >= next->iov_len) {
            written -= next->iov_len;
            ++next;
            --left;
        }
        if (left > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + written;
            next->iov_len -= written;
        }
    }
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

void pipe::wait_for_peer_gone() {
    if (!impl_ || !impl_->connection.valid()) return;
    // Only hang-ups are asked for: data the peer sends must not wake us over and over.
    pollfd p{impl_->connection.get(), POLLRDHUP, 0};
    for (;;) {
        int ready = ::poll(&p, 1, -1);
        if (ready < 0 && errno == EINTR) continue;
        if (ready < 0 || (p.revents & (POLLRDHUP | POLLHUP | POLLERR | POLLNVAL))) return;
    }
}

void pipe::close() {
    if (!impl_) return;
    impl_->connection.reset();
    if (impl_->server) release_listener(impl_->server);
    delete impl_;
    impl_ = nullptr;
}

bool wait_named_pipe(std::string_view name, std::uint32_t /*timeout_ms*/) {
    // A live server always has its listening socket, and connections queue there, so
    // there is nothing to wait for: either a server holds the name or none does.
    const std::string dir = pipe_directory();
    const std::string path = pipe_socket_path(name, dir);
    if (path.empty() || !open_pipe_directory(dir, false).valid()) return false;
    if (!is_socket_file(path)) return false;
    // Without the kernel table a socket file is all we can see; a stale one makes the
    // caller's open fail at once.
    return listener_at(path) != liveness::not_listening;
}

std::string pipe_directory() {
    if (const char* dir = std::getenv("VARNEX_PIPE_DIR"); dir && *dir) return dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime) {
        return std::string(runtime) + "/varnex-pipes";
    }
    return "/tmp/varnex-pipes-" + std::to_string(::geteuid());
}

}  // namespace platform
