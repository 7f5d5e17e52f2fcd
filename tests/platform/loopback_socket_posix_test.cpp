// Loopback sockets against plain POSIX clients: waits that end by their deadlines, a read
// that another thread ends, and the user the kernel names for the other end.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "platform/loopback_socket.h"
#include "tests/support/loopback_client.h"
#include "tests/support/second_user.h"

namespace platform {
namespace {

using namespace std::chrono_literals;

using test_support::connect_to_loopback;

TEST(loopback_socket, reads_and_writes_within_their_deadlines) {
    loopback_listener l = listen_on_loopback();
    ASSERT_GT(l.port, 0);
    EXPECT_FALSE(accept_connection(l.socket, 50ms).valid()) << "nobody connected";
    const int client = connect_to_loopback(l.port);
    ASSERT_GE(client, 0);
    const tcp_socket s = accept_connection(l.socket, 5s);
    ASSERT_TRUE(s.valid());
    EXPECT_EQ(connection_peer_user(s), "uid " + std::to_string(::geteuid()));

    char buffer[16];
    EXPECT_EQ(read_some(s, buffer, sizeof buffer, 50ms).status, io_status::timed_out);
    ASSERT_EQ(::send(client, "abc", 3, 0), 3);
    const read_result r = read_some(s, buffer, sizeof buffer, 5s);
    EXPECT_EQ(r.status, io_status::done);
    EXPECT_EQ(std::string(buffer, r.bytes), "abc");
    EXPECT_EQ(write_all(s, "answer", 5s), io_status::done);
    EXPECT_EQ(::recv(client, buffer, sizeof buffer, 0), 6);
    // A peer that reads nothing: the write gives up when the buffers are full.
    const std::string big(64 << 20, 'x');
    EXPECT_EQ(write_all(s, big, 200ms), io_status::timed_out);
    ::close(client);
    EXPECT_NE(read_some(s, buffer, sizeof buffer, 5s).status, io_status::timed_out);
}

TEST(loopback_socket, shut_down_ends_a_wait_in_another_thread) {
    loopback_listener l = listen_on_loopback();
    const int client = connect_to_loopback(l.port);
    const tcp_socket s = accept_connection(l.socket, 5s);
    ASSERT_TRUE(s.valid());
    const auto start = std::chrono::steady_clock::now();
    std::thread reader([&] {
        char buffer[16];
        EXPECT_EQ(read_some(s, buffer, sizeof buffer, 30s).status, io_status::closed);
    });
    std::this_thread::sleep_for(100ms);
    s.shut_down();
    reader.join();
    EXPECT_LT(std::chrono::steady_clock::now() - start, 10s);
    ::close(client);
}

TEST(loopback_socket, tells_another_users_connection_from_ours) {
    std::string why;
    const auto other = test_support::second_user(why);
    if (!other) GTEST_SKIP() << why;
    loopback_listener l = listen_on_loopback();
    std::string peer;
    std::thread server([&] {
        const tcp_socket s = accept_connection(l.socket, 10s);
        if (s.valid()) peer = connection_peer_user(s);
    });
    // The other user connects and waits until we close the connection.
    const int code = test_support::run_as(*other, [&] {
        const int fd = connect_to_loopback(l.port);
        if (fd < 0) return 1;
        pollfd p{fd, POLLIN, 0};
        ::poll(&p, 1, 10000);
        return 0;
    });
    server.join();
    EXPECT_EQ(code, 0);
    EXPECT_EQ(peer, "uid " + std::to_string(other->uid));
}

}  // namespace
}  // namespace platform
