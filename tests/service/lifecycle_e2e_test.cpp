// How the service starts, ends and is replaced when the client or the service goes away.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <thread>
#include <vector>

#include "common/login_name.h"
#include "common/pipe_names.h"
#include "platform/pipe.h"
#include "tests/service/e2e_support.h"
#include "tests/service_support/fake_client_modes.h"

namespace service_e2e {
namespace {

using std::chrono::seconds;

bool log_has(const world& w, std::string_view line) {
    return test_support::wait_until(
        [&] { return w.service_log().find(std::string(line) + "\n") != std::string::npos; });
}

bool ends(int pid) {
    return test_support::wait_until([&] { return !process_alive(pid); });
}

// The socket files left in the pipe directory: a service that ended removed its own.
std::vector<std::string> socket_files(const world& w) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(w.box.pipe_dir())) {
        if (entry.is_socket()) names.push_back(entry.path().filename().string());
    }
    return names;
}

TEST(service_lifecycle, a_new_service_takes_over_when_the_client_quits) {
    world w("quit_after:1");
    ASSERT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0);
    const auto first = w.service_pid();
    ASSERT_TRUE(first.has_value());
    // The service notices at once, not only at the next front end.
    EXPECT_TRUE(log_has(w, "ZORV quit unexpectedly...exiting"));
    EXPECT_TRUE(ends(*first));
    EXPECT_EQ(socket_files(w), std::vector<std::string>{});

    ASSERT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0);
    EXPECT_NE(w.service_pid(), first);
}

TEST(service_lifecycle, a_client_that_dies_before_connecting_fails_only_the_first_run) {
    world w("die_before_connect");
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 255);
    EXPECT_LT(std::chrono::steady_clock::now() - started, seconds(10));
    EXPECT_TRUE(log_has(w, "ZORV exited before connecting"));
    EXPECT_TRUE(log_has(w, "Failed to launch ZORV \n"));
    ASSERT_TRUE(w.service_pid().has_value());
    EXPECT_TRUE(ends(*w.service_pid()));
    EXPECT_EQ(socket_files(w), std::vector<std::string>{});

    w.env["FAKE_CLIENT_MODE"] = "true";
    EXPECT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0);
}

TEST(service_lifecycle, a_new_service_takes_over_after_the_service_was_killed) {
    world w;
    ASSERT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0);
    const auto first = w.service_pid();
    ASSERT_TRUE(first.has_value());
    ASSERT_EQ(kill(*first, SIGKILL), 0);
    ASSERT_TRUE(ends(*first));

    EXPECT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0);
    EXPECT_NE(w.service_pid(), first);
}

TEST(service_lifecycle, debug_mode_prints_the_pipe_name_and_serves_a_client_started_by_hand) {
    world w;
    test_support::run_options options;
    options.env = w.env;
    test_support::background_program service =
        w.start("zorv_service", {(w.box.product_dir() / "ZorvHome").string(), "-debug"});
    std::optional<std::string> reply;
    std::thread front_end([&] { reply = exchange("<methodCall/>"); });

    const std::string line = service.read_line(seconds(20));
    ASSERT_EQ(line.rfind(R"(\\.\pipe\qorva\tarvel\varnex71\zorv_service_pipe)", 0), 0u) << line;
    const std::string name = line.back() == '\n' ? line.substr(0, line.size() - 1) : line;
    EXPECT_TRUE(log_has(w, "Debug option was passed, ZORV will not be launched"));
    EXPECT_FALSE(fs::exists(w.client_dir / "argv.txt"));  // nothing started

    test_support::background_program client(
        {test_support::built_program("fake_zorvexplorer").string(),
         "-Dcom.qorva.tarvel.team.client.integration.wrapperpipe=" + name},
        options);
    front_end.join();
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(*reply, fake_client::true_answer);
    EXPECT_EQ(w.service_log(),
              "Debug option was passed, ZORV will not be launched\n" + name + "\n");
}

TEST(service_lifecycle, without_arguments_the_first_front_end_ends_the_service) {
    world w;
    test_support::background_program service = w.start("zorv_service", {});
    EXPECT_FALSE(exchange("<methodCall/>").has_value());
    EXPECT_EQ(service.wait(seconds(20)), 255);
    EXPECT_EQ(w.service_log(), "Path of zorv path is not passed by argv, quitting...\n");
}

// The client's command line as the service logs it, for a client folder; the wrapper
// pipe's token is random, so it stands as a pattern.
std::string client_line_pattern(const std::string& folder) {
    return std::regex_replace(folder, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)") +
           R"(/zorvexplorer" -product com\.qorva\.tarvel\.team\.client\.integration\.product )"
           R"(-application com\.qorva\.tarvel\.team\.client\.integration\.application )"
           R"(-configuration @user\.home\\\.Tarvel\\ZXE8\\config )"
           R"(-data @user\.home\\\.Tarvel\\ZXE8\\workspace -persistState false -nosplash )"
           R"(-vmargs -Dcom\.qorva\.tarvel\.team\.client\.integration\.wrapperpipe=)"
           R"("\\\\\.\\pipe\\qorva\\tarvel\\varnex71\\zorv_service_pipe[0-9]+)" +
           common::login_name() + "\"";
}

TEST(service_lifecycle, a_client_that_cannot_be_started_ends_the_service_at_the_first_front_end) {
    struct row {
        const char* what;
        std::string folder;  // the service's first argument
    };
    world w;
    const fs::path empty = w.box.root() / "empty-client-folder";
    fs::create_directories(empty);
    const std::vector<row> rows = {
        {"a client folder without the client", empty.string()},
        // "-debug" in the first place is a folder name, and no such folder exists.
        {"-debug as the only argument", "-debug"},
    };
    for (const row& r : rows) {
        fs::remove(w.box.user_work_dir() / "zorv_service.log");
        test_support::background_program service = w.start("zorv_service", {r.folder});
        EXPECT_FALSE(exchange("<methodCall/>").has_value()) << r.what;
        EXPECT_EQ(service.wait(seconds(20)), 255) << r.what;
        const std::string log = w.service_log();
        const std::size_t first_end = log.find('\n');
        ASSERT_NE(first_end, std::string::npos) << r.what << ": " << log;
        const std::string first_line = log.substr(0, first_end);
        const std::string& folder = r.folder;
        EXPECT_TRUE(std::regex_match(first_line, std::regex("\"" + client_line_pattern(folder))))
            << r.what << ": " << first_line;
        EXPECT_EQ(log.substr(first_end + 1),
                  "Could not create ZORV process\nFailed to launch ZORV \n\n")
            << r.what;
        EXPECT_FALSE(fs::exists(w.client_dir / "argv.txt")) << r.what;
    }
}

TEST(service_lifecycle, a_second_start_leaves_the_live_service_its_log_and_pid_file) {
    const std::string marker = "line of the live service\n";
    struct row {
        const char* what;
        std::function<void(world&)> second_start;
    };
    const std::vector<row> rows = {
        {"by hand with the client folder",
         [](world& w) {
             const auto r = w.run("zorv_service", {(w.box.product_dir() / "ZorvHome").string()});
             EXPECT_EQ(r.exit_code, 255);
             EXPECT_EQ(r.out, "zorv_service is already running for this user; this one ends\n");
         }},
        {"as zorv_service --help",
         [](world& w) {
             const auto r = w.run("zorv_service", {"--help"});
             EXPECT_EQ(r.exit_code, 255);
             EXPECT_EQ(r.out, "zorv_service is already running for this user; this one ends\n");
         }},
        // A program file replaced by an update ends the live service instead:
        // retire_e2e_test.cpp.
    };
    for (const row& r : rows) {
        world w;
        ASSERT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0) << r.what;
        const auto live = w.service_pid();
        ASSERT_TRUE(live.has_value()) << r.what;
        std::ofstream(w.box.user_work_dir() / "zorv_service.log", std::ios::app) << marker;

        r.second_start(w);
        EXPECT_EQ(w.service_pid(), live) << r.what;
        EXPECT_NE(w.service_log().find(marker), std::string::npos) << r.what;
        EXPECT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0) << r.what;
        EXPECT_EQ(w.service_pid(), live) << r.what;
        EXPECT_TRUE(process_alive(*live)) << r.what;
        w.box.kill_product_processes();
    }
}

}  // namespace
}  // namespace service_e2e

namespace service_e2e {
namespace {

TEST(service_lifecycle, a_live_service_with_a_full_queue_keeps_its_log_and_pid_file) {
    world w;
    ASSERT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0);
    const auto live = w.service_pid();
    ASSERT_TRUE(live.has_value());
    const std::string marker = "line of the live service\n";
    std::ofstream(w.box.user_work_dir() / "zorv_service.log", std::ios::app) << marker;
    // Stopped, it takes no front end, and they queue until the queue is full.
    ASSERT_EQ(kill(*live, SIGSTOP), 0);
    rlimit files{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &files), 0);
    files.rlim_cur = files.rlim_max;
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &files), 0);
    const std::string path =
        platform::pipe_socket_path(launcher_pipe_name(), w.box.pipe_dir().string());
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::strncpy(addr.sun_path, path.c_str(), sizeof addr.sun_path - 1);
    std::vector<int> queued;
    for (int fd = 0; fd >= 0 && queued.size() < 100000;) {
        fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
            ASSERT_EQ(errno, EAGAIN);
            close(fd);
            fd = -1;
        }
        if (fd >= 0) queued.push_back(fd);
    }

    const auto second = w.run("zorv_service", {(w.box.product_dir() / "ZorvHome").string()});
    EXPECT_EQ(second.exit_code, 255);
    EXPECT_EQ(second.out, "zorv_service is already running for this user; this one ends\n");
    EXPECT_EQ(w.service_pid(), live);
    EXPECT_NE(w.service_log().find(marker), std::string::npos);
    for (int fd : queued) close(fd);
    kill(*live, SIGKILL);
}

TEST(service_lifecycle, a_live_service_of_another_pipe_folder_gets_a_neighbour_for_this_one) {
    // A desktop session's service listens in its runtime directory; an ssh session of the
    // same user, without one, shares the temporary folder and so the pid file.
    world w;
    const fs::path desktop_pipes = w.box.root() / "desktop-pipes";
    w.env["VARNEX_PIPE_DIR"] = desktop_pipes.string();
    ASSERT_EQ(w.trelmerge({"a.txt", "b.txt"}).exit_code, 0);
    const auto desktop = w.service_pid();
    ASSERT_TRUE(desktop.has_value());

    w.env["VARNEX_PIPE_DIR"] = w.box.pipe_dir().string();
    w.env["VARNEX_CONNECT_WAIT_MS"] = "200";
    const auto run = w.trelmerge({"a.txt", "b.txt"});
    EXPECT_EQ(run.exit_code, 0) << run.out << run.err;
    EXPECT_NE(w.service_pid(), desktop);
    EXPECT_TRUE(process_alive(*desktop));
}

}  // namespace
}  // namespace service_e2e
