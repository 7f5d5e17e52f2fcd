// Loopback TCP on Windows: Winsock, non-blocking sockets, each wait a WSAPoll with its
// deadline. The user at the other end: the owning process from the TCP table, and the
// user of that process's token. A process of another user cannot be opened without
// privileges; its connections count as of an unknown user.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h, which must come before windows.h.
#include <iphlpapi.h>
#include <sddl.h>
#include <windows.h>

#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/loopback_socket.h"

namespace platform {

namespace {

SOCKET sock_of(const tcp_socket& s) { return static_cast<SOCKET>(s.native()); }

tcp_socket own(SOCKET s) {
    return s == INVALID_SOCKET ? tcp_socket() : tcp_socket(static_cast<std::intptr_t>(s));
}

bool winsock_ready() {
    static std::once_flag once;
    static bool ready = false;
    std::call_once(once, [] {
        WSADATA data;
        ready = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    });
    return ready;
}

bool make_non_blocking(SOCKET s) {
    u_long on = 1;
    return ::ioctlsocket(s, FIONBIO, &on) == 0;
}

io_status wait_for(SOCKET s, SHORT events, std::chrono::milliseconds wait) {
    WSAPOLLFD p{};
    p.fd = s;
    p.events = events;
    const int n = ::WSAPoll(&p, 1, static_cast<INT>(std::max<long long>(wait.count(), 0)));
    if (n > 0) return io_status::done;
    return n == 0 ? io_status::timed_out : io_status::failed;
}

bool address_of(SOCKET s, bool peer, sockaddr_in& out) {
    int len = sizeof out;
    const int r = peer ? ::getpeername(s, reinterpret_cast<sockaddr*>(&out), &len)
                       : ::getsockname(s, reinterpret_cast<sockaddr*>(&out), &len);
    return r == 0 && out.sin_family == AF_INET;
}

// The process that owns the TCP connection from local to remote (network byte order).
DWORD connection_owner(const sockaddr_in& local, const sockaddr_in& remote) {
    std::vector<char> table(16 * 1024);
    for (int attempt = 0; attempt < 4; ++attempt) {
        DWORD size = static_cast<DWORD>(table.size());
        const DWORD r = ::GetExtendedTcpTable(table.data(), &size, FALSE, AF_INET,
                                              TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
        if (r == ERROR_INSUFFICIENT_BUFFER) {
            table.resize(size + 4096);
            continue;
        }
        if (r != NO_ERROR) return 0;
        const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
        for (DWORD i = 0; i < rows->dwNumEntries; ++i) {
            const MIB_TCPROW_OWNER_PID& row = rows->table[i];
            // The table keeps ports in the low 16 bits, in network order.
            if (row.dwLocalAddr == local.sin_addr.s_addr &&
                static_cast<u_short>(row.dwLocalPort) == local.sin_port &&
                row.dwRemoteAddr == remote.sin_addr.s_addr &&
                static_cast<u_short>(row.dwRemotePort) == remote.sin_port) {
                return row.dwOwningPid;
            }
        }
        return 0;
    }
    return 0;
}

std::string user_of_process(DWORD pid) {
    HANDLE process = ::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, pid);
    if (process == nullptr) return {};
    std::string out;
    HANDLE token = nullptr;
    if (::OpenProcessToken(process, TOKEN_QUERY, &token)) {
        DWORD size = 0;
        ::GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        std::vector<char> info(size);
        LPSTR sid_text = nullptr;
        if (size > 0 && ::GetTokenInformation(token, TokenUser, info.data(), size, &size) &&
            ::ConvertSidToStringSidA(reinterpret_cast<TOKEN_USER*>(info.data())->User.Sid,
                                     &sid_text)) {
            out = std::string("sid ") + sid_text;
            ::LocalFree(sid_text);
        }
        ::CloseHandle(token);
    }
    ::CloseHandle(process);
    return out;
}

}  // namespace

tcp_socket::~tcp_socket() {
    if (valid()) ::closesocket(sock_of(*this));
}

tcp_socket& tcp_socket::operator=(tcp_socket&& other) noexcept {
    if (this != &other) {
        if (valid()) ::closesocket(sock_of(*this));
        handle_ = other.release();
    }
    return *this;
}

void tcp_socket::shut_down() const {
    if (valid()) ::shutdown(sock_of(*this), SD_BOTH);
}

loopback_listener listen_on_loopback() {
    loopback_listener out;
    if (!winsock_ready()) return out;
    tcp_socket s = own(
        ::WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT));
    if (!s.valid()) return out;
    // No other socket may take over the port while we listen.
    BOOL exclusive = TRUE;
    ::setsockopt(sock_of(s), SOL_SOCKET, SO_EXCLUSIVEADDRUSE,
                 reinterpret_cast<const char*>(&exclusive), sizeof exclusive);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = 0;
    if (::bind(sock_of(s), reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0 ||
        ::listen(sock_of(s), SOMAXCONN) != 0 || !make_non_blocking(sock_of(s)) ||
        !address_of(sock_of(s), false, address)) {
        return out;
    }
    out.port = ntohs(address.sin_port);
    out.socket = std::move(s);
    return out;
}

tcp_socket accept_connection(const tcp_socket& listener, std::chrono::milliseconds wait) {
    if (wait_for(sock_of(listener), POLLRDNORM, wait) != io_status::done) return {};
    tcp_socket s = own(::accept(sock_of(listener), nullptr, nullptr));
    if (s.valid() && !make_non_blocking(sock_of(s))) return {};
    return s;
}

read_result read_some(const tcp_socket& connection, char* buffer, std::size_t size,
                      std::chrono::milliseconds wait) {
    const SOCKET s = sock_of(connection);
    const int chunk = static_cast<int>(std::min<std::size_t>(size, 1u << 30));
    const auto deadline = std::chrono::steady_clock::now() + wait;
    for (;;) {
        const int n = ::recv(s, buffer, chunk, 0);
        if (n > 0) return {io_status::done, static_cast<std::size_t>(n)};
        if (n == 0) return {io_status::closed, 0};
        const int error = ::WSAGetLastError();
        if (error == WSAECONNRESET || error == WSAESHUTDOWN) return {io_status::closed, 0};
        if (error != WSAEWOULDBLOCK) return {io_status::failed, 0};
        const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
            deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0) return {io_status::timed_out, 0};
        const io_status st = wait_for(s, POLLRDNORM, left);
        if (st != io_status::done) return {st, 0};
    }
}

io_status write_all(const tcp_socket& connection, std::string_view data,
                    std::chrono::milliseconds wait) {
    const SOCKET s = sock_of(connection);
    while (!data.empty()) {
        const int chunk = static_cast<int>(std::min<std::size_t>(data.size(), 1u << 20));
        const int n = ::send(s, data.data(), chunk, 0);
        if (n > 0) {
            data.remove_prefix(static_cast<std::size_t>(n));
            continue;
        }
        const int error = ::WSAGetLastError();
        if (error == WSAECONNRESET || error == WSAECONNABORTED || error == WSAESHUTDOWN)
            return io_status::closed;
        if (error != WSAEWOULDBLOCK) return io_status::failed;
        const io_status st = wait_for(s, POLLWRNORM, wait);
        if (st != io_status::done) return st;
    }
    return io_status::done;
}

std::string connection_peer_user(const tcp_socket& connection) {
    sockaddr_in ours{};
    sockaddr_in theirs{};
    if (!address_of(sock_of(connection), false, ours) ||
        !address_of(sock_of(connection), true, theirs)) {
        return {};
    }
    // The peer's connection: its own end is our peer address, its peer is us.
    const DWORD pid = connection_owner(theirs, ours);
    return pid == 0 ? std::string() : user_of_process(pid);
}

}  // namespace platform
