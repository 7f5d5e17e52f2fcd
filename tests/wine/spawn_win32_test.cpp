// platform::spawn on Windows: where the child starts, whether it is hidden, and that this
// process stays where it is. The child is this test program again, in a helper role.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <fstream>
#include <string>
#include <vector>

#include "platform/process.h"
#include "tests/helpers/record_argv.h"

namespace {

using namespace std::chrono_literals;

// Names the file that the helper role writes; unset, the helper test does nothing.
constexpr const char* probe_file_env = "VARNEX_SPAWN_PROBE_FILE";

// What the helper saw of its own start.
struct start_seen {
    std::string cwd;
    bool hidden = false;   // told to show no window
    bool console = false;  // has a console
    bool operator==(const start_seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const start_seen& s) {
    return out << "{" << s.cwd << ", hidden " << s.hidden << ", console " << s.console << "}";
}

std::string current_folder() {
    char buf[MAX_PATH] = {};
    GetCurrentDirectoryA(sizeof buf, buf);
    return buf;
}

bool has_console() { return GetConsoleCP() != 0; }

std::string own_path() {
    char own[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, own, sizeof own);
    return own;
}

std::string fresh_folder(const std::string& name) {
    char base[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, base);
    const std::string dir = std::string(base) + name + " " + std::to_string(GetCurrentProcessId());
    CreateDirectoryA(dir.c_str(), nullptr);
    return dir;
}

TEST(win32_spawn_helper, writes_how_it_was_started) {
    char file[MAX_PATH] = {};
    if (!GetEnvironmentVariableA(probe_file_env, file, sizeof file)) {
        GTEST_SKIP() << "the helper role of the spawn tests";
    }
    STARTUPINFOA startup{};
    GetStartupInfoA(&startup);
    const bool hidden =
        (startup.dwFlags & STARTF_USESHOWWINDOW) != 0 && startup.wShowWindow == SW_HIDE;
    std::ofstream(file, std::ios::binary) << current_folder() << '\n'
                                          << hidden << '\n'
                                          << has_console() << '\n';
}

start_seen read_seen(const std::string& file) {
    std::ifstream in(file, std::ios::binary);
    start_seen seen;
    std::string hidden, console;
    std::getline(in, seen.cwd);
    std::getline(in, hidden);
    std::getline(in, console);
    seen.hidden = hidden == "1";
    seen.console = console == "1";
    return seen;
}

TEST(win32_spawn, places_the_child_as_its_options_say_and_leaves_this_process_where_it_is) {
    const std::string folder = fresh_folder("varnex spawn");
    const std::string file = folder + "\\seen.txt";
    const std::string here = current_folder();
    const bool console = has_console();
    struct row {
        const char* what;
        platform::spawn_options options;
        start_seen expected;
    };
    // Hidden, a child has a windowless console of its own; detached, it has none of ours.
    const row rows[] = {
        {"defaults", {}, {here, false, console}},
        {"a working folder", {folder, false, false}, {folder, false, console}},
        {"hidden", {"", true, false}, {here, true, true}},
        {"detached", {"", false, true}, {here, false, false}},
        {"all three", {folder, true, true}, {folder, true, true}},
    };
    SetEnvironmentVariableA(probe_file_env, file.c_str());
    for (const row& r : rows) {
        DeleteFileA(file.c_str());
        platform::process child = platform::spawn(
            {own_path(), "--gtest_filter=win32_spawn_helper.*", "--gtest_brief=1"}, r.options);
        ASSERT_TRUE(child.valid()) << r.what;
        EXPECT_EQ(child.wait_for_exit(60s), 0) << r.what;
        start_seen seen = read_seen(file);
        // The file system ignores letter case; the folder may come back in other letters.
        EXPECT_EQ(_stricmp(seen.cwd.c_str(), r.expected.cwd.c_str()), 0) << seen.cwd;
        seen.cwd = r.expected.cwd;
        EXPECT_EQ(seen, r.expected) << r.what;
        EXPECT_EQ(current_folder(), here) << r.what;
    }
    SetEnvironmentVariableA(probe_file_env, nullptr);
    DeleteFileA(file.c_str());
    RemoveDirectoryA(folder.c_str());
}

TEST(win32_spawn, passes_each_argument_unchanged_and_refuses_what_cannot_start) {
    const std::string folder = fresh_folder("varnex spawn argv");
    const std::string record = folder + "\\argv.rec";
    const std::string helper = own_path().substr(0, own_path().rfind('\\')) + "\\record_argv.exe";
    const std::vector<std::string> argv = {helper,     "two words", "trailing\\",
                                           "a\"quote", "",          "%PATH%"};
    SetEnvironmentVariableA(test_helpers::record_argv_file_env, record.c_str());
    platform::process child = platform::spawn(argv);
    ASSERT_TRUE(child.valid());
    EXPECT_EQ(child.wait_for_exit(60s), 0);
    SetEnvironmentVariableA(test_helpers::record_argv_file_env, nullptr);
    const auto run = test_helpers::read_recorded_run(record);
    ASSERT_TRUE(run.has_value());
    EXPECT_EQ(run->argv, argv);

    struct row {
        const char* what;
        std::vector<std::string> argv;
        std::string working_folder;
    };
    const row rows[] = {
        {"a working folder that does not exist", {helper}, folder + "\\missing"},
        {"a working folder that is a file", {helper}, record},
        {"a program that does not exist", {folder + "\\missing.exe"}, ""},
        {"an empty program name", {""}, ""},
        {"no argv at all", {}, ""},
    };
    for (const row& r : rows) {
        platform::spawn_options options;
        options.working_folder = r.working_folder;
        EXPECT_FALSE(platform::spawn(r.argv, options).valid()) << r.what;
    }
    DeleteFileA(record.c_str());
    RemoveDirectoryA(folder.c_str());
}

}  // namespace
