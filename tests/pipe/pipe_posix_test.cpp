#include <arpa/inet.h>
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/fsuid.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <future>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "platform/pipe.h"
#include "platform/process.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::connect_status;
using platform::io_status;
using platform::pipe;
using platform::pipe_access;
using platform::pipe_open;
using platform::pipe_server_options;

constexpr auto deadline = 10s;

pipe_server_options single(pipe_access access = pipe_access::duplex) {
    pipe_server_options o;
    o.access = access;
    return o;
}

pipe_server_options unlimited() {
    pipe_server_options o;
    o.max_instances = platform::unlimited_instances;
    return o;
}

std::string socket_path(std::string_view name) {
    return platform::pipe_socket_path(name, platform::pipe_directory());
}

/// Every test gets its own pipe directory; SIGALRM ends a test that hangs despite the
/// deadlines below.
class pipes : public ::testing::Test {
  protected:
    void SetUp() override { alarm(60); }
    void TearDown() override { alarm(0); }

    test_support::sandbox box_;
};

struct connected {
    pipe server;
    pipe client;
};

connected connect_pair(std::string_view name, const pipe_server_options& options,
                       pipe_open access = pipe_open::read_write) {
    connected c;
    c.server = pipe::create_server(name, options);
    EXPECT_TRUE(c.server.valid());
    c.client = pipe::open(name, access);
    EXPECT_TRUE(c.client.valid());
    if (c.client.valid()) {
        EXPECT_EQ(c.server.wait_for_client(), connect_status::connected);
    }
    return c;
}

/// One whole message, read in chunks of at most 4095 bytes.
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

/// A connected socket that speaks the wire format by hand.
int raw_connect(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

/// A socket file left behind by a server that has gone.
void leave_stale_socket(const std::string& path) {
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(listen(fd, 1), 0);
    close(fd);
    ASSERT_TRUE(fs::is_socket(path));
}

bool arrives_within(std::future<void>& f) {
    return f.wait_for(deadline) == std::future_status::ready;
}

TEST_F(pipes, message_reads_keep_boundaries_and_report_more_data) {
    // Message sizes around the 4095-byte reads of the relay, in both directions.
    const std::size_t sizes[] = {5, 0, 4095, 4096, 8191, 1, 0};
    for (bool from_server : {true, false}) {
        SCOPED_TRACE(from_server ? "server writes" : "client writes");
        auto c = connect_pair(R"(\\.\pipe\t\boundaries)", single());
        ASSERT_TRUE(c.client.set_message_read_mode());
        pipe& writer = from_server ? c.server : c.client;
        pipe& reader = from_server ? c.client : c.server;
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
            ASSERT_TRUE(writer.write(std::string(sizes[i], static_cast<char>('a' + i))));
        }
        for (std::size_t i = 0; i < std::size(sizes); ++i) {
            SCOPED_TRACE(sizes[i]);
            std::string got;
            std::vector<io_status> statuses;
            char buffer[4095];
            for (;;) {
                auto r = reader.read(buffer, sizeof buffer);
                statuses.push_back(r.status);
                got.append(buffer, r.count);
                if (r.status != io_status::more_data) break;
            }
            EXPECT_EQ(got, std::string(sizes[i], static_cast<char>('a' + i)));
            // One read per started 4095 bytes, every one but the last reporting more data.
            const std::size_t reads = sizes[i] == 0 ? 1 : (sizes[i] + 4094) / 4095;
            std::vector<io_status> expected(reads, io_status::more_data);
            expected.back() = io_status::ok;
            EXPECT_EQ(statuses, expected);
        }
        c.server.close();
        EXPECT_EQ(c.client.read(nullptr, 0).status, io_status::failed);
    }
}

TEST_F(pipes, a_sixteen_mebibyte_message_arrives_whole) {
    auto c = connect_pair(R"(\\.\pipe\t\big)", single());
    ASSERT_TRUE(c.client.set_message_read_mode());
    std::string big(16u << 20, '\0');
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7 + i / 4099);
    auto writer = std::async(std::launch::async, [&] {
        EXPECT_TRUE(c.server.write(big));
        EXPECT_TRUE(c.server.write("after"));
    });
    EXPECT_TRUE(read_message(c.client) == big);
    EXPECT_EQ(read_message(c.client), "after");
    ASSERT_TRUE(arrives_within(writer));
}

TEST_F(pipes, byte_mode_reads_give_bytes_and_never_more_data) {
    auto c = connect_pair(R"(\\.\pipe\t\bytes)", single());
    ASSERT_TRUE(c.server.write("hello"));
    ASSERT_TRUE(c.server.write(""));
    ASSERT_TRUE(c.server.write("world!"));
    ASSERT_TRUE(c.server.write(std::string(1024, 'r')));
    struct step {
        std::size_t ask;
        std::string expected;
    };
    const step steps[] = {
        {3, "hel"},
        {1023, "lo"},
        {1023, "world!"},  // the empty message gives nothing
        {1023, std::string(1023, 'r')},
        {1023, "r"},
    };
    for (const auto& s : steps) {
        std::string buffer(s.ask, '\0');
        auto r = c.client.read(buffer.data(), s.ask);
        EXPECT_EQ(r.status, io_status::ok) << s.expected;
        EXPECT_EQ(buffer.substr(0, r.count), s.expected);
    }
}

TEST_F(pipes, a_reply_written_before_the_disconnect_stays_readable) {
    // The relay writes, flushes, disconnects and closes before the front end reads.
    auto c = connect_pair(R"(\\.\pipe\t\reply)", single());
    ASSERT_TRUE(c.client.write("request"));
    EXPECT_EQ(read_message(c.server), "request");
    ASSERT_TRUE(c.server.write("reply"));
    EXPECT_TRUE(c.server.flush());
    c.server.disconnect();
    c.server.close();
    char buffer[1024] = {};
    auto r = c.client.read(buffer, 1023);
    EXPECT_EQ(r.status, io_status::ok);
    EXPECT_EQ(std::string(buffer, r.count), "reply");
    EXPECT_EQ(c.client.read(buffer, 1023).status, io_status::failed);
}

TEST_F(pipes, broken_connections_fail_reads_and_writes) {
    struct broken_case {
        const char* what;
        void (*act)(const std::string& path, pipe& server);
    };
    const broken_case cases[] = {
        {"client closed without writing",
         [](const std::string& path, pipe& server) {
             close(raw_connect(path));
             EXPECT_EQ(server.wait_for_client(), connect_status::connected);
         }},
        {"message cut in the middle",
         [](const std::string& path, pipe& server) {
             int fd = raw_connect(path);
             const std::uint32_t length = htonl(10);
             ASSERT_EQ(send(fd, &length, 4, 0), 4);
             ASSERT_EQ(send(fd, "abc", 3, 0), 3);
             close(fd);
             EXPECT_EQ(server.wait_for_client(), connect_status::connected);
         }},
        {"header cut in the middle",
         [](const std::string& path, pipe& server) {
             int fd = raw_connect(path);
             ASSERT_EQ(send(fd, "\0\0", 2, 0), 2);
             close(fd);
             EXPECT_EQ(server.wait_for_client(), connect_status::connected);
         }},
        {"server disconnected",
         [](const std::string& path, pipe& server) {
             int fd = raw_connect(path);
             EXPECT_EQ(server.wait_for_client(), connect_status::connected);
             server.disconnect();
             close(fd);
         }},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string name = R"(\\.\pipe\t\broken)";
        pipe server = pipe::create_server(name, single());
        ASSERT_TRUE(server.valid());
        c.act(socket_path(name), server);
        char buffer[16];
        EXPECT_EQ(server.read(buffer, sizeof buffer).status, io_status::failed);
        // No SIGPIPE either: the test would die of it.
        EXPECT_FALSE(server.write("late answer"));
    }
}

TEST_F(pipes, a_single_instance_pipe_takes_one_client) {
    const std::string name = R"(\\.\pipe\t\single)";
    pipe server = pipe::create_server(name, single());
    ASSERT_TRUE(server.valid());
    pipe first = pipe::open(name, pipe_open::read_write);
    ASSERT_TRUE(first.valid());
    EXPECT_FALSE(pipe::open(name, pipe_open::read_write).valid()) << "before the accept";
    ASSERT_EQ(server.wait_for_client(), connect_status::connected);
    EXPECT_FALSE(pipe::open(name, pipe_open::read_write).valid()) << "after the accept";
    EXPECT_FALSE(platform::wait_named_pipe(name, 0));
    EXPECT_FALSE(pipe::create_server(name, single()).valid()) << "its instance still exists";
    // A second wait reports the client that is already there.
    EXPECT_EQ(server.wait_for_client(), connect_status::connected);
    ASSERT_TRUE(first.write("still served"));
    EXPECT_EQ(read_message(server), "still served");
}

TEST_F(pipes, instances_of_one_name_must_agree_and_stay_within_their_count) {
    const std::string name = R"(\\.\pipe\t\count)";
    pipe_server_options two = unlimited();
    two.max_instances = 2;
    pipe a = pipe::create_server(name, two);
    pipe b = pipe::create_server(name, two);
    EXPECT_TRUE(a.valid());
    EXPECT_TRUE(b.valid());
    EXPECT_FALSE(pipe::create_server(name, two).valid()) << "a third";
    EXPECT_FALSE(pipe::create_server(name, unlimited()).valid()) << "another count";
    b.close();
    EXPECT_TRUE(pipe::create_server(name, two).valid()) << "a freed place";
}

TEST_F(pipes, access_limits_what_each_end_may_do) {
    auto out = connect_pair(R"(\\.\pipe\t\out)", single(pipe_access::outbound), pipe_open::read);
    char buffer[8];
    EXPECT_EQ(out.server.read(buffer, sizeof buffer).status, io_status::failed);
    EXPECT_FALSE(out.client.write("x"));
    EXPECT_TRUE(out.server.write("x"));

    auto in = connect_pair(R"(\\.\pipe\t\in)", single(pipe_access::inbound), pipe_open::write);
    EXPECT_FALSE(in.server.write("x"));
    EXPECT_EQ(in.client.read(buffer, sizeof buffer).status, io_status::failed);
    EXPECT_TRUE(in.client.write("x"));
}

/// A server of the name in a child process, until the returned descriptor is closed.
pid_t server_in_child(const std::string& name, int& release_fd) {
    int ready[2], release[2];
    if (::pipe(ready) != 0 || ::pipe(release) != 0) return -1;
    pid_t pid = fork();
    if (pid == 0) {
        alarm(30);
        close(ready[0]);
        close(release[1]);
        pipe server = pipe::create_server(name, single());
        char c = server.valid() ? 'r' : 'f';
        if (write(ready[1], &c, 1) != 1) _exit(2);
        while (read(release[0], &c, 1) > 0) {
        }
        _exit(0);  // no clean-up: the socket file stays behind as a dead server's would
    }
    close(ready[1]);
    close(release[0]);
    release_fd = release[1];
    char c = 0;
    const bool ok = read(ready[0], &c, 1) == 1 && c == 'r';
    close(ready[0]);
    return ok ? pid : -1;
}

TEST_F(pipes, a_name_held_by_a_live_server_is_refused_and_a_dead_ones_file_replaced) {
    const std::string name = R"(\\.\pipe\t\held)";
    int release = -1;
    pid_t child = server_in_child(name, release);
    ASSERT_GT(child, 0);
    EXPECT_FALSE(pipe::create_server(name, single()).valid());
    EXPECT_FALSE(pipe::create_server(name, unlimited()).valid());
    EXPECT_TRUE(platform::wait_named_pipe(name, 0));

    close(release);
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(fs::is_socket(socket_path(name))) << "the dead server's file";
    EXPECT_FALSE(platform::wait_named_pipe(name, 0));
    auto c = connect_pair(name, single());
    ASSERT_TRUE(c.client.write("new server"));
    EXPECT_EQ(read_message(c.server), "new server");
}

TEST_F(pipes, a_name_held_in_this_process_is_refused) {
    const std::string name = R"(\\.\pipe\t\mine)";
    pipe first = pipe::create_server(name, single());
    ASSERT_TRUE(first.valid());
    EXPECT_FALSE(pipe::create_server(name, single()).valid());
    first.close();
    EXPECT_FALSE(fs::exists(socket_path(name))) << "the last instance removes its file";
    EXPECT_TRUE(pipe::create_server(name, single()).valid());
}

TEST_F(pipes, closing_the_last_instance_leaves_another_servers_file_alone) {
    const std::string name = R"(\\.\pipe\t\replaced)";
    const std::string path = socket_path(name);
    pipe server = pipe::create_server(name, single());
    ASSERT_TRUE(server.valid());
    ASSERT_EQ(unlink(path.c_str()), 0);
    leave_stale_socket(path);
    server.close();
    EXPECT_TRUE(fs::is_socket(path));
}

TEST_F(pipes, wait_named_pipe_answers_at_once_and_never_connects) {
    const std::string name = R"(\\.\pipe\t\wait)";
    const auto path = socket_path(name);
    struct wait_case {
        const char* what;
        bool expected;
    };
    pipe server;
    for (const wait_case& c : {wait_case{"no server", false}, wait_case{"stale file", false},
                               wait_case{"live server", true}}) {
        SCOPED_TRACE(c.what);
        if (c.expected) {
            server = pipe::create_server(name, single());
            ASSERT_TRUE(server.valid());
        } else if (std::string(c.what) == "stale file") {
            leave_stale_socket(path);
        }
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(platform::wait_named_pipe(name, 10000), c.expected);
        EXPECT_LT(std::chrono::steady_clock::now() - start, 1s);
    }
    // A connection made by the wait would hold the single place: the real client would be
    // refused, or the server would accept the wait's connection first.
    pipe client = pipe::open(name, pipe_open::read_write);
    ASSERT_TRUE(client.valid());
    ASSERT_TRUE(client.write("first"));
    ASSERT_EQ(server.wait_for_client(), connect_status::connected);
    EXPECT_EQ(read_message(server), "first");
}

TEST_F(pipes, a_peer_of_another_user_is_dropped_and_the_server_waits_on) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    const std::string name = R"(\\.\pipe\t\stranger)";
    const std::string path = socket_path(name);
    pipe server = pipe::create_server(name, unlimited());
    ASSERT_TRUE(server.valid());
    // Let the stranger reach the socket at all; the server must still refuse it.
    const auto dir = box_.pipe_dir();
    ASSERT_EQ(chmod(box_.root().c_str(), 0711), 0);
    ASSERT_EQ(chmod(dir.c_str(), 0711), 0);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);
    pid_t child = fork();
    if (child == 0) {
        alarm(30);
        if (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0) _exit(3);
        int fd = raw_connect(path);
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

    ASSERT_EQ(chmod(dir.c_str(), 0700), 0);
    pipe client = pipe::open(name, pipe_open::read_write);
    ASSERT_TRUE(client.valid());
    ASSERT_TRUE(client.write("owner"));
    ASSERT_EQ(accepted.wait_for(deadline), std::future_status::ready);
    EXPECT_EQ(accepted.get(), connect_status::connected);
    EXPECT_EQ(read_message(server), "owner");
}

TEST_F(pipes, a_client_refuses_a_server_of_another_user_and_sends_nothing) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to become another user";
    const std::string name = R"(\\.\pipe\t\impostor)";
    const std::string path = socket_path(name);
    int ready[2];
    ASSERT_EQ(::pipe(ready), 0);
    pid_t child = fork();
    if (child == 0) {
        alarm(30);
        close(ready[0]);
        // Listen as user 65534 but keep file access as root, to bind in our private
        // directory: the listener's credentials are what the client checks.
        if (setgroups(0, nullptr) != 0 || setresgid(65534, 65534, 0) != 0 ||
            setresuid(65534, 65534, 0) != 0) {
            _exit(3);
        }
        setfsuid(0);
        int fd = socket(AF_UNIX, SOCK_STREAM, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
        if (bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 1) != 0) {
            _exit(4);
        }
        if (write(ready[1], "r", 1) != 1) _exit(5);
        int conn = accept(fd, nullptr, nullptr);
        char c;
        _exit(conn >= 0 && recv(conn, &c, 1, 0) == 0 ? 0 : 6);  // closed, nothing sent
    }
    ASSERT_GT(child, 0);
    close(ready[1]);
    char c = 0;
    ASSERT_EQ(read(ready[0], &c, 1), 1);
    close(ready[0]);
    EXPECT_FALSE(pipe::open(name, pipe_open::read_write).valid());
    int status = -1;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
}

TEST_F(pipes, a_pipe_directory_that_others_could_reach_is_refused) {
    const std::string name = R"(\\.\pipe\t\dir)";
    const fs::path good = box_.pipe_dir();
    pipe server = pipe::create_server(name, unlimited());
    ASSERT_TRUE(server.valid());

    const fs::path link = box_.root() / "link";
    fs::create_directory_symlink(good, link);
    const fs::path plain_file = box_.root() / "plain";
    test_support::write_file(plain_file, "x");
    struct dir_case {
        const char* what;
        fs::path dir;
        mode_t mode;  // given to the good directory for the case
        bool others_owner;
    };
    std::vector<dir_case> cases = {
        {"symbolic link to it", link, 0700, false},   {"group may read", good, 0740, false},
        {"others may pass", good, 0701, false},       {"open to all", good, 0777, false},
        {"not a directory", plain_file, 0700, false},
    };
    if (geteuid() == 0) cases.push_back({"owned by another user", good, 0700, true});
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(chmod(good.c_str(), c.mode), 0);
        if (c.others_owner) {
            ASSERT_EQ(chown(good.c_str(), 65534, 65534), 0);
        }
        setenv("VARNEX_PIPE_DIR", c.dir.c_str(), 1);
        EXPECT_FALSE(pipe::open(name, pipe_open::read_write).valid());
        EXPECT_FALSE(platform::wait_named_pipe(name, 0));
        EXPECT_FALSE(pipe::create_server(R"(\\.\pipe\t\other)", single()).valid());
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
    EXPECT_FALSE(pipe::open(R"(\\.\pipe\t\fresh)", pipe_open::read).valid());
    pipe server = pipe::create_server(R"(\\.\pipe\t\fresh)", single());
    ASSERT_TRUE(server.valid());
    struct stat st {};
    ASSERT_EQ(lstat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
}

TEST_F(pipes, a_name_too_long_for_a_socket_address_fails) {
    const std::string name = std::string(R"(\\.\pipe\t\)") + std::string(120, 'n');
    EXPECT_FALSE(pipe::create_server(name, single()).valid());
    EXPECT_FALSE(pipe::open(name, pipe_open::read_write).valid());
    EXPECT_FALSE(platform::wait_named_pipe(name, 0));
    for (const auto& entry : fs::directory_iterator(box_.pipe_dir())) {
        ADD_FAILURE() << "left " << entry.path();
    }
}

TEST_F(pipes, several_instances_of_one_name_serve_clients_at_the_same_time) {
    // As the service does: one listening instance, each accepted one handed to a thread.
    const std::string name = R"(\\.\pipe\t\many)";
    constexpr int clients = 4;
    std::latch all_connected(clients);
    std::vector<std::thread> relays;
    std::vector<std::future<std::string>> answers;
    for (int i = 0; i < clients; ++i) {
        answers.push_back(std::async(std::launch::async, [&name, i] {
            pipe client = pipe::open(name, pipe_open::read_write);
            for (auto end = std::chrono::steady_clock::now() + deadline;
                 !client.valid() && std::chrono::steady_clock::now() < end;) {
                std::this_thread::sleep_for(5ms);  // the server is not up yet
                client = pipe::open(name, pipe_open::read_write);
            }
            if (!client.valid() || !client.write("request " + std::to_string(i)))
                return std::string();
            client.set_message_read_mode();
            return read_message(client);
        }));
    }
    pipe listening = pipe::create_server(name, unlimited());
    for (int i = 0; i < clients; ++i) {
        ASSERT_TRUE(listening.valid());
        ASSERT_EQ(listening.wait_for_client(), connect_status::connected);
        relays.emplace_back(
            [&all_connected](pipe instance) {
                const std::string request = read_message(instance);
                // Every relay holds its instance until all are connected: they run at once.
                all_connected.arrive_and_wait();
                instance.write("reply to " + request);
                instance.flush();
                instance.disconnect();
            },
            std::move(listening));
        listening = pipe::create_server(name, unlimited());
    }
    for (auto& t : relays) t.join();
    for (int i = 0; i < clients; ++i) {
        EXPECT_EQ(answers[i].get(), "reply to request " + std::to_string(i));
    }
    EXPECT_TRUE(platform::wait_named_pipe(name, 0)) << "the listening instance is still there";
    listening.close();
    EXPECT_FALSE(platform::wait_named_pipe(name, 0));
    EXPECT_FALSE(fs::exists(socket_path(name)));
}

TEST_F(pipes, waiting_for_a_client_gives_up_when_the_watched_process_ends) {
    platform::process watched = platform::start_process("/bin/true");
    ASSERT_TRUE(watched.valid());
    pipe server = pipe::create_server(R"(\\.\pipe\t\watch)", single());
    ASSERT_TRUE(server.valid());
    EXPECT_EQ(server.wait_for_client(&watched), connect_status::process_ended);
    // A client that came counts, even with the watched process gone.
    pipe client = pipe::open(R"(\\.\pipe\t\watch)", pipe_open::read);
    ASSERT_TRUE(client.valid());
    EXPECT_EQ(server.wait_for_client(&watched), connect_status::connected);
}

TEST_F(pipes, wait_for_peer_gone_returns_when_the_reader_closes) {
    // The service's watcher on the wrapper pipe while the main thread goes on writing.
    auto c = connect_pair(R"(\\.\pipe\t\wrapper)", single(pipe_access::outbound), pipe_open::read);
    ASSERT_TRUE(c.client.set_message_read_mode());
    auto watcher = std::async(std::launch::async, [&] { c.server.wait_for_peer_gone(); });
    ASSERT_TRUE(c.server.write("announcement\n"));
    EXPECT_EQ(read_message(c.client), "announcement\n");
    EXPECT_EQ(watcher.wait_for(0s), std::future_status::timeout);
    c.client.close();
    EXPECT_TRUE(arrives_within(watcher));
    EXPECT_FALSE(c.server.write("next announcement\n"));
}

std::vector<int> socket_descriptors() {
    std::vector<int> fds;
    for (const auto& entry : fs::directory_iterator("/proc/self/fd")) {
        std::error_code ec;
        const auto target = fs::read_symlink(entry.path(), ec).string();
        if (!ec && target.rfind("socket:", 0) == 0) {
            fds.push_back(std::stoi(entry.path().filename().string()));
        }
    }
    return fds;
}

TEST_F(pipes, no_descriptor_is_inherited_by_children) {
    const auto before = socket_descriptors();
    auto c = connect_pair(R"(\\.\pipe\t\cloexec)", unlimited());
    pipe another = pipe::create_server(R"(\\.\pipe\t\cloexec)", unlimited());
    int ours = 0;
    for (int fd : socket_descriptors()) {
        if (std::find(before.begin(), before.end(), fd) != before.end()) continue;
        ++ours;
        EXPECT_TRUE(fcntl(fd, F_GETFD) & FD_CLOEXEC) << fd;
    }
    EXPECT_EQ(ours, 3) << "listener, accepted connection, client";
}

}  // namespace
