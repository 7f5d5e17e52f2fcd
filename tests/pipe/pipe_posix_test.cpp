#include <arpa/inet.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "platform/pipe.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::connect_status;
using platform::io_status;
using platform::pipe;
using platform::pipe_open;

platform::pipe_server_options options(int instances = 1) {
    platform::pipe_server_options o;
    o.max_instances = instances;
    return o;
}
const auto unlimited = options(platform::unlimited_instances);

std::string socket_path(std::string_view name) {
    return platform::pipe_socket_path(name, platform::pipe_directory());
}

/// Every test gets its own pipe directory; SIGALRM ends one that hangs.
class pipes : public ::testing::Test {
  protected:
    void SetUp() override { alarm(60); }
    void TearDown() override { alarm(0); }
    test_support::sandbox box_;
};

struct connected {
    pipe server, client;
};

connected connect_pair(std::string_view name) {
    connected c{pipe::create_server(name, options()), pipe::open(name, pipe_open::read_write)};
    EXPECT_TRUE(c.client.valid());
    if (c.client.valid()) {
        EXPECT_EQ(c.server.wait_for_client(), connect_status::connected);
    }
    return c;
}

std::string read_message(pipe& p) {
    std::string text;
    char buffer[4096];
    for (;;) {
        auto r = p.read(buffer, 4095);
        if (r.status == io_status::failed) return text;
        text.append(buffer, r.count);
        if (r.status == io_status::ok) return text;
    }
}

/// A socket that speaks the wire format by hand; listen_too leaves a dead server's file.
int raw_socket(const std::string& path, bool listen_too = false) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    auto* a = reinterpret_cast<sockaddr*>(&addr);
    const bool ok = listen_too ? bind(fd, a, sizeof addr) == 0 && listen(fd, 1) == 0
                               : connect(fd, a, sizeof addr) == 0;
    if (!ok || listen_too) close(fd);
    return ok ? (listen_too ? 0 : fd) : -1;
}

TEST_F(pipes, message_reads_keep_boundaries_and_report_more_data) {
    const std::size_t sizes[] = {5, 0, 4095, 4096, 8191, 1};
    for (bool from_server : {true, false}) {
        SCOPED_TRACE(from_server ? "server writes" : "client writes");
        auto c = connect_pair(R"(\\.\pipe\t\boundaries)");
        ASSERT_TRUE(c.client.set_message_read_mode());
        pipe& writer = from_server ? c.server : c.client;
        pipe& reader = from_server ? c.client : c.server;
        for (std::size_t i = 0; i < std::size(sizes); ++i)
            ASSERT_TRUE(writer.write(std::string(sizes[i], static_cast<char>('a' + i))));
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
            SCOPED_TRACE(sizes[i]);
            std::string got;
            std::vector<io_status> statuses;
            char buffer[4095];
            do {
                auto r = reader.read(buffer, sizeof buffer);
                statuses.push_back(r.status);
                got.append(buffer, r.count);
            } while (statuses.back() == io_status::more_data);
            EXPECT_EQ(got, std::string(sizes[i], static_cast<char>('a' + i)));
            // One read per started 4095 bytes, all but the last reporting more data.
            std::vector<io_status> expected(std::max<std::size_t>(1, (sizes[i] + 4094) / 4095),
                                            io_status::more_data);
            expected.back() = io_status::ok;
            EXPECT_EQ(statuses, expected);
        }
    }
}

TEST_F(pipes, a_sixteen_mebibyte_message_arrives_whole) {
    auto c = connect_pair(R"(\\.\pipe\t\big)");
    ASSERT_TRUE(c.client.set_message_read_mode());
    std::string big(16u << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4099);
    auto writer = std::async(std::launch::async, [&] {
        EXPECT_TRUE(c.server.write(big));
        EXPECT_TRUE(c.server.write("after"));
    });
    EXPECT_TRUE(read_message(c.client) == big);
    EXPECT_EQ(read_message(c.client), "after");
    ASSERT_EQ(writer.wait_for(10s), std::future_status::ready);
}

TEST_F(pipes, a_broken_connection_fails_reads_and_writes_without_sigpipe) {
    const std::string name = R"(\\.\pipe\t\broken)";
    for (const bool cut_message : {false, true}) {
        pipe server = pipe::create_server(name, options());
        int fd = raw_socket(socket_path(name));
        ASSERT_GE(fd, 0);
        if (cut_message) {
            const std::uint32_t length = htonl(10);
            ASSERT_EQ(send(fd, &length, 4, 0), 4);
            ASSERT_EQ(send(fd, "abc", 3, 0), 3);
        }
        close(fd);
        EXPECT_EQ(server.wait_for_client(), connect_status::connected);
        char buffer[16];
        EXPECT_EQ(server.read(buffer, sizeof buffer).status, io_status::failed) << cut_message;
        EXPECT_FALSE(server.write("late answer"));
    }
}

TEST_F(pipes, a_single_instance_pipe_takes_one_client) {
    const std::string name = R"(\\.\pipe\t\single)";
    pipe server = pipe::create_server(name, options());
    ASSERT_TRUE(server.valid());
    pipe first = pipe::open(name, pipe_open::read_write);
    ASSERT_TRUE(first.valid());
    EXPECT_FALSE(pipe::open(name, pipe_open::read_write).valid()) << "before the accept";
    ASSERT_EQ(server.wait_for_client(), connect_status::connected);
    EXPECT_FALSE(pipe::open(name, pipe_open::read_write).valid()) << "after the accept";
    EXPECT_FALSE(pipe::create_server(name, options()).valid()) << "its instance still exists";
    ASSERT_TRUE(first.write("still served"));
    EXPECT_EQ(read_message(server), "still served");
}

TEST_F(pipes, a_live_name_is_refused_and_a_dead_servers_file_replaced) {
    const std::string name = R"(\\.\pipe\t\held)";
    pipe first = pipe::create_server(name, options());
    ASSERT_TRUE(first.valid());
    EXPECT_FALSE(pipe::create_server(name, unlimited).valid());
    first.close();
    EXPECT_FALSE(fs::exists(socket_path(name))) << "the last instance removes its file";

    ASSERT_EQ(raw_socket(socket_path(name), true), 0);
    ASSERT_TRUE(fs::is_socket(socket_path(name)));
    EXPECT_FALSE(platform::wait_named_pipe(name, 0));
    auto c = connect_pair(name);
    ASSERT_TRUE(c.client.write("new server"));
    EXPECT_EQ(read_message(c.server), "new server");
}

TEST_F(pipes, wait_named_pipe_answers_at_once_and_never_connects) {
    const std::string name = R"(\\.\pipe\t\wait)";
    pipe server = pipe::create_server(name, options());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(platform::wait_named_pipe(name, 10000));
    EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    // Had the wait connected, it would hold the single place.
    pipe client = pipe::open(name, pipe_open::read_write);
    ASSERT_TRUE(client.valid() && client.write("first"));
    ASSERT_EQ(server.wait_for_client(), connect_status::connected);
    EXPECT_EQ(read_message(server), "first");
}

TEST_F(pipes, a_peer_of_another_user_is_dropped_and_the_server_waits_on) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    const std::string name = R"(\\.\pipe\t\stranger)";
    const std::string path = socket_path(name);
    pipe server = pipe::create_server(name, unlimited);
    ASSERT_TRUE(server.valid());
    // Let the stranger reach the socket at all; the server must still refuse it.
    ASSERT_EQ(chmod(box_.root().c_str(), 0711), 0);
    ASSERT_EQ(chmod(box_.pipe_dir().c_str(), 0711), 0);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    pid_t child = fork();
    if (child == 0) {
        alarm(30);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        int fd = raw_socket(path);
        if (fd < 0) _exit(4);
        const std::uint32_t length = htonl(5);
        send(fd, &length, 4, MSG_NOSIGNAL);
        send(fd, "intru", 5, MSG_NOSIGNAL);
        char c;
        _exit(recv(fd, &c, 1, 0) <= 0 ? 0 : 5);  // dropped: end of stream
    }
    ASSERT_GT(child, 0);
    auto accepted = std::async(std::launch::async, [&] { return server.wait_for_client(); });
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
    EXPECT_EQ(accepted.wait_for(0s), std::future_status::timeout) << "the stranger counted";

    ASSERT_EQ(chmod(box_.pipe_dir().c_str(), 0700), 0);
    pipe client = pipe::open(name, pipe_open::read_write);
    ASSERT_TRUE(client.valid() && client.write("owner"));
    ASSERT_EQ(accepted.wait_for(10s), std::future_status::ready);
    EXPECT_EQ(accepted.get(), connect_status::connected);
    EXPECT_EQ(read_message(server), "owner");
}

TEST_F(pipes, a_pipe_directory_that_others_could_reach_is_refused) {
    const std::string name = R"(\\.\pipe\t\dir)";
    const fs::path good = box_.pipe_dir();
    pipe server = pipe::create_server(name, unlimited);
    ASSERT_TRUE(server.valid());
    const fs::path link = box_.root() / "link";
    fs::create_directory_symlink(good, link);
    struct dir_case {
        fs::path dir;
        mode_t mode;  // given to the good directory for the case
        bool others_owner;
    };
    std::vector<dir_case> cases = {
        {link, 0700, false}, {good, 0740, false}, {good, 0701, false}, {good, 0777, false}};
    if (geteuid() == 0) cases.push_back({good, 0700, true});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.dir.string() + " " + std::to_string(c.mode) + " " +
                     std::to_string(c.others_owner));
        ASSERT_EQ(chmod(good.c_str(), c.mode), 0);
        if (c.others_owner) {
            ASSERT_EQ(chown(good.c_str(), 65534, 65534), 0);
        }
        setenv("VARNEX_PIPE_DIR", c.dir.c_str(), 1);
        EXPECT_FALSE(pipe::open(name, pipe_open::read_write).valid());
        EXPECT_FALSE(platform::wait_named_pipe(name, 0));
        EXPECT_FALSE(pipe::create_server(R"(\\.\pipe\t\other)", options()).valid());
        setenv("VARNEX_PIPE_DIR", good.c_str(), 1);
        ASSERT_EQ(chmod(good.c_str(), 0700), 0);
        if (c.others_owner) {
            ASSERT_EQ(chown(good.c_str(), geteuid(), getegid()), 0);
        }
        EXPECT_TRUE(platform::wait_named_pipe(name, 0)) << "the good directory again";
    }
}

TEST_F(pipes, a_missing_pipe_directory_is_created_private) {
    const fs::path dir = box_.root() / "fresh";
    setenv("VARNEX_PIPE_DIR", dir.c_str(), 1);
    ASSERT_TRUE(pipe::create_server(R"(\\.\pipe\t\fresh)", options()).valid());
    struct stat st {};
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

}  // namespace
