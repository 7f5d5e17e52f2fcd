// What another local user can do to our service, pipes and files: every attempt fails
// quickly for them, or fails quickly and clearly for us, and nothing of theirs is followed.
// Our side runs as this process's user, theirs as the second test user.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <functional>

#include "common/login_name.h"
#include "common/pipe_names.h"
#include "platform/pipe.h"
#include "tests/helpers/record_argv.h"
#include "tests/service/e2e_support.h"
#include "tests/support/second_user.h"

namespace service_e2e {
namespace {

using std::chrono::seconds;

// A world whose temporary and pipe folders lie in a sticky folder open to everyone, as /tmp
// is, so that the other user can reach the names we are going to use.
struct shared_world {
    world w;
    test_support::unix_user other;
    fs::path shared;
    fs::path pipes;     // our pipe folder, not made yet
    fs::path work_dir;  // our work folder, not made yet
    fs::path theirs;    // a private folder of the other user

    explicit shared_world(const test_support::unix_user& user) : other(user) {
        shared = w.box.root() / "shared";
        fs::create_directory(shared);
        chmod(shared.c_str(), 01777);
        test_support::open_path_to_others(shared.string());
        // The other user runs our programs too, from the same installation.
        for (const auto& entry : fs::recursive_directory_iterator(w.box.product_dir())) {
            chmod(entry.path().c_str(), 0755);
        }
        chmod(w.box.product_dir().c_str(), 0755);
        pipes = shared / ("varnex-pipes-" + std::to_string(geteuid()));
        work_dir = shared / (common::login_name() + ".trelmerge");
        theirs = shared / "theirs";
        w.env["TMPDIR"] = shared.string();
        w.env["VARNEX_PIPE_DIR"] = pipes.string();
        // A run that reaches the connect loop waits minutes and misses its deadline.
        w.env["VARNEX_CONNECT_PAUSE_MS"] = "60000";
        w.box.install("record_argv", "bin/trelprompt");
        w.env[test_helpers::record_argv_file_env] = (w.box.root() / "prompt").string();
        w.deadline = seconds(20);
    }

    /// Runs fn as the other user; its result, 0 meaning it did what the row asked.
    int as_other(const std::function<int()>& fn) { return test_support::run_as(other, fn); }

    test_support::run_result trelmerge() { return w.trelmerge({"a.txt", "b.txt"}); }
};

int make_dir(const fs::path& dir, mode_t mode) {
    return mkdir(dir.c_str(), mode) == 0 && chmod(dir.c_str(), mode) == 0 ? 0 : 1;
}

TEST(cross_user, squatted_or_planted_folders_fail_our_run_at_once_and_clearly) {
    std::string why;
    const auto user = test_support::second_user(why);
    if (!user) GTEST_SKIP() << why;
    struct row {
        const char* what;
        std::function<int(shared_world&)> plant;        // run as the other user
        std::function<std::string(shared_world&)> err;  // the work folder's: prompt alone
    };
    const std::vector<row> rows = {
        {"pipe folder made first by them", [](shared_world& s) { return make_dir(s.pipes, 0700); },
         [](shared_world& s) {
             return "trelmerge: The pipe directory " + s.pipes.string() +
                    " belongs to another user\n";
         }},
        {"pipe folder made first by them and open to all",
         [](shared_world& s) { return make_dir(s.pipes, 0777); },
         [](shared_world& s) {
             return "trelmerge: The pipe directory " + s.pipes.string() +
                    " belongs to another user\n";
         }},
        {"pipe folder a link to a folder of theirs",
         [](shared_world& s) {
             return make_dir(s.theirs, 0777) | (symlink(s.theirs.c_str(), s.pipes.c_str()) != 0);
         },
         [](shared_world& s) {
             return "trelmerge: The pipe directory " + s.pipes.string() + " is a symbolic link\n";
         }},
        {"work folder made first by them",
         [](shared_world& s) { return make_dir(s.work_dir, 0777); },
         [](shared_world&) { return std::string(); }},
        {"work folder a link to a folder of theirs",
         [](shared_world& s) {
             return make_dir(s.theirs, 0777) | (symlink(s.theirs.c_str(), s.work_dir.c_str()) != 0);
         },
         [](shared_world&) { return std::string(); }},
    };
    for (const row& r : rows) {
        shared_world s(*user);
        ASSERT_EQ(s.as_other([&] { return r.plant(s); }), 0) << r.what;

        const auto result = s.trelmerge();
        EXPECT_EQ(result.exit_code, 255) << r.what;
        EXPECT_EQ(result.err, r.err(s)) << r.what;
        EXPECT_TRUE(test_helpers::read_recorded_run((s.w.box.root() / "prompt").string()))
            << r.what;
        // Nothing of ours was written into their folder.
        if (fs::exists(s.theirs)) {
            EXPECT_TRUE(fs::is_empty(s.theirs)) << r.what;
        }
    }
}

TEST(cross_user, our_live_service_pipes_and_files_stay_out_of_their_reach) {
    std::string why;
    const auto user = test_support::second_user(why);
    if (!user) GTEST_SKIP() << why;
    shared_world s(*user);
    ASSERT_EQ(s.trelmerge().exit_code, 0);
    const std::string launcher = launcher_pipe_name();
    const std::string socket_path = platform::pipe_socket_path(launcher, s.pipes.string());
    const std::string pipes = s.pipes.string();

    struct row {
        const char* what;
        std::function<int()> attempt;  // 0 when the attempt failed as it must
    };
    const std::vector<row> rows = {
        {"opens our launcher request pipe",
         [&] {
             setenv("VARNEX_PIPE_DIR", pipes.c_str(), 1);
             return platform::pipe::open(launcher, platform::pipe_open::read_write).valid();
         }},
        {"waits for our launcher request pipe",
         [&] {
             setenv("VARNEX_PIPE_DIR", pipes.c_str(), 1);
             return static_cast<int>(platform::wait_named_pipe(launcher, 1000));
         }},
        {"connects to our socket directly",
         [&] {
             const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
             sockaddr_un addr{};
             addr.sun_family = AF_UNIX;
             std::strncpy(addr.sun_path, socket_path.c_str(), sizeof addr.sun_path - 1);
             return connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0 ? 1 : 0;
         }},
        {"creates a pipe of ours in our folder",
         [&] {
             setenv("VARNEX_PIPE_DIR", pipes.c_str(), 1);
             return platform::pipe::create_server(common::service_pipe_name("1234", "x"), {})
                 .valid();
         }},
        {"writes our pid file",
         [&] {
             return open((s.work_dir / "zorv_service.pid").c_str(), O_WRONLY | O_NOFOLLOW) >= 0;
         }},
        {"reads our log",
         [&] { return open((s.work_dir / "zorv_service.log").c_str(), O_RDONLY) >= 0; }},
    };
    for (const row& r : rows) {
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(s.as_other(r.attempt), 0) << r.what;
        EXPECT_LT(std::chrono::steady_clock::now() - started, seconds(10)) << r.what;
    }

    // Their own front end pointed at our pipe folder fails at once and says why.
    test_support::run_options options;
    options.env = s.w.env;
    options.env["TMPDIR"] = s.shared.string();
    options.cwd = s.shared.string();
    options.deadline = seconds(20);
    const auto theirs = test_support::run_program_as(
        *user, {(s.w.box.product_dir() / "bin/trelmerge").string(), "x", "y"}, options);
    EXPECT_EQ(theirs.exit_code, 255);
    EXPECT_EQ(theirs.err, "trelmerge: The pipe directory " + pipes + " belongs to another user\n");

    // And our service still serves us.
    EXPECT_EQ(s.trelmerge().exit_code, 0);
}

}  // namespace
}  // namespace service_e2e
