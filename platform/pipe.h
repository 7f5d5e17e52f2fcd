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
    /// Only the user who creates the pipe may open it. Windows: the pipe gets the runtime's
    /// owner-only security attributes (all access for that user, none for anyone else), and
    /// is not created when they cannot be had; false leaves the system's default. POSIX:
    /// every pipe is owner-only whatever this says: a client of another user is turned away,
    /// and a pipe in the file system is a socket of mode 0600 in a private directory.
    bool owner_only = true;
    /// POSIX: false keeps a single-instance pipe out of the file system (a Linux abstract
    /// socket), for names that only its own client learns; no file is created or removed.
    /// Ignored on Windows and for pipes of several instances.
    bool in_file_system = true;
};

/// Why create_server gave an invalid pipe.
enum class create_error {
    none,
    all_instances_busy,  // the name's instances are all in use (ERROR_PIPE_BUSY)
    failed,              // any other failure: bad name, name held by another server, ...
};

/// A wait without a time-out.
inline constexpr std::uint32_t no_timeout = 0xFFFFFFFF;

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
    timed_out,      // no client connected within the time-out
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

    /// Creates a server instance of name (CreateNamedPipeA). Invalid on failure, with the
    /// reason in *error when error is given.
    [[nodiscard]] static pipe create_server(std::string_view name,
                                            const pipe_server_options& options,
                                            create_error* error = nullptr);

    /// Opens an existing pipe by name (CreateFileA, OPEN_EXISTING, no sharing). The
    /// handle reads in byte mode until set_message_read_mode(). Invalid on failure. A busy
    /// pipe (POSIX: a full queue) is tried again for a bounded time.
    [[nodiscard]] static pipe open(std::string_view name, pipe_open access);

    [[nodiscard]] bool valid() const;

    /// Server: blocks until a client connects (ConnectNamedPipe). When watch is given,
    /// gives up with process_ended once that process has ended; gives up with timed_out
    /// after timeout_ms. connected at once when this instance already has its client.
    /// POSIX: a client of another user is dropped and the wait goes on; a single-instance
    /// pipe stops listening after its client.
    [[nodiscard]] connect_status wait_for_client(const process* watch = nullptr,
                                                 std::uint32_t timeout_ms = no_timeout);

    /// Server: waits until both a and b have their client, in whichever order they come,
    /// within timeout_ms in all; an end that has its client already counts. POSIX: both
    /// listeners are watched at once, so a client of another user is dropped as soon as it
    /// comes to either, and never holds a queue while the wait is on the other.
    [[nodiscard]] static connect_status wait_for_clients(pipe& a, pipe& b,
                                                         std::uint32_t timeout_ms);

    /// Client: switch this handle to message read mode.
    bool set_message_read_mode();

    /// Reads at most size bytes, never past the end of the current message. Message mode:
    /// more_data when the message goes on; an empty message gives ok and 0. Byte mode:
    /// always ok, and empty messages give nothing. failed at the end of the connection.
    [[nodiscard]] io_result read(void* buffer, std::size_t size);

    /// read(), unless the peer of watched closes its end of the connection before anything
    /// comes to read: then nothing is read, and the result is failed with watched_gone set.
    /// A peer that only shut down its sending side still counts as there.
    [[nodiscard]] io_result read_unless_gone(void* buffer, std::size_t size, pipe& watched,
                                             bool& watched_gone);

    /// Bytes of the current message not read yet, after a read that gave more_data
    /// (PeekNamedPipe); 0 when no message is partly read. Lets a reader size its buffer
    /// once instead of growing it. After a failed read it tells whether the connection broke
    /// inside a message (POSIX: also inside its length prefix, which then counts as 1).
    [[nodiscard]] std::size_t message_bytes_left();

    /// Writes data as one message. False when it could not be written whole.
    bool write(std::string_view data);

    /// Writes start followed by the rest of from's current message (after a read that gave
    /// more_data) as one message. POSIX: the rest passes through in pieces as it arrives, so
    /// a large message is never held whole; Windows reads it whole first. False when from
    /// broke before its message ended, or the write failed; a reader of this pipe then never
    /// gets the cut message as a whole one (POSIX: this connection is broken off).
    bool write_with_rest_of(pipe& from, std::string_view start);

    /// Waits until the peer has read what was written (FlushFileBuffers).
    bool flush();

    /// Server: drops the client (DisconnectNamedPipe). What was written stays readable by
    /// the peer. POSIX: the instance cannot take another client.
    void disconnect();

    /// Blocks until the peer has closed its end or gone away (true), or timeout_ms has passed
    /// (false).
    bool wait_for_peer_gone(std::uint32_t timeout_ms = no_timeout);

    void close();

  private:
    struct impl;
    impl* impl_ = nullptr;
};

/// Waits until an instance of name is available, true as soon as one is, false once
/// timeout_ms has passed; it never makes a connection. A name that nobody serves yet is
/// waited for too (a service that is starting): POSIX: until a live server listens on it with
/// room for a client; Windows: WaitNamedPipeA, tried again at short intervals while no
/// instance exists, since it fails at once then.
[[nodiscard]] bool wait_named_pipe(std::string_view name, std::uint32_t timeout_ms);

/// Whether a live server holds name, with room for a client or not: a server whose queue
/// is full (POSIX) or whose instances are all busy (Windows) is there all the same. Never
/// makes a connection that a server would see (but on POSIX where the kernel's socket table
/// cannot be asked).
[[nodiscard]] bool pipe_is_served(std::string_view name);

/// POSIX: removes the socket files of the pipes this process serves, so that nobody takes
/// them for live once it has ended; call it right before the process ends. Nothing on
/// Windows, where pipes end with their handles.
void remove_pipe_files();

/// A pipe token that another user cannot guess, from the system's random source, in the
/// range of the classic token; nothing where the platform keeps the classic token (Windows,
/// whose pipes are guarded by their security descriptor).
[[nodiscard]] bool unguessable_pipe_token(std::uint32_t& token);

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
