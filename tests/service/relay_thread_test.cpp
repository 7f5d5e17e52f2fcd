// One relay between a front end and a client, both played by this test over real pipes.
#include <gtest/gtest.h>
#include <pthread.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "common/work_dir.h"
#include "platform/pipe.h"
#include "platform/thread.h"
#include "service/relay.h"
#include "service/service_state.h"
#include "tests/service/posted.h"
#include "tests/support/sandbox.h"
#include "tests/support/second_user.h"

#if defined(__has_feature)
#if __has_feature(thread_sanitizer)
#define VARNEX_TEST_UNDER_TSAN 1
#endif
#endif

namespace {

using platform::pipe;

/// The whole message; nothing when the pipe broke first.
std::optional<std::string> read_whole(pipe& p) {
    std::string text;
    char buffer[1000];
    for (;;) {
        const platform::io_result r = p.read(buffer, sizeof buffer);
        if (r.status == platform::io_status::failed) return std::nullopt;
        text.append(buffer, r.count);
        if (r.status == platform::io_status::ok) return text;
    }
}

struct relayed {
    std::optional<std::string> client_got, front_end_got;
};

// Runs relay_thread on one job: the front end sends request, the client answers with each
// of answers as a message of its own.
relayed relay_once(const std::string& request, const std::vector<std::string>& answers) {
    test_support::sandbox box;
    const std::string names[] = {R"(\\.\pipe\relay\launcher)", R"(\\.\pipe\relay\request)",
                                 R"(\\.\pipe\relay\response)"};
    auto server = [](const std::string& name, platform::pipe_access access, int instances = 1) {
        platform::pipe_server_options options;
        options.access = access;
        options.max_instances = instances;
        return pipe::create_server(name, options);
    };
    pipe launcher = server(names[0], platform::pipe_access::duplex, platform::unlimited_instances);
    pipe to_client = server(names[1], platform::pipe_access::outbound);
    pipe from_client = server(names[2], platform::pipe_access::inbound);
    EXPECT_TRUE(launcher.valid() && to_client.valid() && from_client.valid());
    relayed result;
    std::thread front_end([&] {
        pipe p = pipe::open(names[0], platform::pipe_open::read_write);
        ASSERT_TRUE(p.valid() && p.set_message_read_mode() && p.write(request));
        result.front_end_got = read_whole(p);
    });
    EXPECT_EQ(launcher.wait_for_client(), platform::connect_status::connected);
    std::thread relay(
        service::relay_thread,
        new service::relay_job{std::move(launcher), std::move(to_client), std::move(from_client)});
    std::thread client([&] {
        pipe response = pipe::open(names[2], platform::pipe_open::write);
        pipe req = pipe::open(names[1], platform::pipe_open::read);
        ASSERT_TRUE(req.valid() && response.valid() && req.set_message_read_mode());
        result.client_got = read_whole(req);
        for (const std::string& a : answers) response.write(a);
    });
    client.join();
    relay.join();
    front_end.join();
    return result;
}

TEST(relay_thread, forwards_requests_whole_and_passes_the_answer_back) {
    for (std::size_t size : {std::size_t{0}, std::size_t{4096}, std::size_t{1} << 20}) {
        std::string request(size, 'r');
        for (std::size_t i = 0; i < size; i += 7) request[i] = static_cast<char>('a' + i % 26);
        const relayed r = relay_once(request, {"<boolean>1</boolean>"});
        EXPECT_EQ(r.client_got, service_test::posted(request)) << size;
        EXPECT_EQ(r.front_end_got, "<boolean>1</boolean>") << size;
    }
}

TEST(relay_thread, drops_the_front_end_unanswered_when_the_answer_is_empty) {
    for (const auto& answers : {std::vector<std::string>{""}, std::vector<std::string>{}}) {
        EXPECT_EQ(relay_once("q", answers).front_end_got, std::nullopt);
    }
}

// Relays run on 256 KiB stacks rather than the platform's default (commonly 8 MiB): many run at
// once, and the smaller stack measured a fifth more throughput at 64 connections.
TEST(relay_thread, runs_on_a_stack_of_256_kib) {
#if defined(__SANITIZE_THREAD__) || defined(VARNEX_TEST_UNDER_TSAN)
    GTEST_SKIP() << "ThreadSanitizer enlarges every thread's stack for its own use";
#endif
    // Static: the detached thread may still be inside set_value when the test goes on.
    static std::promise<std::size_t> measured;
    auto run = [](void* arg) {
        pthread_attr_t attr;
        std::size_t size = 0;
        if (pthread_getattr_np(pthread_self(), &attr) == 0) {
            pthread_attr_getstacksize(&attr, &size);
            pthread_attr_destroy(&attr);
        }
        static_cast<std::promise<std::size_t>*>(arg)->set_value(size);
    };
    ASSERT_TRUE(platform::start_detached_thread(run, &measured, service::relay_stack_size));
    auto size = measured.get_future();
    ASSERT_EQ(size.wait_for(std::chrono::seconds(10)), std::future_status::ready);
    EXPECT_EQ(size.get(), std::size_t{256 * 1024});
}

}  // namespace

namespace {

const std::string launcher_name = R"(\\.\pipe\relay\launcher)";
const std::string request_name = R"(\\.\pipe\relay\request)";
const std::string response_name = R"(\\.\pipe\relay\response)";

// Sends raw bytes to the pipe's socket, as a sender that stops in the middle of a message.
void send_raw(const std::string& name, const std::string& bytes) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    const std::string path = platform::pipe_socket_path(name, platform::pipe_directory());
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    ASSERT_EQ(::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr), 0);
    ASSERT_EQ(::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL),
              static_cast<ssize_t>(bytes.size()));
    ::close(fd);
}

// A length header that claims 10 000 bytes, then a whole call, then the end.
std::string cut_message(const std::string& text) {
    return std::string("\x00\x00\x27\x10", 4) + text;
}

struct fault {
    const char* what;
    std::function<void()> front_end;
    // The client's part; gets whether the relay has ended, and says what it read.
    std::function<std::optional<std::string>(const std::atomic<bool>& relay_ended)> client;
    std::uint32_t pair_timeout_ms;
    const char* log;                       // the relay's one line
    std::optional<std::string> forwarded;  // what the client read
};

TEST(relay_thread, ends_at_the_first_failed_step_without_forwarding_or_answering) {
    const auto patient_front_end = [] {
        pipe p = pipe::open(launcher_name, platform::pipe_open::read_write);
        ASSERT_TRUE(p.valid() && p.set_message_read_mode() && p.write("<methodCall/>"));
        EXPECT_EQ(read_whole(p), std::nullopt);
    };
    // Set once the client has closed its end of the request pipe.
    std::atomic<bool> request_end_closed{false};
    const auto late_front_end = [&request_end_closed] {
        test_support::wait_until([&] { return request_end_closed.load(); });
        pipe p = pipe::open(launcher_name, platform::pipe_open::read_write);
        ASSERT_TRUE(p.valid() && p.set_message_read_mode() && p.write("<methodCall/>"));
        EXPECT_EQ(read_whole(p), std::nullopt);
    };
    const auto cut_front_end = [] { send_raw(launcher_name, cut_message("<methodCall/>")); };
    const auto reading_client = [](const std::atomic<bool>&) -> std::optional<std::string> {
        pipe response = pipe::open(response_name, platform::pipe_open::write);
        pipe req = pipe::open(request_name, platform::pipe_open::read);
        if (!req.valid() || !response.valid() || !req.set_message_read_mode()) return "no pair";
        return read_whole(req);
    };
    const std::vector<fault> faults = {
        {"a request cut short by the front end", cut_front_end, reading_client, 20000,
         "The request was cut short by its sender, dropped", std::nullopt},
        {"a request cut short inside its length prefix",
         [] { send_raw(launcher_name, std::string("\x00\x00", 2)); }, reading_client, 20000,
         "The request was cut short by its sender, dropped", std::nullopt},
        {"a long request cut short after its first part",
         [] { send_raw(launcher_name, cut_message(std::string(6000, 'x'))); }, reading_client,
         20000, "The request was cut short by its sender, dropped", std::nullopt},
        {"an answer cut short by the client", patient_front_end,
         [](const std::atomic<bool>&) -> std::optional<std::string> {
             pipe req = pipe::open(request_name, platform::pipe_open::read);
             if (!req.valid() || !req.set_message_read_mode()) return "no pair";
             send_raw(response_name, cut_message("<boolean>1</boolean>"));
             return read_whole(req);
         },
         20000, "The answer of ZORV was cut short, dropped",
         "POST /RPC2 HTTP/1.1\r\nContent-Length: 13\r\n\r\n<methodCall/>"},
        {"a request the client's side no longer takes", late_front_end,
         [&request_end_closed](const std::atomic<bool>& ended) -> std::optional<std::string> {
             pipe response = pipe::open(response_name, platform::pipe_open::write);
             { pipe req = pipe::open(request_name, platform::pipe_open::read); }
             request_end_closed = true;
             // Holds the answer's pipe open: a relay that waits for it waits in vain.
             test_support::wait_until([&] { return ended.load(); }, std::chrono::seconds(10));
             return ended ? std::nullopt : std::optional<std::string>("relay still waiting");
         },
         20000, "Could not forward the request to ZORV, dropped", std::nullopt},
        {"a front end that hangs up before the answer",
         [] { (void)pipe::open(launcher_name, platform::pipe_open::read_write).write("<q/>"); },
         [](const std::atomic<bool>& ended) -> std::optional<std::string> {
             pipe response = pipe::open(response_name, platform::pipe_open::write);
             pipe req = pipe::open(request_name, platform::pipe_open::read);
             if (!req.valid() || !response.valid() || !req.set_message_read_mode())
                 return "no pair";
             const auto got = read_whole(req);
             // The relay ends the pair without waiting for an answer nobody wants.
             test_support::wait_until([&] { return ended.load(); }, std::chrono::seconds(10));
             return ended ? got : "relay still waiting";
         },
         20000, "The front end went away before ZORV answered, request dropped",
         "POST /RPC2 HTTP/1.1\r\nContent-Length: 4\r\n\r\n<q/>"},
        {"a pair the client never opens", patient_front_end,
         [](const std::atomic<bool>& ended) -> std::optional<std::string> {
             test_support::wait_until([&] { return ended.load(); }, std::chrono::seconds(10));
             // Lets a relay still waiting go on, so that the test ends.
             if (!ended) {
                 pipe req = pipe::open(request_name, platform::pipe_open::read);
                 pipe response = pipe::open(response_name, platform::pipe_open::write);
             }
             return ended ? std::nullopt : std::optional<std::string>("relay still waiting");
         },
         200, "ZORV did not open the pipe pair in time, request dropped", std::nullopt},
    };
    for (const fault& f : faults) {
        test_support::sandbox box;
        ASSERT_TRUE(common::setup_work_dir());
        common::open_log_file("zorv_service.log");
        service::the_service().pair_timeout_ms = f.pair_timeout_ms;
        auto server = [](const std::string& name, platform::pipe_access access, int instances) {
            platform::pipe_server_options options;
            options.access = access;
            options.max_instances = instances;
            return pipe::create_server(name, options);
        };
        pipe launcher =
            server(launcher_name, platform::pipe_access::duplex, platform::unlimited_instances);
        pipe to_client = server(request_name, platform::pipe_access::outbound, 1);
        pipe from_client = server(response_name, platform::pipe_access::inbound, 1);
        ASSERT_TRUE(launcher.valid() && to_client.valid() && from_client.valid()) << f.what;

        // The client first: a front end may wait for what the client does.
        std::atomic<bool> ended{false};
        std::optional<std::string> client_got;
        std::thread client([&] { client_got = f.client(ended); });
        std::thread front_end(f.front_end);
        ASSERT_EQ(launcher.wait_for_client(), platform::connect_status::connected) << f.what;
        std::thread relay([&] {
            service::relay_thread(new service::relay_job{std::move(launcher), std::move(to_client),
                                                         std::move(from_client)});
            ended = true;
        });
        client.join();
        relay.join();
        front_end.join();
        EXPECT_EQ(client_got, f.forwarded) << f.what;
        EXPECT_EQ(test_support::read_file(common::work_file_path("zorv_service.log")),
                  std::string(f.log) + "\n")
            << f.what;
    }
    service::the_service().pair_timeout_ms = 30000;
}

// A pair as the service makes it (kept out of the file system), its relay, and a client that
// opens the response pipe first and answers true.
struct abstract_pair {
    pipe launcher, to_client, from_client;
    abstract_pair() {
        auto server = [](const std::string& name, platform::pipe_access access, int instances,
                         bool in_file_system) {
            platform::pipe_server_options options;
            options.access = access;
            options.max_instances = instances;
            options.in_file_system = in_file_system;
            return pipe::create_server(name, options);
        };
        launcher = server(launcher_name, platform::pipe_access::duplex,
                          platform::unlimited_instances, true);
        to_client = server(request_name, platform::pipe_access::outbound, 1, false);
        from_client = server(response_name, platform::pipe_access::inbound, 1, false);
    }
    static std::optional<std::string> client() {
        pipe response = pipe::open(response_name, platform::pipe_open::write);
        pipe req = pipe::open(request_name, platform::pipe_open::read);
        if (!req.valid() || !response.valid() || !req.set_message_read_mode()) return {};
        auto got = read_whole(req);
        if (got) response.write("<boolean>1</boolean>");
        return got;
    }
    static std::optional<std::string> front_end() {
        pipe p = pipe::open(launcher_name, platform::pipe_open::read_write);
        if (!p.valid() || !p.set_message_read_mode() || !p.write("<methodCall/>")) return {};
        return read_whole(p);
    }
};

TEST(relay_thread, a_relay_started_ahead_gives_its_client_time_until_a_front_end_is_handed_over) {
    test_support::sandbox box;
    service::the_service().pair_timeout_ms = 100;
    abstract_pair pair;
    auto* job = new service::relay_job{{}, std::move(pair.to_client), std::move(pair.from_client)};
    job->front_end_ready = false;
    std::thread relay(service::relay_thread, job);
    // A client slower than the time-out while no front end needs the pair.
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    auto client = std::async(std::launch::async, abstract_pair::client);
    auto front_end = std::async(std::launch::async, abstract_pair::front_end);
    ASSERT_EQ(pair.launcher.wait_for_client(), platform::connect_status::connected);
    service::hand_front_end(*job, std::move(pair.launcher));
    relay.join();
    EXPECT_EQ(client.get(), service_test::posted("<methodCall/>"));
    EXPECT_EQ(front_end.get(), "<boolean>1</boolean>");
    service::the_service().pair_timeout_ms = 30000;
}

TEST(relay_thread, connections_of_another_user_at_both_pair_pipes_take_nothing_from_the_client) {
    std::string why;
    const auto user = test_support::second_user(why);
    if (!user) GTEST_SKIP() << why;
    test_support::sandbox box;
    abstract_pair pair;
    // Their connections wait in both queues, as an attacker's that lists abstract sockets
    // and connects to each as it appears.
    test_support::stranger they(*user);
    const std::string paths[] = {
        platform::pipe_socket_path(request_name, platform::pipe_directory()),
        platform::pipe_socket_path(response_name, platform::pipe_directory())};
    ASSERT_TRUE(they.hold([&] {
        int held = 0;
        for (const std::string& path : paths) {
            sockaddr_un addr{};
            addr.sun_family = AF_UNIX;
            std::memcpy(addr.sun_path + 1, path.data(), path.size());
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            const auto length =
                static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + path.size());
            held += ::connect(fd, reinterpret_cast<const sockaddr*>(&addr), length) == 0;
        }
        return held == 2 ? 0 : -1;
    }));
    auto front_end = std::async(std::launch::async, abstract_pair::front_end);
    ASSERT_EQ(pair.launcher.wait_for_client(), platform::connect_status::connected);
    std::thread relay(service::relay_thread,
                      new service::relay_job{std::move(pair.launcher), std::move(pair.to_client),
                                             std::move(pair.from_client)});
    EXPECT_EQ(abstract_pair::client(), service_test::posted("<methodCall/>"));
    relay.join();
    EXPECT_EQ(front_end.get(), "<boolean>1</boolean>");
}

TEST(framed_request_fits, refuses_a_body_whose_head_would_pass_the_four_gib_length) {
    const std::pair<std::size_t, bool> rows[] = {
        {0, true},           {4294967244, true},  // 51 bytes of head: exactly 4 GiB - 1 in all
        {4294967245, false}, {4294967295, false}, {std::size_t{1} << 40, false},
    };
    for (const auto& [size, fits] : rows)
        EXPECT_EQ(service::framed_request_fits(size), fits) << size;
}

}  // namespace
