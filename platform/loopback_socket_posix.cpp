// Loopback TCP on POSIX: non-blocking sockets, each wait a poll with its deadline. The user
// at the other end comes from the kernel's socket table.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "platform/loopback_socket.h"
#include "platform/socket_table.h"

namespace platform {

namespace {

int fd_of(const tcp_socket& s) { return static_cast<int>(s.native()); }

// Waits until fd is ready for events or wait has passed; false on time-out or error.
io_status wait_for(int fd, short events, std::chrono::milliseconds wait) {
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        pollfd p{fd, events, 0};
        const int n = ::poll(&p, 1, static_cast<int>(std::max<long long>(left.count(), 0)));
        if (n > 0) return io_status::done;
        if (n == 0) return io_status::timed_out;
        if (errno != EINTR) return io_status::failed;
    }
}

bool address_of(int fd, bool peer, sockaddr_in& out) {
    socklen_t len = sizeof out;
    const int r = peer ? ::getpeername(fd, reinterpret_cast<sockaddr*>(&out), &len)
                       : ::getsockname(fd, reinterpret_cast<sockaddr*>(&out), &len);
    return r == 0 && out.sin_family == AF_INET;
}

}  // namespace

tcp_socket::~tcp_socket() {
    if (valid()) ::close(fd_of(*this));
}

tcp_socket& tcp_socket::operator=(tcp_socket&& other) noexcept {
    if (this != &other) {
        if (valid()) ::close(fd_of(*this));
        handle_ = other.release();
    }
    return *this;
}

void tcp_socket::shut_down() const {
    if (valid()) ::shutdown(fd_of(*this), SHUT_RDWR);
}

loopback_listener listen_on_loopback() {
    loopback_listener out;
    tcp_socket s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!s.valid()) return out;
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(fd_of(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(fd_of(s), SOMAXCONN) != 0 || !address_of(fd_of(s), false, address)) {
        return out;
    }
    out.port = ntohs(address.sin_port);
    out.socket = std::move(s);
    return out;
}

tcp_socket accept_connection(const tcp_socket& listener, std::chrono::milliseconds wait) {
    if (wait_for(fd_of(listener), POLLIN, wait) != io_status::done) return {};
    for (;;) {
        const int fd = ::accept4(fd_of(listener), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd >= 0) return tcp_socket(fd);
        if (errno != EINTR) return {};
    }
}

read_result read_some(const tcp_socket& connection, char* buffer, std::size_t size,
                      std::chrono::milliseconds wait) {
    const int fd = fd_of(connection);
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const ssize_t n = ::recv(fd, buffer, size, 0);
        if (n > 0) return {io_status::done, static_cast<std::size_t>(n)};
        if (n == 0) return {io_status::closed, 0};
        if (errno == EINTR) continue;
        if (errno != EAGAIN && errno != EWOULDBLOCK) return {io_status::failed, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {io_status::timed_out, 0};
        const io_status s = wait_for(fd, POLLIN, left);
        if (s != io_status::done) return {s, 0};
    }
}

io_status write_all(const tcp_socket& connection, std::string_view data,
                    std::chrono::milliseconds wait) {
    const int fd = fd_of(connection);
    while (!data.empty()) {
        // MSG_NOSIGNAL: a peer that went away is an answer, not a reason to end the process.
        const ssize_t n = ::send(fd, data.data(), data.size(), MSG_NOSIGNAL);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK)
            return errno == EPIPE || errno == ECONNRESET ? io_status::closed : io_status::failed;
        const io_status s = wait_for(fd, POLLOUT, wait);
        if (s != io_status::done) return s;
    }
    return io_status::done;
}

std::string connection_peer_user(const tcp_socket& connection) {
    sockaddr_in ours{};
    sockaddr_in theirs{};
    if (!address_of(fd_of(connection), false, ours) || !address_of(fd_of(connection), true, theirs))
        return {};
    // The peer's socket: its own end is our peer address, its peer is us.
    const std::optional<unsigned> uid = tcp_socket_owner(theirs.sin_addr.s_addr, theirs.sin_port,
                                                         ours.sin_addr.s_addr, ours.sin_port);
    return uid ? "uid " + std::to_string(*uid) : std::string();
}

}  // namespace platform
