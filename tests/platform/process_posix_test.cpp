#include <gtest/gtest.h>
#include <signal.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/command_line.h"
#include "platform/process.h"
#include "tests/helpers/record_argv.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using test_helpers::read_recorded_run;
using test_support::sandbox;

// Points record_argv (inherited environment) at a record file and an exit code.
struct record_env {
    explicit record_env(const fs::path& file, int code = 0) {
        setenv(test_helpers::record_argv_file_env, file.c_str(), 1);
        setenv(test_helpers::record_argv_exit_env, std::to_string(code).c_str(), 1);
    }
    ~record_env() {
        unsetenv(test_helpers::record_argv_file_env);
        unsetenv(test_helpers::record_argv_exit_env);
    }
};

std::string recorder() { return test_support::built_program("record_argv").string(); }

TEST(run_and_wait, returns_the_exit_code) {
    sandbox box;
    for (int code : {0, 3, 255}) {
        record_env env(box.work_dir() / "rec", code);
        EXPECT_EQ(platform::run_and_wait(recorder(), {recorder()}), code);
    }
}

TEST(run_and_wait, passes_every_argument_unchanged_without_a_shell) {
    sandbox box;
    const fs::path rec = box.work_dir() / "rec";
    record_env env(rec);
    const std::vector<std::string> argv = {
        "name-as-given", "", R"("quoted")", "$(touch x)", "%PATH%", "a b\\", "*"};
    const fs::path cwd = fs::current_path();
    fs::current_path(box.work_dir());
    EXPECT_EQ(platform::run_and_wait(recorder(), argv), 0);
    fs::current_path(cwd);
    const auto run = read_recorded_run(rec);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->argv, argv);
    EXPECT_FALSE(fs::exists(box.work_dir() / "x"));
}

TEST(run_and_wait, gives_128_plus_the_signal_of_a_killed_program) {
    EXPECT_EQ(platform::run_and_wait("/bin/sh", {"sh", "-c", "kill -9 $$"}), 128 + SIGKILL);
}

TEST(run_and_wait, gives_nothing_for_a_program_that_cannot_start) {
    sandbox box;
    EXPECT_FALSE(platform::run_and_wait((box.root() / "missing").string(), {"missing"}));
    // A path, not a name to look up.
    EXPECT_FALSE(platform::run_and_wait("sh", {"sh", "-c", "exit 0"}));
}

TEST(start_process, inherits_the_current_directory_and_splits_the_command_line) {
    sandbox box;
    const fs::path rec = box.work_dir() / "rec";
    record_env env(rec, 4);
    const fs::path cwd = fs::current_path();
    fs::current_path(box.work_dir());
    auto child = platform::start_process(platform::join_command_line({recorder(), "a b", R"(c")"}));
    fs::current_path(cwd);
    ASSERT_TRUE(child.valid());
    EXPECT_EQ(child.wait_for_exit(20s), 4);
    const auto run = read_recorded_run(rec);
    ASSERT_TRUE(run);
    EXPECT_EQ(fs::path(run->cwd), fs::canonical(box.work_dir()));
    EXPECT_EQ(run->argv, (std::vector<std::string>{recorder(), "a b", R"(c")"}));
}

TEST(start_process, gives_an_invalid_process_for_a_missing_program) {
    sandbox box;
    EXPECT_FALSE(
        platform::start_process(platform::join_command_line({box.root() / "none"})).valid());
    EXPECT_FALSE(platform::start_process("").valid());
}

TEST(start_hidden_detached, runs_in_its_own_session_with_streams_on_dev_null) {
    sandbox box;
    const fs::path out = box.work_dir() / "out";
    const std::string script =
        "echo $(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) "
        "$(readlink /proc/$$/fd/2) > '" +
        out.string() + ".tmp'; cut -d' ' -f6 /proc/$$/stat >> '" + out.string() + ".tmp'; mv '" +
        out.string() + ".tmp' '" + out.string() + "'";
    auto child =
        platform::start_hidden_detached(platform::join_command_line({"/bin/sh", "-c", script}));
    ASSERT_TRUE(child.valid());
    EXPECT_EQ(child.wait_for_exit(20s), 0);
    EXPECT_EQ(test_support::read_file(out),
              "/dev/null /dev/null /dev/null\n" + std::to_string(child.id()) + "\n");
}

TEST(process, has_ended_and_wait_for_exit_keep_their_deadlines) {
    auto child = platform::start_process("/bin/sleep 60");
    ASSERT_TRUE(child.valid());
    EXPECT_FALSE(child.has_ended());
    const auto start = std::chrono::steady_clock::now();
    EXPECT_FALSE(child.wait_for_exit(100ms));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 90ms);
    EXPECT_LT(waited, 10s);
    EXPECT_FALSE(child.wait_for_exit(0ms));
    ASSERT_EQ(kill(child.id(), SIGKILL), 0);
    EXPECT_EQ(child.wait_for_exit(20s), 128 + SIGKILL);
    EXPECT_TRUE(child.has_ended());
    // The code is remembered once reaped.
    EXPECT_EQ(child.wait_for_exit(0ms), 128 + SIGKILL);
}

TEST(process, moves_leave_the_source_empty) {
    sandbox box;
    record_env env(box.work_dir() / "rec", 7);
    auto a = platform::start_process(platform::join_command_line({recorder()}));
    ASSERT_TRUE(a.valid());
    const int pid = a.id();
    platform::process b = std::move(a);
    EXPECT_FALSE(a.valid());
    EXPECT_EQ(b.id(), pid);
    EXPECT_EQ(b.wait_for_exit(20s), 7);
}

TEST(process_executable_path, names_our_own_executable_and_nothing_for_a_dead_pid) {
    char self[4096];
    const ssize_t n = readlink("/proc/self/exe", self, sizeof self - 1);
    ASSERT_GT(n, 0);
    EXPECT_EQ(platform::process_executable_path(platform::current_process_id()),
              std::string(self, static_cast<std::size_t>(n)));

    sandbox box;
    record_env env(box.work_dir() / "rec");
    auto child = platform::start_process(platform::join_command_line({recorder()}));
    ASSERT_TRUE(child.valid());
    ASSERT_EQ(child.wait_for_exit(20s), 0);
    EXPECT_EQ(platform::process_executable_path(child.id()), "");
    EXPECT_EQ(platform::process_executable_path(0), "");
    EXPECT_EQ(platform::process_executable_path(-1), "");
}

TEST(current_directory, follows_set_current_directory) {
    sandbox box;
    const std::string before = platform::current_directory();
    ASSERT_FALSE(before.empty());
    ASSERT_TRUE(platform::set_current_directory(box.work_dir()));
    EXPECT_EQ(fs::path(platform::current_directory()), fs::canonical(box.work_dir()));
    EXPECT_FALSE(platform::set_current_directory((box.root() / "missing").string()));
    ASSERT_TRUE(platform::set_current_directory(before));
    EXPECT_EQ(platform::current_directory(), before);
}

}  // namespace
