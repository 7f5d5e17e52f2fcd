// Waiting for a pipe, telling a live server from a dead one's file, and pipes kept out of
// the file system: what another local user might try against them included.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <future>
#include <sstream>
#include <string>
#include <vector>

#include "platform/message_buffer.h"
#include "platform/pipe.h"
#include "tests/support/sandbox.h"
#include "tests/support/second_user.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using platform::connect_status;
using platform::create_error;
using platform::pipe;
using platform::pipe_open;
using test_support::stranger;
using steady = std::chrono::steady_clock;

platform::pipe_server_options options(int instances = 1, bool in_file_system = true) {
    platform::pipe_server_options o;
    o.max_instances = instances;
    o.in_file_system = in_file_system;
    return o;
}

std::string socket_path(std::string_view name) {
    return platform::pipe_socket_path(name, platform::pipe_directory());
}

/// A socket bound by hand at path (abstract when path starts with NUL), listening or not.
int bound_socket(const std::string& path, bool listening) {
    const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.data(), path.size());
    const auto length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + path.size() +
                                               (path[0] == '\0' ? 0 : 1));
    if (bind(fd, reinterpret_cast<sockaddr*>(&addr), length) != 0 ||
        (listening && listen(fd, 4) != 0)) {
        close(fd);
        return -1;
    }
    return fd;
}

/// Each test gets a short private pipe directory of its own (a forged socket name must
/// hold our whole socket path); SIGALRM ends one that hangs.
class pipe_liveness : public ::testing::Test {
  protected:
    void SetUp() override {
        alarm(60);
        char dir[] = "/tmp/vpXXXXXX";
        ASSERT_NE(mkdtemp(dir), nullptr);
        short_dir_ = dir;
        setenv("VARNEX_PIPE_DIR", dir, 1);
    }
    void TearDown() override {
        alarm(0);
        setenv("VARNEX_PIPE_DIR", box_.pipe_dir().c_str(), 1);
        fs::remove_all(short_dir_);
    }

    test_support::sandbox box_;
    fs::path short_dir_;
};

TEST_F(pipe_liveness, wait_named_pipe_and_pipe_is_served_answer_by_what_listens_at_the_name) {
    const std::string name = R"(\\.\pipe\t\w)";
    const std::string path = socket_path(name);
    struct wait_case {
        const char* what;
        std::function<void(std::vector<pipe>&, std::vector<int>&)> setup;
        bool available;
        bool served;  // a live server holds the name, room or not
    };
    const wait_case cases[] = {
        {"no file", [](auto&, auto&) {}, false, false},
        {"a dead server's file", [&](auto&, auto&) { close(bound_socket(path, true)); }, false,
         false},
        {"a socket bound but not listening",
         [&](auto&, auto& fds) { fds.push_back(bound_socket(path, false)); }, false, false},
        {"a live server",
         [&](auto& pipes, auto&) { pipes.push_back(pipe::create_server(name, options())); }, true,
         true},
        {"a single-instance server that has its client",
         [&](auto& pipes, auto&) {
             pipes.push_back(pipe::create_server(name, options()));
             pipes.push_back(pipe::open(name, pipe_open::read_write));
             EXPECT_EQ(pipes[0].wait_for_client(), connect_status::connected);
         },
         false, true},
        {"a server whose queue is full",
         [&](auto& pipes, auto& fds) {
             pipes.push_back(pipe::create_server(name, options()));
             const int waiting = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
             EXPECT_EQ(connect(waiting, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
             fds.push_back(waiting);
         },
         false, true},
        {"a multi-instance server with one place left",
         [&](auto& pipes, auto&) {
             pipes.push_back(pipe::create_server(name, options(2)));
             pipes.push_back(pipe::open(name, pipe_open::read_write));
             EXPECT_EQ(pipes[0].wait_for_client(), connect_status::connected);
             pipes.push_back(pipe::create_server(name, options(2)));
         },
         true, true},
    };
    for (const wait_case& c : cases) {
        SCOPED_TRACE(c.what);
        std::vector<pipe> pipes;
        std::vector<int> fds;
        c.setup(pipes, fds);
        const auto start = steady::now();
        EXPECT_EQ(platform::pipe_is_served(name), c.served);
        EXPECT_EQ(platform::wait_named_pipe(name, 30), c.available);
        if (!c.available) {
            EXPECT_GE(steady::now() - start, 30ms) << "gave up before its time";
        }
        for (int fd : fds) close(fd);
        pipes.clear();
        fs::remove(path);
    }
}

TEST_F(pipe_liveness, wait_named_pipe_returns_once_a_server_comes) {
    const std::string name = R"(\\.\pipe\t\late)";
    // The directory too is made only by the server.
    setenv("VARNEX_PIPE_DIR", (short_dir_ / "later").c_str(), 1);
    auto waited =
        std::async(std::launch::async, [&] { return platform::wait_named_pipe(name, 20000); });
    pipe server = pipe::create_server(name, options());
    ASSERT_TRUE(server.valid());
    ASSERT_EQ(waited.wait_for(10s), std::future_status::ready);
    EXPECT_TRUE(waited.get());
}

TEST_F(pipe_liveness, a_socket_table_line_forged_by_another_user_fools_nobody) {
    std::string why;
    const auto other = test_support::second_user(why);
    if (!other) GTEST_SKIP() << why;
    const std::string name = R"(\\.\pipe\t\held)";
    const std::string path = socket_path(name);
    // Our server has gone and left its file, as a killed service does.
    close(bound_socket(path, true));
    // The kernel prints socket names as they are: a line feed in one starts a line that
    // claims a listening socket at our path.
    const std::string forged_line =
        "0000000000000000: 00000002 00000000 00010000 0001 01 99999 " + path;
    const std::string forged_name = std::string("\0x\n", 3) + forged_line;
    ASSERT_LE(forged_name.size(), sizeof(sockaddr_un::sun_path));
    stranger attacker(*other);
    ASSERT_TRUE(attacker.hold([&] { return bound_socket(forged_name, false); }));
    std::ifstream table("/proc/net/unix");
    std::stringstream text;
    text << table.rdbuf();
    ASSERT_NE(text.str().find("\n" + forged_line + "\n"), std::string::npos) << "no forged line";

    EXPECT_FALSE(platform::wait_named_pipe(name, 0));
    pipe server = pipe::create_server(name, options(platform::unlimited_instances));
    ASSERT_TRUE(server.valid()) << "the dead server's file was not replaced";
    EXPECT_TRUE(platform::wait_named_pipe(name, 0));
}

TEST_F(pipe_liveness, another_user_can_neither_squat_nor_serve_nor_use_a_pipe_without_a_file) {
    std::string why;
    const auto other = test_support::second_user(why);
    if (!other) GTEST_SKIP() << why;
    const std::string abstract_name = std::string(1, '\0') + socket_path(R"(\\.\pipe\t\taken)");

    {
        stranger squatter(*other);
        ASSERT_TRUE(squatter.hold([&] { return bound_socket(abstract_name, true); }));
        create_error error = create_error::none;
        EXPECT_FALSE(pipe::create_server(R"(\\.\pipe\t\taken)", options(1, false), &error).valid());
        EXPECT_EQ(error, create_error::failed);
        EXPECT_FALSE(pipe::open(R"(\\.\pipe\t\taken)", pipe_open::read_write).valid())
            << "a server of another user was taken for ours";
    }

    pipe server = pipe::create_server(R"(\\.\pipe\t\taken)", options(1, false));
    ASSERT_TRUE(server.valid()) << "the name is free again";
    stranger intruder(*other);
    ASSERT_TRUE(intruder.hold([&] {
        const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        std::memcpy(addr.sun_path, abstract_name.data(), abstract_name.size());
        return connect(fd, reinterpret_cast<sockaddr*>(&addr),
                       offsetof(sockaddr_un, sun_path) + abstract_name.size());
    }));
    EXPECT_EQ(server.wait_for_client(nullptr, 200), connect_status::timed_out)
        << "a client of another user was accepted";
}

TEST_F(pipe_liveness, a_pipe_without_a_file_serves_its_client_and_frees_its_name_on_close) {
    const std::string name = R"(\\.\pipe\t\pair)";
    pipe server = pipe::create_server(name, options(1, false));
    ASSERT_TRUE(server.valid());
    EXPECT_TRUE(fs::is_empty(short_dir_)) << "a file was made";
    EXPECT_FALSE(pipe::create_server(name, options(1, false)).valid()) << "the name is taken";
    pipe client = pipe::open(name, pipe_open::read);
    ASSERT_TRUE(client.valid());
    ASSERT_EQ(server.wait_for_client(nullptr, 10000), connect_status::connected);
    EXPECT_FALSE(pipe::open(name, pipe_open::read).valid()) << "a second client came in";
    ASSERT_TRUE(server.write("hello"));
    char buffer[16];
    const auto got = client.read(buffer, sizeof buffer);
    EXPECT_EQ(std::string(buffer, got.count), "hello");
    server.close();
    EXPECT_TRUE(pipe::create_server(name, options(1, false)).valid()) << "the name stayed taken";
}

TEST_F(pipe_liveness, create_server_tells_busy_instances_from_other_failures) {
    pipe held[2] = {pipe::create_server(R"(\\.\pipe\t\two)", options(2)),
                    pipe::create_server(R"(\\.\pipe\t\one)", options(1))};
    pipe second = pipe::create_server(R"(\\.\pipe\t\two)", options(2));
    ASSERT_TRUE(held[0].valid() && held[1].valid() && second.valid());
    const struct {
        const char* name;
        int instances;
        create_error expected;
    } cases[] = {
        {R"(\\.\pipe\t\two)", 2, create_error::all_instances_busy},
        {R"(\\.\pipe\t\two)", 3, create_error::failed},  // not the instance count it has
        {R"(\\.\pipe\t\one)", 1, create_error::failed},  // another server holds it
        {R"(\\.\pipe\t\a/b)", 1, create_error::failed},  // no socket path
        {R"(\\.\pipe\t\three)", 3, create_error::none},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        create_error error = create_error::none;
        const pipe p = pipe::create_server(c.name, options(c.instances), &error);
        EXPECT_EQ(error, c.expected);
        EXPECT_EQ(p.valid(), c.expected == create_error::none);
    }
}

TEST_F(pipe_liveness, wait_for_client_gives_up_after_its_time_out_only_without_a_client) {
    for (int instances : {1, 2}) {
        SCOPED_TRACE(instances);
        const std::string name = R"(\\.\pipe\t\timeout)";
        pipe server = pipe::create_server(name, options(instances));
        const auto start = steady::now();
        EXPECT_EQ(server.wait_for_client(nullptr, 40), connect_status::timed_out);
        EXPECT_GE(steady::now() - start, 40ms);
        pipe client = pipe::open(name, pipe_open::read_write);
        ASSERT_TRUE(client.valid());
        EXPECT_EQ(server.wait_for_client(nullptr, 40), connect_status::connected);
    }
}

TEST_F(pipe_liveness, a_message_is_read_into_a_buffer_sized_once) {
    const std::size_t sizes[] = {0, 10, 4096, 4097, 10000, 3u << 20};
    pipe server = pipe::create_server(R"(\\.\pipe\t\sized)", options());
    pipe client = pipe::open(R"(\\.\pipe\t\sized)", pipe_open::read_write);
    ASSERT_EQ(server.wait_for_client(), connect_status::connected);
    auto writer = std::async(std::launch::async, [&] {
        for (std::size_t size : sizes) EXPECT_TRUE(client.write(std::string(size, 'm')));
    });
    for (std::size_t size : sizes) {
        SCOPED_TRACE(size);
        char first[100];
        const auto r = server.read(first, sizeof first);
        const std::size_t left = size > 100 ? size - 100 : 0;
        EXPECT_EQ(server.message_bytes_left(), left);
        if (r.status != platform::io_status::more_data) continue;
        platform::message_buffer rest;
        ASSERT_TRUE(platform::read_message_into(server, rest));
        EXPECT_EQ(r.count + rest.size(), size);
        EXPECT_EQ(server.message_bytes_left(), 0u);
        // The first read's room, then exactly what was left after it, in one step.
        EXPECT_EQ(rest.capacity(), left <= 4096 ? 4096 : 4096 + (left - 4096));
    }
    ASSERT_EQ(writer.wait_for(10s), std::future_status::ready);
}

TEST_F(pipe_liveness, remove_pipe_files_removes_our_files_and_leaves_anothers) {
    pipe ours = pipe::create_server(R"(\\.\pipe\t\ours)", options(2));
    pipe replaced = pipe::create_server(R"(\\.\pipe\t\replaced)", options());
    ASSERT_TRUE(ours.valid() && replaced.valid());
    // Another server of ours took the second name over after its file vanished.
    const std::string other_path = socket_path(R"(\\.\pipe\t\replaced)");
    fs::remove(other_path);
    const int other = bound_socket(other_path, true);
    platform::remove_pipe_files();
    EXPECT_FALSE(fs::exists(socket_path(R"(\\.\pipe\t\ours)")));
    EXPECT_TRUE(fs::exists(other_path));
    EXPECT_FALSE(platform::wait_named_pipe(R"(\\.\pipe\t\ours)", 0));
    close(other);
}

TEST_F(pipe_liveness, a_message_passed_on_arrives_whole_or_is_seen_cut) {
    enum class end { whole, source_cut, reader_gone };
    for (end how : {end::whole, end::source_cut, end::reader_gone}) {
        SCOPED_TRACE(static_cast<int>(how));
        const bool cut = how == end::source_cut;
        pipe in_server = pipe::create_server(R"(\\.\pipe\t\in)", options());
        pipe out_server = pipe::create_server(R"(\\.\pipe\t\out)", options());
        pipe sink = pipe::open(R"(\\.\pipe\t\out)", pipe_open::read_write);
        ASSERT_TRUE(sink.valid() && sink.set_message_read_mode());
        ASSERT_EQ(out_server.wait_for_client(), connect_status::connected);
        // The source speaks the wire format by hand: the prefix promises the body, and a cut
        // source goes away after half of it.
        const int source = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un addr{};
        addr.sun_family = AF_UNIX;
        const std::string in_path = socket_path(R"(\\.\pipe\t\in)");
        std::memcpy(addr.sun_path, in_path.data(), in_path.size());
        ASSERT_EQ(connect(source, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
        ASSERT_EQ(in_server.wait_for_client(), connect_status::connected);
        // A reader that goes away must meet a passing still under way: more than the
        // sockets can hold between them (a large message's send buffer reaches 8 MiB).
        std::string body(how == end::reader_gone ? 32u << 20 : 1u << 20, 'b');
        for (std::size_t i = 0; i < body.size(); i += 4099) body[i] = static_cast<char>(i);
        const std::uint32_t length = htonl(static_cast<std::uint32_t>(body.size()));
        auto writer = std::async(std::launch::async, [&] {
            std::string wire(reinterpret_cast<const char*>(&length), 4);
            wire += cut ? body.substr(0, body.size() / 2) : body;
            const bool sent = send(source, wire.data(), wire.size(), MSG_NOSIGNAL) ==
                              static_cast<ssize_t>(wire.size());
            close(source);
            return sent;
        });
        char first[4096];
        ASSERT_EQ(in_server.read(first, sizeof first).status, platform::io_status::more_data);
        if (how == end::reader_gone) {
            // The reader goes away while the message passes: the passing fails, and must
            // not end the process with SIGPIPE.
            auto passing = std::async(std::launch::async, [&] {
                return out_server.write_with_rest_of(in_server, std::string(first, 4096));
            });
            char some[4096];
            EXPECT_NE(sink.read(some, sizeof some).status, platform::io_status::failed);
            sink.close();
            EXPECT_FALSE(passing.get());
            in_server.close();
            (void)writer.get();
            continue;
        }
        auto passed = std::async(std::launch::async, [&] {
            return out_server.write_with_rest_of(in_server, "head:" + std::string(first, 4096));
        });
        platform::message_buffer got;
        ASSERT_TRUE(platform::read_message_into(sink, got));
        EXPECT_EQ(passed.get(), !cut);
        EXPECT_TRUE(writer.get());
        if (cut) {
            EXPECT_LT(got.size(), body.size()) << "a cut message came as a whole one";
            char c;
            EXPECT_EQ(sink.read(&c, 1).status, platform::io_status::failed);
        } else {
            EXPECT_TRUE(got.view() == "head:" + body);
        }
    }
}

}  // namespace
