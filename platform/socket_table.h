// POSIX only: what the kernel says about the listening Unix socket bound to a file, and who
// owns a TCP socket. Asked through the socket-diagnostics netlink interface, so that no
// connection is made and no other user can forge an answer.
#pragma once

#include <sys/stat.h>

#include <cstdint>
#include <optional>

namespace platform {

enum class listener_state {
    listening,      // a socket bound to this very file listens and has room for a client
    busy,           // it listens, but its queue of waiting clients is full
    not_listening,  // no socket bound to this file listens (a dead server's file)
    unknown,        // the kernel could not be asked
};

/// The state of the listener bound to the socket file whose lstat is file: matched by the
/// file's device and inode, which only the socket that created the file carries.
listener_state socket_listener_state(const struct stat& file);

/// The user id owning the IPv4 TCP socket whose own end is local_addr:local_port and whose
/// peer is remote_addr:remote_port (all in network byte order); nothing when the kernel
/// does not say.
std::optional<unsigned> tcp_socket_owner(std::uint32_t local_addr, std::uint16_t local_port,
                                         std::uint32_t remote_addr, std::uint16_t remote_port);

}  // namespace platform
