#include <gtest/gtest.h>
#include <signal.h>

#include <chrono>
#include <string>
#include <string_view>

#include "platform/process.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

TEST(run_and_wait, gives_128_plus_the_signal_of_a_killed_program) {
    EXPECT_EQ(platform::run_and_wait("/bin/sh", {"sh", "-c", "kill -9 $$"}), 128 + SIGKILL);
}

TEST(spawn, hidden_and_detached_runs_in_its_own_session_with_streams_on_dev_null) {
    test_support::sandbox box;
    const fs::path out = box.work_dir() / "out";
    const std::string script =
        "echo $(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) "
        "$(readlink /proc/$$/fd/2) > '" +
        out.string() + ".tmp'; cut -d' ' -f6 /proc/$$/stat >> '" + out.string() + ".tmp'; mv '" +
        out.string() + ".tmp' '" + out.string() + "'";
    platform::spawn_options options;
    options.hidden = true;
    options.detached = true;
    auto child = platform::spawn({"/bin/sh", "-c", script}, options);
    ASSERT_TRUE(child.valid());
    EXPECT_EQ(child.wait_for_exit(20s), 0);
    EXPECT_EQ(test_support::read_file(out),
              "/dev/null /dev/null /dev/null\n" + std::to_string(child.id()) + "\n");
}

TEST(process, has_ended_and_wait_for_exit_keep_their_deadlines) {
    auto child = platform::spawn_command_line("/bin/sleep 60");
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

// Writes "<cwd>|<1 when it leads a session of its own, else 0>|<targets of fds 0 1 2>" to $1.
constexpr std::string_view probe_script =
    "#!/bin/sh\n"
    "s=0; [ \"$(cut -d' ' -f6 /proc/$$/stat)\" = $$ ] && s=1\n"
    "echo \"$(readlink /proc/$$/cwd)|$s|$(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) "
    "$(readlink /proc/$$/fd/2)\" > \"$1\"\n";

TEST(spawn, places_the_child_as_its_options_say_and_leaves_this_process_where_it_is) {
    test_support::sandbox box;
    const std::string here = box.work_dir().string(), folder = here + "/a \"folder\"";
    const std::string out = here + "/out", null = "/dev/null /dev/null /dev/null";
    fs::create_directories(folder);
    test_support::write_file(box.work_dir() / "probe", probe_script);
    fs::permissions(box.work_dir() / "probe", fs::perms::owner_all);
    std::string ours;
    for (int fd : {0, 1, 2})
        ours += (fd ? " " : "") + fs::read_symlink("/proc/self/fd/" + std::to_string(fd)).string();
    const fs::path cwd = fs::current_path();
    fs::current_path(here);  // the probe is named from here, also when it starts elsewhere
    const struct {
        platform::spawn_options options;
        std::string expected;  // empty: it does not start
    } rows[] = {
        {{}, here + "|0|" + ours},
        {{folder, false, false}, folder + "|0|" + ours},
        {{"", true, false}, here + "|0|" + null},
        {{"", false, true}, here + "|1|" + ours},
        {{folder, true, true}, folder + "|1|" + null},
        {{here + "/missing", false, false}, ""},
    };
    for (const auto& r : rows) {
        fs::remove(out);
        const platform::process child = platform::spawn({"./probe", out}, r.options);
        EXPECT_EQ(child.valid(), !r.expected.empty()) << r.expected;
        if (child.valid()) {
            EXPECT_EQ(child.wait_for_exit(20s), 0);
            EXPECT_EQ(test_support::read_file(out), r.expected + "\n");
        }
        EXPECT_EQ(fs::current_path(), here);
    }
    fs::current_path(cwd);
}

}  // namespace
