// The kernel's table of listening Unix sockets, read through NETLINK_SOCK_DIAG. A socket
// is matched by the device and inode of the file it was bound to: a socket path is only
// text that anyone may choose, but the inode belongs to the socket that made the file.
#include <linux/inet_diag.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <linux/sock_diag.h>
#include <linux/unix_diag.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "platform/socket_table.h"

namespace platform {

namespace {

// The kernel's state number of a listening socket.
constexpr unsigned char tcp_listen = 10;

// The kernel reports a device number in its own encoding: 12-bit major over 20-bit minor.
bool same_device(std::uint32_t kernel_dev, dev_t dev) {
    return (kernel_dev >> 20) == major(dev) && (kernel_dev & 0xFFFFFu) == minor(dev);
}

class netlink_socket {
  public:
    netlink_socket() : fd_(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_SOCK_DIAG)) {}
    ~netlink_socket() {
        if (fd_ >= 0) ::close(fd_);
    }
    netlink_socket(const netlink_socket&) = delete;
    netlink_socket& operator=(const netlink_socket&) = delete;
    int get() const { return fd_; }

  private:
    int fd_;
};

// Sends one whole request to the kernel's socket table.
bool send_to_kernel(int fd, const void* message, std::size_t size) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
        const ssize_t n = ::sendto(fd, message, size, 0, reinterpret_cast<const sockaddr*>(&kernel),
                                   sizeof kernel);
        if (n == static_cast<ssize_t>(size)) return true;
        if (n < 0 && errno == EINTR) continue;
        return false;
    }
}

bool ask_for_listeners(int fd) {
    struct {
        nlmsghdr header;
        unix_diag_req request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    message.request.sdiag_family = AF_UNIX;
    message.request.udiag_states = 1u << tcp_listen;
    message.request.udiag_show = UDIAG_SHOW_VFS | UDIAG_SHOW_RQLEN;
    return send_to_kernel(fd, &message, sizeof message);
}

/// The state one table entry gives for file, or not_listening when it is another socket.
listener_state entry_state(const nlmsghdr* header, const struct stat& file) {
    const auto* entry = static_cast<const unix_diag_msg*>(NLMSG_DATA(header));
    if (header->nlmsg_len < NLMSG_LENGTH(sizeof *entry) || entry->udiag_state != tcp_listen) {
        return listener_state::not_listening;
    }
    int left = static_cast<int>(header->nlmsg_len - NLMSG_LENGTH(sizeof *entry));
    bool bound_here = false;
    bool refuses = false;
    bool queue_full = false;
    // NLMSG_LENGTH keeps the attributes aligned, so they can be walked in place.
    for (auto* a = reinterpret_cast<const rtattr*>(reinterpret_cast<const char*>(entry) +
                                                   NLMSG_ALIGN(sizeof *entry));
         RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type == UNIX_DIAG_VFS && RTA_PAYLOAD(a) >= sizeof(unix_diag_vfs)) {
            unix_diag_vfs vfs;
            std::memcpy(&vfs, RTA_DATA(a), sizeof vfs);
            bound_here =
                vfs.udiag_vfs_ino == file.st_ino && same_device(vfs.udiag_vfs_dev, file.st_dev);
        } else if (a->rta_type == UNIX_DIAG_SHUTDOWN && RTA_PAYLOAD(a) >= 1) {
            // A single-instance pipe that has its client: it refuses every other.
            refuses = (*static_cast<const unsigned char*>(RTA_DATA(a)) & 1) != 0;
        } else if (a->rta_type == UNIX_DIAG_RQLEN && RTA_PAYLOAD(a) >= sizeof(unix_diag_rqlen)) {
            unix_diag_rqlen queue;
            std::memcpy(&queue, RTA_DATA(a), sizeof queue);
            // For a listener: clients waiting to be accepted, and the most it queues. The
            // kernel refuses a client only once the queue holds more than that.
            queue_full = queue.udiag_rqueue > queue.udiag_wqueue;
        }
    }
    if (!bound_here) return listener_state::not_listening;
    return refuses || queue_full ? listener_state::busy : listener_state::listening;
}

}  // namespace

listener_state socket_listener_state(const struct stat& file) {
    netlink_socket nl;
    if (nl.get() < 0 || !ask_for_listeners(nl.get())) return listener_state::unknown;
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(nl.get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return listener_state::unknown;
        // NLMSG_OK and NLMSG_NEXT compare signed with unsigned lengths; the same walk in
        // unsigned terms.
        auto left = static_cast<std::size_t>(n);
        const auto fits = [&left](const nlmsghdr* h) {
            return left >= sizeof(nlmsghdr) && h->nlmsg_len >= sizeof(nlmsghdr) &&
                   h->nlmsg_len <= left;
        };
        const auto next = [&left](const nlmsghdr* h) {
            const std::size_t step = std::min<std::size_t>(NLMSG_ALIGN(h->nlmsg_len), left);
            left -= step;
            return reinterpret_cast<const nlmsghdr*>(reinterpret_cast<const char*>(h) + step);
        };
        for (auto* h = reinterpret_cast<const nlmsghdr*>(buffer); fits(h); h = next(h)) {
            if (h->nlmsg_type == NLMSG_DONE) return listener_state::not_listening;
            if (h->nlmsg_type == NLMSG_ERROR) return listener_state::unknown;
            if (h->nlmsg_type != SOCK_DIAG_BY_FAMILY) continue;
            // The rest of the dump is dropped with the socket.
            const listener_state state = entry_state(h, file);
            if (state != listener_state::not_listening) return state;
        }
    }
}

std::optional<unsigned> tcp_socket_owner(std::uint32_t local_addr, std::uint16_t local_port,
                                         std::uint32_t remote_addr, std::uint16_t remote_port) {
    netlink_socket nl;
    if (nl.get() < 0) return std::nullopt;
    // One socket asked for by its addresses: the kernel looks it up, nothing is dumped.
    struct {
        nlmsghdr header;
        inet_diag_req_v2 request;
    } message{};
    message.header.nlmsg_len = sizeof message;
    message.header.nlmsg_type = SOCK_DIAG_BY_FAMILY;
    message.header.nlmsg_flags = NLM_F_REQUEST;
    message.request.sdiag_family = AF_INET;
    message.request.sdiag_protocol = IPPROTO_TCP;
    message.request.idiag_states = ~0u;
    message.request.id.idiag_sport = local_port;
    message.request.id.idiag_dport = remote_port;
    message.request.id.idiag_src[0] = local_addr;
    message.request.id.idiag_dst[0] = remote_addr;
    message.request.id.idiag_cookie[0] = INET_DIAG_NOCOOKIE;
    message.request.id.idiag_cookie[1] = INET_DIAG_NOCOOKIE;
    if (!send_to_kernel(nl.get(), &message, sizeof message)) return std::nullopt;
    alignas(nlmsghdr) char buffer[4096];
    ssize_t n;
    do {
        n = ::recv(nl.get(), buffer, sizeof buffer, 0);
    } while (n < 0 && errno == EINTR);
    const auto* h = reinterpret_cast<const nlmsghdr*>(buffer);
    if (n < static_cast<ssize_t>(NLMSG_LENGTH(sizeof(inet_diag_msg))) ||
        h->nlmsg_type != SOCK_DIAG_BY_FAMILY ||
        h->nlmsg_len < NLMSG_LENGTH(sizeof(inet_diag_msg)) ||
        h->nlmsg_len > static_cast<std::size_t>(n)) {
        return std::nullopt;
    }
    inet_diag_msg entry;
    std::memcpy(&entry, NLMSG_DATA(h), sizeof entry);
    return entry.idiag_uid;
}

}  // namespace platform
