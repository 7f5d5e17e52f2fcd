// The real service and client, driven on the launcher request pipe as a front end does.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>

#include "platform/pipe.h"
#include "service/relay.h"
#include "tests/service/e2e_support.h"
#include "tests/service/posted.h"
#include "tests/service_support/fake_client_modes.h"

namespace service_e2e {
namespace {

using namespace std::string_literals;

// A service started as the front end starts it, for tests that speak to its pipe directly.
struct running_service {
    world w;
    test_support::background_program service;
    explicit running_service(const std::string& mode)
        : w(mode),
          service(w.start("zorv_service", {(w.box.product_dir() / "ZorvHome").string()})) {}
};

std::string body_of(std::size_t size, char fill) {
    std::string body(size, fill);
    for (std::size_t i = 0; i < size; i += 97) body[i] = static_cast<char>('a' + i % 26);
    return body;
}

TEST(relay_end_to_end, forwards_requests_whole_whatever_their_size) {
    running_service s("echo");
    int n = 0;
    for (std::size_t size :
         {std::size_t{1}, std::size_t{4095}, std::size_t{4096}, std::size_t{1} << 20}) {
        const std::string body = body_of(size, 'q');
        const auto reply = exchange(body);
        ++n;
        ASSERT_TRUE(reply.has_value()) << size;
        EXPECT_EQ(*reply, fake_client::echo_answer(service_test::posted(body))) << size;
        ASSERT_TRUE(s.w.wait_client_file("request-" + std::to_string(n) + ".bin"));
        EXPECT_EQ(s.w.client_file("request-" + std::to_string(n) + ".bin"),
                  service_test::posted(body));
    }
}

TEST(relay_end_to_end, keeps_nul_bytes_in_request_and_answer) {
    running_service s("echo");
    const std::string body = "<a>\0</a>"s + body_of(5000, 'z') + "\0answer-yes"s;
    const auto reply = exchange(body);
    ASSERT_TRUE(reply.has_value());
    // The echoed answer carries the request, NUL bytes and all.
    EXPECT_EQ(*reply, fake_client::echo_answer(service_test::posted(body)));
    EXPECT_EQ(s.w.client_file("request-1.bin"), service_test::posted(body));
}

TEST(relay_end_to_end, drops_the_front_end_when_the_client_answers_with_nothing) {
    running_service s("empty");
    EXPECT_FALSE(exchange("<methodCall/>").has_value());
    EXPECT_TRUE(test_support::wait_until(
        [&] { return s.w.service_log().find("Got an empty response\n") != std::string::npos; }));
    // The service goes on serving.
    EXPECT_FALSE(exchange("<methodCall/>").has_value());
    EXPECT_TRUE(process_alive(s.service.pid()));
}

TEST(relay_end_to_end, passes_only_the_first_answer_message) {
    running_service s("two_messages");
    EXPECT_EQ(exchange("<methodCall/>"), std::string(fake_client::true_answer));
}

TEST(relay_end_to_end, never_mixes_answers_of_concurrent_front_ends) {
    running_service s("echo");
    ASSERT_TRUE(exchange("warm up").has_value());
    constexpr int count = 50;
    std::vector<std::optional<std::string>> replies(count);
    std::vector<std::thread> front_ends;
    for (int i = 0; i < count; ++i) {
        front_ends.emplace_back([&replies, i] {
            replies[i] = exchange("request " + std::to_string(i) + (i % 3 ? " answer-yes" : "") +
                                  std::string(static_cast<std::size_t>(i) * 300, '.'));
        });
    }
    for (auto& t : front_ends) t.join();
    for (int i = 0; i < count; ++i) {
        const std::string body = "request " + std::to_string(i) + (i % 3 ? " answer-yes" : "") +
                                 std::string(static_cast<std::size_t>(i) * 300, '.');
        EXPECT_EQ(replies[i], fake_client::echo_answer(service_test::posted(body))) << i;
    }
}

}  // namespace
}  // namespace service_e2e

namespace service_e2e {
namespace {

TEST(relay_end_to_end, every_instance_busy_with_a_slow_client_waits_and_answers_all) {
    // The client learns the release file's name before the sandbox exists: a name of its own
    // in the system's temporary folder, removed at the end.
    const std::string release = "/tmp/varnex-release-" + std::to_string(::getpid());
    fs::remove(release);
    running_service s(std::string(fake_client::hold_mode) + release);
    // One more than the instance limit, and a few behind it.
    constexpr int front_ends = 260;
    std::vector<std::optional<std::string>> replies(front_ends);
    std::vector<std::thread> threads;
    for (int i = 0; i < front_ends; ++i) {
        threads.emplace_back(
            [&replies, i] { replies[i] = exchange("<methodCall/>", std::chrono::seconds(60)); });
    }
    // Every instance is busy: 254 with requests the client has not answered yet, and the
    // one the service holds until a relay ends.
    EXPECT_TRUE(test_support::wait_until(
        [&] { return fs::exists(s.w.client_dir / "request-254.bin"); }, std::chrono::seconds(60)));
    test_support::write_file(release, "");
    for (auto& t : threads) t.join();
    fs::remove(release);
    int answered = 0;
    for (const auto& r : replies) answered += r == fake_client::true_answer;
    EXPECT_EQ(answered, front_ends);
    EXPECT_EQ(s.w.service_log().find("Could not create launcher request pipe"), std::string::npos);
}

TEST(relay_end_to_end, a_pair_the_client_never_opens_is_dropped_in_time) {
    world w("never_open");
    w.env[service::pair_timeout_env] = "300";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 255);
    EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(20));
    EXPECT_NE(w.service_log().find("ZORV did not open the pipe pair in time, request dropped\n"),
              std::string::npos);
    const auto pid = w.service_pid();
    ASSERT_TRUE(pid.has_value());
    EXPECT_TRUE(process_alive(*pid));
}

// A plain socket connected to path; -1 when it could not connect.
int socket_fd_connected_to(const std::string& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// CPU time, in clock ticks, that process pid has used.
long cpu_ticks(int pid) {
    std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(in, line);
    std::istringstream fields(line.substr(line.rfind(')') + 2));
    std::string field;
    long utime = 0, stime = 0;
    for (int i = 3; fields >> field; ++i) {
        if (i == 14) utime = std::stol(field);
        if (i == 15) {
            stime = std::stol(field);
            break;
        }
    }
    return utime + stime;
}

TEST(relay_end_to_end, a_service_out_of_descriptors_backs_off_and_serves_again) {
#if defined(__SANITIZE_THREAD__)
    GTEST_SKIP() << "ThreadSanitizer's runtime needs descriptors of its own in the starved service";
#endif
    world w;
    ASSERT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0);
    const auto pid = w.service_pid();
    ASSERT_TRUE(pid.has_value());
    // The lowest free descriptor number becomes the limit: the next accept fails.
    std::set<int> open_fds;
    for (const auto& e : fs::directory_iterator("/proc/" + std::to_string(*pid) + "/fd")) {
        open_fds.insert(std::stoi(e.path().filename().string()));
    }
    rlim_t lowest_free = 0;
    while (open_fds.count(static_cast<int>(lowest_free)) != 0) ++lowest_free;
    rlimit old_limit{};
    rlimit low{lowest_free, 0};
    ASSERT_EQ(prlimit(*pid, RLIMIT_NOFILE, nullptr, &old_limit), 0);
    low.rlim_max = old_limit.rlim_max;
    ASSERT_EQ(prlimit(*pid, RLIMIT_NOFILE, &low, nullptr), 0);

    // A front end waits in the queue that the service cannot take from.
    const std::string socket =
        platform::pipe_socket_path(launcher_pipe_name(), w.box.pipe_dir().string());
    const int waiting = socket_fd_connected_to(socket);
    ASSERT_GE(waiting, 0);
    const long before = cpu_ticks(*pid);
    std::this_thread::sleep_for(std::chrono::seconds(2));
    const long used = cpu_ticks(*pid) - before;
    ::close(waiting);
    ASSERT_EQ(prlimit(*pid, RLIMIT_NOFILE, &old_limit, nullptr), 0);

    // Two seconds of spinning would use most of them; a back-off uses next to nothing.
    EXPECT_LT(used, sysconf(_SC_CLK_TCK) / 4) << "clock ticks used in 2 s";
    const auto again = w.trelmerge({"a.txt", "b.txt"});
    EXPECT_EQ(again.exit_code, 0) << again.out << again.err << w.service_log();
    EXPECT_EQ(w.service_pid(), pid);
}

}  // namespace
}  // namespace service_e2e
