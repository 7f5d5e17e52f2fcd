// TCP connections on the loopback interface, for a server that only this machine reaches:
// listening, accepting, reading and writing with deadlines, and who is at the other end.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

/// One socket, closed by its owner. Move-only. Sockets it hands out do not block: every
/// wait is one of the calls below, with its own deadline.
class tcp_socket {
  public:
    tcp_socket() = default;
    explicit tcp_socket(std::intptr_t handle) : handle_(handle) {}
    ~tcp_socket();
    tcp_socket(tcp_socket&& other) noexcept : handle_(other.release()) {}
    tcp_socket& operator=(tcp_socket&& other) noexcept;
    tcp_socket(const tcp_socket&) = delete;
    tcp_socket& operator=(const tcp_socket&) = delete;

    [[nodiscard]] bool valid() const { return handle_ != invalid; }
    [[nodiscard]] std::intptr_t native() const { return handle_; }
    std::intptr_t release() {
        const std::intptr_t h = handle_;
        handle_ = invalid;
        return h;
    }

    /// Ends reading and writing at once; a wait in another thread returns. The socket stays
    /// open until its owner closes it.
    void shut_down() const;

    static constexpr std::intptr_t invalid = -1;

  private:
    std::intptr_t handle_ = invalid;
};

struct loopback_listener {
    tcp_socket socket;
    int port = 0;  // 0 when nothing listens
};

/// Listens on 127.0.0.1 at a port the system chooses.
[[nodiscard]] loopback_listener listen_on_loopback();

/// The next connection, waiting up to wait for one; an invalid socket when none came.
[[nodiscard]] tcp_socket accept_connection(const tcp_socket& listener,
                                           std::chrono::milliseconds wait);

enum class io_status { done, closed, timed_out, failed };

struct read_result {
    io_status status = io_status::failed;
    std::size_t bytes = 0;  // read, with io_status::done
};

/// Reads what has arrived into buffer, waiting up to wait for the first byte. closed: the
/// peer ended its side.
[[nodiscard]] read_result read_some(const tcp_socket& connection, char* buffer, std::size_t size,
                                    std::chrono::milliseconds wait);

/// Writes all of data; gives up (timed_out) when the peer takes nothing for wait.
[[nodiscard]] io_status write_all(const tcp_socket& connection, std::string_view data,
                                  std::chrono::milliseconds wait);

/// The user who holds the other end of a loopback connection, as a text that is equal for
/// the same user and differs between users; empty when the system does not tell.
[[nodiscard]] std::string connection_peer_user(const tcp_socket& connection);

}  // namespace platform
