// Loopback sockets on Winsock, against plain Winsock clients: waits that end by their
// deadlines, a read that another thread ends, who is at the other end, and the page
// server's first-line check and connection limit on top of them.
#include <winsock2.h>
#include <ws2tcpip.h>
// After winsock2.h.
#include <gtest/gtest.h>
#include <windows.h>

#include <string>
#include <thread>
#include <vector>

#include "platform/loopback_socket.h"
#include "tools/zorvexplorer/server/loopback_server.h"

namespace {

using namespace std::chrono_literals;
using platform::io_status;

// A blocking client socket, closed at the end of its scope.
class client {
  public:
    explicit client(int port) {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
        s_ = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<u_short>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (s_ != INVALID_SOCKET &&
            connect(s_, reinterpret_cast<const sockaddr*>(&a), sizeof a) != 0) {
            closesocket(s_);
            s_ = INVALID_SOCKET;
        }
    }
    ~client() {
        if (s_ != INVALID_SOCKET) closesocket(s_);
    }
    client(const client&) = delete;
    client& operator=(const client&) = delete;

    bool connected() const { return s_ != INVALID_SOCKET; }
    bool send_text(const std::string& text) const {
        return send(s_, text.data(), static_cast<int>(text.size()), 0) ==
               static_cast<int>(text.size());
    }
    /// What arrives until the server closes (true) or wait has passed (false).
    std::pair<std::string, bool> read_to_end(std::chrono::milliseconds wait) const {
        std::string in;
        const auto deadline = std::chrono::steady_clock::now() + wait;
        for (;;) {
            const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
                deadline - std::chrono::steady_clock::now());
            if (left.count() <= 0) return {in, false};
            WSAPOLLFD p{};
            p.fd = s_;
            p.events = POLLRDNORM;
            if (WSAPoll(&p, 1, static_cast<INT>(left.count())) <= 0) return {in, false};
            char buffer[4096];
            const int n = recv(s_, buffer, sizeof buffer, 0);
            if (n <= 0) return {in, true};
            in.append(buffer, static_cast<std::size_t>(n));
        }
    }

  private:
    SOCKET s_ = INVALID_SOCKET;
};

TEST(win32_loopback_socket, reads_and_writes_within_their_deadlines) {
    platform::loopback_listener l = platform::listen_on_loopback();
    ASSERT_GT(l.port, 0);
    EXPECT_FALSE(platform::accept_connection(l.socket, 50ms).valid()) << "nobody connected";
    const client c(l.port);
    ASSERT_TRUE(c.connected());
    const platform::tcp_socket s = platform::accept_connection(l.socket, 5s);
    ASSERT_TRUE(s.valid());

    char buffer[16];
    EXPECT_EQ(platform::read_some(s, buffer, sizeof buffer, 50ms).status, io_status::timed_out);
    ASSERT_TRUE(c.send_text("abc"));
    const platform::read_result r = platform::read_some(s, buffer, sizeof buffer, 5s);
    EXPECT_EQ(r.status, io_status::done);
    EXPECT_EQ(std::string(buffer, r.bytes), "abc");
    EXPECT_EQ(platform::write_all(s, "answer", 5s), io_status::done);
    // A peer that reads nothing: the write gives up when the buffers are full.
    const std::string big(64 << 20, 'x');
    EXPECT_EQ(platform::write_all(s, big, 200ms), io_status::timed_out);
}

TEST(win32_loopback_socket, a_closed_peer_and_a_shut_down_end_a_read) {
    for (const bool peer_closes : {true, false}) {
        SCOPED_TRACE(peer_closes ? "the peer closes" : "another thread shuts the socket down");
        platform::loopback_listener l = platform::listen_on_loopback();
        auto c = std::make_unique<client>(l.port);
        const platform::tcp_socket s = platform::accept_connection(l.socket, 5s);
        ASSERT_TRUE(s.valid());
        io_status seen = io_status::timed_out;
        std::thread reader([&] {
            char buffer[16];
            seen = platform::read_some(s, buffer, sizeof buffer, 30s).status;
        });
        if (peer_closes)
            c.reset();
        else
            s.shut_down();
        reader.join();
        EXPECT_EQ(seen, io_status::closed);
    }
}

TEST(win32_loopback_socket, names_the_same_user_for_two_connections_of_ours) {
    platform::loopback_listener l = platform::listen_on_loopback();
    const client first(l.port), second(l.port);
    const platform::tcp_socket a = platform::accept_connection(l.socket, 5s);
    const platform::tcp_socket b = platform::accept_connection(l.socket, 5s);
    ASSERT_TRUE(a.valid() && b.valid());
    const std::string user = platform::connection_peer_user(a);
    EXPECT_EQ(user, platform::connection_peer_user(b));
    // Where the system names the owner, it is a user's security identifier.
    if (!user.empty()) {
        EXPECT_TRUE(user.starts_with("sid S-1-")) << user;
    }
}

// A page server with a short first-line limit whose handler echoes the target.
struct echo_server {
    explicit echo_server(zorv::loopback_server_limits limits)
        : server(
              "/" + std::string(32, 'a') + "/",
              [](const zorv::http_request& r) {
                  return zorv::http_response{200, "text/plain", "seen " + r.target, {}};
              },
              nullptr, limits) {
        ok = server.listen();
        server.start();
    }
    zorv::loopback_server server;
    bool ok = false;
};

TEST(win32_loopback_server, answers_only_a_first_line_that_carries_the_token) {
    zorv::loopback_server_limits limits;
    limits.first_line = 500ms;
    echo_server e(limits);
    ASSERT_TRUE(e.ok);
    const std::string token = std::string(32, 'a');
    const struct {
        const char* what;
        std::string sent;
        const char* answer_starts;  // empty: closed without an answer
    } rows[] = {
        {"the token", "GET /" + token + "/x HTTP/1.1\r\nHost: h\r\n\r\n", "HTTP/1.1 200 "},
        {"no token", "GET /x HTTP/1.1\r\n", "HTTP/1.1 403 "},
        {"part of the token", "GET /" + token.substr(0, 20) + " HTTP/1.1\r\n", "HTTP/1.1 403 "},
        {"a first line that never ends", "GET /" + token + "/x", ""},
        {"nothing at all", "", ""},
    };
    for (const auto& r : rows) {
        SCOPED_TRACE(r.what);
        const client c(e.server.port());
        ASSERT_TRUE(c.connected());
        if (!r.sent.empty()) {
            ASSERT_TRUE(c.send_text(r.sent));
        }
        const auto [answer, closed] = c.read_to_end(10s);
        EXPECT_TRUE(closed) << "the server ends every connection";
        EXPECT_TRUE(answer.starts_with(r.answer_starts)) << answer;
        if (std::string_view(r.answer_starts).empty()) {
            EXPECT_EQ(answer, "");
        }
    }
}

TEST(win32_loopback_server, closes_a_users_connections_beyond_the_limit_as_they_come) {
    zorv::loopback_server_limits limits;
    limits.per_user = 3;
    limits.first_line = 30s;  // the held connections stay until the test ends them
    echo_server e(limits);
    ASSERT_TRUE(e.ok);
    std::vector<std::unique_ptr<client>> held;
    for (std::size_t i = 0; i < limits.per_user; ++i) {
        held.push_back(std::make_unique<client>(e.server.port()));
        ASSERT_TRUE(held.back()->connected());
    }
    // Accepted in turn: the extra connection is closed unanswered, while a held one is
    // still served.
    const client extra(e.server.port());
    const auto [nothing, closed] = extra.read_to_end(10s);
    EXPECT_TRUE(closed);
    EXPECT_EQ(nothing, "");
    ASSERT_TRUE(held.front()->send_text("GET /" + std::string(32, 'a') + "/held HTTP/1.1\r\n\r\n"));
    const auto [answer, ended] = held.front()->read_to_end(10s);
    EXPECT_TRUE(answer.starts_with("HTTP/1.1 200 ")) << answer;
    EXPECT_NE(answer.find("seen /" + std::string(32, 'a') + "/held"), std::string::npos);
}

}  // namespace
