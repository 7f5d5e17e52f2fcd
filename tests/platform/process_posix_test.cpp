#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>

#include "platform/command_line.h"
#include "platform/process.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(run_and_wait, gives_128_plus_the_signal_of_a_killed_program) {
    EXPECT_EQ(platform::run_and_wait("/bin/sh", {"sh", "-c", "kill -9 $$"}), 128 + SIGKILL);
}

TEST(start_hidden_detached, runs_in_its_own_session_with_streams_on_dev_null) {
    test_support::sandbox box;
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

}  // namespace
