// bare_relay SOCKET_PATH: the same three-process protocol as the relay service with nothing
// else, as the bench's yardstick for throughput. It listens at SOCKET_PATH (front ends
// connect there), forks a client process, and for every front end binds a new pair of
// abstract sockets, announces their names to the client over one connection, and relays
// the request and the answer on a new thread. Prints "ready" once it listens.
#include <arpa/inet.h>
#include <sys/socket.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/xmlrpc_answers.h"

namespace {

constexpr std::string_view answer = test_support::true_answer;

bool read_exact(int fd, void* buffer, std::size_t n) {
    auto* p = static_cast<char*>(buffer);
    while (n > 0) {
        const ssize_t got = ::recv(fd, p, n, 0);
        if (got <= 0) return false;
        p += got;
        n -= static_cast<std::size_t>(got);
    }
    return true;
}

bool read_message(int fd, std::vector<char>& out) {
    std::uint32_t length = 0;
    if (!read_exact(fd, &length, 4)) return false;
    out.resize(ntohl(length));
    return read_exact(fd, out.data(), out.size());
}

bool write_message(int fd, std::string_view head, const char* body, std::size_t size) {
    const std::uint32_t length = htonl(static_cast<std::uint32_t>(head.size() + size));
    iovec parts[3] = {{const_cast<std::uint32_t*>(&length), 4},
                      {const_cast<char*>(head.data()), head.size()},
                      {const_cast<char*>(body), size}};
    std::size_t left = 4 + head.size() + size;
    iovec* next = parts;
    int count = 3;
    while (left > 0) {
        msghdr msg{};
        msg.msg_iov = next;
        msg.msg_iovlen = static_cast<std::size_t>(count);
        ssize_t n = ::sendmsg(fd, &msg, MSG_NOSIGNAL);
        if (n <= 0) return false;
        left -= static_cast<std::size_t>(n);
        while (count > 0 && static_cast<std::size_t>(n) >= next->iov_len) {
            n -= static_cast<ssize_t>(next->iov_len);
            ++next;
            --count;
        }
        if (count > 0) {
            next->iov_base = static_cast<char*>(next->iov_base) + n;
            next->iov_len -= static_cast<std::size_t>(n);
        }
    }
    return true;
}

socklen_t address(const std::string& name, bool abstract, sockaddr_un& addr) {
    std::memset(&addr, 0, sizeof addr);
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path + (abstract ? 1 : 0), name.data(), name.size());
    return abstract ? static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size())
                    : static_cast<socklen_t>(sizeof addr);
}

int listen_at(const std::string& name, bool abstract, int backlog) {
    sockaddr_un addr;
    const socklen_t length = address(name, abstract, addr);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 || ::listen(fd, backlog) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

int connect_to(const std::string& name) {
    sockaddr_un addr;
    const socklen_t length = address(name, true, addr);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

void serve_pair(std::string request_name, std::string response_name) {
    const int request = connect_to(request_name);
    const int response = connect_to(response_name);
    std::vector<char> message;
    if (request >= 0 && response >= 0 && read_message(request, message)) {
        (void)write_message(response, answer, nullptr, 0);
    }
    ::close(request);
    ::close(response);
}

[[noreturn]] void run_client(int wrapper) {
    std::vector<char> announcement;
    while (read_message(wrapper, announcement)) {
        const std::string text(announcement.begin(), announcement.end());
        const std::size_t first = text.find('\n');
        std::thread(serve_pair, text.substr(0, first),
                    text.substr(first + 1, text.size() - first - 2))
            .detach();
    }
    ::_exit(0);
}

void relay(int front_end, int request_listener, int response_listener) {
    const int request = ::accept4(request_listener, nullptr, nullptr, SOCK_CLOEXEC);
    const int response = ::accept4(response_listener, nullptr, nullptr, SOCK_CLOEXEC);
    ::close(request_listener);
    ::close(response_listener);
    std::vector<char> body, reply;
    if (read_message(front_end, body)) {
        char head[64];
        const int head_size = std::snprintf(
            head, sizeof head, "POST /RPC2 HTTP/1.1\r\nContent-Length: %zu\r\n\r\n", body.size());
        if (write_message(request, std::string_view(head, static_cast<std::size_t>(head_size)),
                          body.data(), body.size()) &&
            read_message(response, reply)) {
            (void)write_message(front_end, {}, reply.data(), reply.size());
        }
    }
    for (int fd : {front_end, request, response}) ::close(fd);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return 2;
    int wrapper[2];
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, wrapper) != 0) return 1;
    if (::fork() == 0) {
        ::close(wrapper[0]);
        run_client(wrapper[1]);
    }
    ::close(wrapper[1]);
    ::unlink(argv[1]);
    const int listener = listen_at(argv[1], false, SOMAXCONN);
    if (listener < 0) return 1;
    std::printf("ready\n");
    std::fflush(stdout);
    const std::string prefix = "bare_relay." + std::to_string(::getpid()) + ".";
    for (std::uint64_t n = 0;; ++n) {
        const int front_end = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        if (front_end < 0) continue;
        const std::string request_name = prefix + std::to_string(n) + "q";
        const std::string response_name = prefix + std::to_string(n) + "r";
        const int request_listener = listen_at(request_name, true, 0);
        const int response_listener = listen_at(response_name, true, 0);
        const std::string announcement = request_name + "\n" + response_name + "\n";
        if (request_listener < 0 || response_listener < 0 ||
            !write_message(wrapper[0], announcement, nullptr, 0)) {
            return 1;
        }
        std::thread(relay, front_end, request_listener, response_listener).detach();
    }
}
