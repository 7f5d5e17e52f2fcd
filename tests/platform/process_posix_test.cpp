#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <ostream>
#include <sstream>
#include <string>
#include <vector>

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

// Where a process's directory and standard streams lead, and whether it leads a session.
struct placement {
    std::string cwd;
    bool own_session = false;
    std::string streams;  // the targets of descriptors 0, 1 and 2, blank-separated
    bool operator==(const placement&) const = default;
};

std::ostream& operator<<(std::ostream& out, const placement& p) {
    return out << "{" << p.cwd << ", own session " << p.own_session << ", " << p.streams << "}";
}

std::string link_target(const std::string& path) {
    std::error_code ec;
    return fs::read_symlink(path, ec).string();
}

placement this_process() {
    return {link_target("/proc/self/cwd"), getsid(0) == getpid(),
            link_target("/proc/self/fd/0") + " " + link_target("/proc/self/fd/1") + " " +
                link_target("/proc/self/fd/2")};
}

// A program that writes its own placement to the file named by its argument.
fs::path install_probe(const fs::path& path) {
    fs::create_directories(path.parent_path());
    test_support::write_file(path,
                             "#!/bin/sh\n"
                             "s=\"$(readlink /proc/$$/fd/0) $(readlink /proc/$$/fd/1) "
                             "$(readlink /proc/$$/fd/2)\"\n"
                             "{ readlink /proc/$$/cwd; cut -d' ' -f6 /proc/$$/stat; echo $$; "
                             "echo \"$s\"; } > \"$1.tmp\" && mv \"$1.tmp\" \"$1\"\n");
    fs::permissions(path, fs::perms::owner_all);
    return path;
}

placement read_placement(const fs::path& file) {
    std::istringstream in(test_support::read_file(file));
    placement p;
    std::string session, pid;
    std::getline(in, p.cwd);
    std::getline(in, session);
    std::getline(in, pid);
    std::getline(in, p.streams);
    p.own_session = !session.empty() && session == pid;
    return p;
}

TEST(spawn, places_the_child_as_its_options_say_and_leaves_this_process_where_it_is) {
    test_support::sandbox box;
    const fs::path probe = install_probe(box.work_dir() / "probe");
    const fs::path folder = box.work_dir() / "a \"folder\"";
    fs::create_directories(folder);
    const placement parent = this_process();
    const std::string null_streams = "/dev/null /dev/null /dev/null";
    struct row {
        const char* what;
        platform::spawn_options options;
        placement expected;
    };
    const row rows[] = {
        {"defaults", {}, {parent.cwd, false, parent.streams}},
        {"a working folder",
         {folder.string(), false, false},
         {folder.string(), false, parent.streams}},
        {"hidden", {"", true, false}, {parent.cwd, false, null_streams}},
        {"detached", {"", false, true}, {parent.cwd, true, parent.streams}},
        {"all three", {folder.string(), true, true}, {folder.string(), true, null_streams}},
    };
    for (const row& r : rows) {
        const fs::path out = box.work_dir() / (std::string(r.what) + ".out");
        platform::process child = platform::spawn({probe.string(), out.string()}, r.options);
        ASSERT_TRUE(child.valid()) << r.what;
        EXPECT_EQ(child.wait_for_exit(20s), 0) << r.what;
        EXPECT_EQ(read_placement(out), r.expected) << r.what;
        EXPECT_EQ(this_process(), parent) << r.what;
    }
}

TEST(spawn, finds_a_relative_program_from_this_directory_and_refuses_what_cannot_start) {
    test_support::sandbox box;
    install_probe(box.work_dir() / "tools" / "probe");
    const fs::path folder = box.work_dir() / "elsewhere";
    fs::create_directories(folder);
    const fs::path out = box.work_dir() / "out";
    const fs::path cwd = fs::current_path();
    fs::current_path(box.work_dir());
    struct row {
        const char* what;
        std::vector<std::string> argv;
        std::string working_folder;
        bool starts;
    };
    const row rows[] = {
        {"a relative program with a working folder",
         {"tools/probe", out.string()},
         folder.string(),
         true},
        {"a working folder that does not exist",
         {"tools/probe", out.string()},
         (box.work_dir() / "missing").string(),
         false},
        {"a working folder that is a file",
         {"tools/probe", out.string()},
         (box.work_dir() / "tools" / "probe").string(),
         false},
        {"a program that does not exist", {"tools/missing"}, "", false},
        {"an empty program name", {""}, "", false},
        {"no argv at all", {}, "", false},
    };
    for (const row& r : rows) {
        fs::remove(out);
        platform::spawn_options options;
        options.working_folder = r.working_folder;
        platform::process child = platform::spawn(r.argv, options);
        EXPECT_EQ(child.valid(), r.starts) << r.what;
        if (!child.valid()) continue;
        EXPECT_EQ(child.wait_for_exit(20s), 0) << r.what;
        EXPECT_EQ(read_placement(out).cwd, r.working_folder) << r.what;
    }
    EXPECT_EQ(fs::current_path(), box.work_dir());
    fs::current_path(cwd);
}

}  // namespace
