// Named pipes: Win32 named pipes, or on POSIX Unix-domain stream sockets carrying
// length-prefixed messages (docs/pipe-protocol.md).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

class process;

/// Direction of a pipe seen from the server that creates it.
enum class pipe_access { inbound, outbound, duplex };

/// Unlimited instances, as PIPE_UNLIMITED_INSTANCES.
inline constexpr int unlimited_instances = 255;

struct pipe_server_options {
    pipe_access access = pipe_access::duplex;
    bool message_type = true;  // message type and message read mode
    int max_instances = 1;
    std::uint32_t out_buffer = 4096;
    std::uint32_t in_buffer = 4096;
    std::uint32_t default_timeout_ms = 5000;
    /// From nt_owner_security_attributes; null for the default. On POSIX every pipe is
    /// owner-only anyway.
    void* security_attributes = nullptr;
};

/// Access that a client asks for when it opens a pipe by name.
enum class pipe_open { read, write, read_write };

enum class io_status {
    ok,         // the read ended a message (message mode) or returned bytes (byte mode)
    more_data,  // message mode: the buffer was filled and the message goes on
    failed,     // broken, disconnected or otherwise failed
};

struct io_result {
    io_status status;
    std::size_t count;
};

enum class connect_status {
    connected,      // a client is connected (also when it was before the wait)
    process_ended,  // the watched process ended before a client connected
    failed,
};

/// One end of a named pipe: a server instance or a client handle. Move-only; closes on
/// destruction.
class pipe {
  public:
    pipe() = default;
    ~pipe();
    pipe(pipe&& other) noexcept;
    pipe& operator=(pipe&& other) noexcept;
    pipe(const pipe&) = delete;
    pipe& operator=(const pipe&) = delete;

    /// Creates a server instance of name (CreateNamedPipeA). Invalid on failure.
    [[nodiscard]] static pipe create_server(std::string_view name,
                                            const pipe_server_options& options);

    /// Opens an existing pipe by name (CreateFileA, OPEN_EXISTING, no sharing). The
    /// handle reads in byte mode until set_message_read_mode(). Invalid on failure.
    [[nodiscard]] static pipe open(std::string_view name, pipe_open access);

    [[nodiscard]] bool valid() const;

    /// Server: blocks until a client connects (ConnectNamedPipe). When watch is given,
    /// gives up with process_ended once that process has ended. connected at once when
    /// this instance already has its client. POSIX: a client of another user is dropped
    /// and the wait goes on; a single-instance pipe stops listening after its client.
    [[nodiscard]] connect_status wait_for_client(const process* watch = nullptr);

    /// Client: switch this handle to message read mode.
    bool set_message_read_mode();

    /// Reads at most size bytes, never past the end of the current message. Message mode:
    /// more_data when the message goes on; an empty message gives ok and 0. Byte mode:
    /// always ok, and empty messages give nothing. failed at the end of the connection.
    [[nodiscard]] io_result read(void* buffer, std::size_t size);

    /// Writes data as one message. False when it could not be written whole.
    bool write(std::string_view data);

    /// Waits until the peer has read what was written (FlushFileBuffers).
    bool flush();

    /// Server: drops the client (DisconnectNamedPipe). What was written stays readable by
    /// the peer. POSIX: the instance cannot take another client.
    void disconnect();

    /// Blocks until the peer has closed its end or gone away.
    void wait_for_peer_gone();

    void close();

  private:
    struct impl;
    impl* impl_ = nullptr;
};

/// Waits until an instance of name is available (WaitNamedPipeA). On POSIX it fails at
/// once when no live server holds the name, and never makes a connection.
[[nodiscard]] bool wait_named_pipe(std::string_view name, std::uint32_t timeout_ms);

/// POSIX: the directory that holds the pipes' sockets ($VARNEX_PIPE_DIR, else
/// $XDG_RUNTIME_DIR/varnex-pipes, else /tmp/varnex-pipes-<euid>). Empty on Windows.
std::string pipe_directory();

/// Longest socket path, in bytes, that a Unix socket address holds with its terminating NUL
/// on every POSIX system we build for (sun_path is 108 bytes on Linux).
inline constexpr std::size_t max_pipe_socket_path = 107;

/// POSIX: the socket path of pipe name `\\.\pipe\A\B\C` in dir: dir + "/A.B.C". Empty when
/// dir is empty, the name lacks the `\\.\pipe\` prefix (matched ignoring case), the rest is
/// empty, ".", ".." or holds a "/", NUL or line feed, or the path would be longer than
/// max_pipe_socket_path. Never shortened.
std::string pipe_socket_path(std::string_view name, std::string_view dir);

}  // namespace platform
