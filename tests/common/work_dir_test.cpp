#include "common/work_dir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using platform::path_style;
using test_support::read_file;
using test_support::sandbox;

TEST(compose_work_dir, adds_one_separator_whatever_tmpdir_ends_with) {
    const struct {
        const char* tmpdir;
        path_style style;
        const char* expected;
    } cases[] = {
        {R"(C:\Temp\)", path_style::windows, R"(C:\Temp\\alice.trelmerge)"},
        {"/tmp/", path_style::posix, "/tmp//alice.trelmerge"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(common::compose_work_dir(c.tmpdir, "alice", c.style), c.expected) << c.tmpdir;
    }
}

TEST(setup_work_dir, creates_an_owner_only_directory_and_accepts_it_again) {
    sandbox box;
    ASSERT_TRUE(common::setup_work_dir());
    EXPECT_EQ(common::get_work_dir(), box.user_work_dir().string());
    struct stat st {};
    ASSERT_EQ(lstat(box.user_work_dir().c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    test_support::write_file(box.user_work_dir() / "kept", "k");
    EXPECT_TRUE(common::setup_work_dir());
    EXPECT_EQ(read_file(box.user_work_dir() / "kept"), "k");
    EXPECT_EQ(common::work_file_path("zorv_service.pid"),
              (box.user_work_dir() / "zorv_service.pid").string());
}

// What someone else may have left under our name in a shared temporary directory.
enum class planted { symlink_to_private_dir, open_to_others, regular_file, other_owner };

class setup_work_dir_refuses : public ::testing::TestWithParam<planted> {};

TEST_P(setup_work_dir_refuses, what_is_not_a_private_directory) {
    sandbox box;
    const fs::path dir = box.user_work_dir();
    switch (GetParam()) {
        case planted::symlink_to_private_dir:
            ASSERT_EQ(mkdir((box.work_dir() / "elsewhere").c_str(), 0700), 0);
            fs::create_directory_symlink(box.work_dir() / "elsewhere", dir);
            break;
        case planted::open_to_others:
            ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
            ASSERT_EQ(chmod(dir.c_str(), 0777), 0);
            break;
        case planted::regular_file:
            test_support::write_file(dir, "");
            break;
        case planted::other_owner:
            if (geteuid() != 0) GTEST_SKIP() << "needs root to give a directory away";
            ASSERT_EQ(mkdir(dir.c_str(), 0700), 0);
            ASSERT_EQ(chown(dir.c_str(), 65534, 65534), 0);
            break;
    }
    EXPECT_FALSE(common::setup_work_dir());
    // The composed path is kept all the same.
    EXPECT_EQ(common::get_work_dir(), dir.string());
}

INSTANTIATE_TEST_SUITE_P(table, setup_work_dir_refuses,
                         ::testing::Values(planted::symlink_to_private_dir, planted::open_to_others,
                                           planted::regular_file, planted::other_owner));

TEST(log_file, is_emptied_at_start_and_gets_each_line_at_once) {
    sandbox box;
    ASSERT_TRUE(common::setup_work_dir());
    const fs::path log = box.user_work_dir() / "trelmerge.log";
    common::open_log_file(common::frontend_log_name);
    struct stat st {};
    ASSERT_EQ(stat(log.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    common::write_log_line("a line of an earlier run");
    // A second start empties what the first one wrote.
    common::open_log_file(common::frontend_log_name);
    EXPECT_EQ(read_file(log), "");
    const struct {
        const char* text;
        const char* file_after;
    } steps[] = {
        {"Unable to start zorv_service", "Unable to start zorv_service\n"},
        {"second", "Unable to start zorv_service\nsecond\n"},
        {"ends in its own line feed\n",
         "Unable to start zorv_service\nsecond\nends in its own line feed\n\n"},
        {"", "Unable to start zorv_service\nsecond\nends in its own line feed\n\n\n"},
    };
    for (const auto& s : steps) {
        common::write_log_line(s.text);
        EXPECT_EQ(read_file(log), s.file_after) << "after " << s.text;
    }
}

TEST(log_file, symbolic_link_is_not_followed_and_lines_go_to_standard_output) {
    sandbox box;
    ASSERT_TRUE(common::setup_work_dir());
    const fs::path target = box.work_dir() / "precious";
    test_support::write_file(target, "keep");
    fs::create_symlink(target, box.user_work_dir() / "zorv_service.log");
    common::open_log_file(common::service_log_name);
    EXPECT_EQ(read_file(target), "keep");
    ::testing::internal::CaptureStdout();
    common::write_log_line("Unable to start zorv_service");
    EXPECT_EQ(::testing::internal::GetCapturedStdout(), "Unable to start zorv_service\n");
    EXPECT_EQ(read_file(target), "keep");
}

TEST(log_file, keeps_lines_of_concurrent_writers_whole) {
    sandbox box;
    ASSERT_TRUE(common::setup_work_dir());
    common::open_log_file(common::service_log_name);
    auto line = [](int w, int i) {
        return "writer " + std::to_string(w) + " line " + std::to_string(i) + std::string(100, 'x');
    };
    std::set<std::string> expected;
    std::vector<std::thread> threads;
    for (int w = 0; w < 6; ++w) {
        for (int i = 0; i < 150; ++i) expected.insert(line(w, i));
        threads.emplace_back([w, &line] {
            for (int i = 0; i < 150; ++i) common::write_log_line(line(w, i));
        });
    }
    for (auto& t : threads) t.join();
    std::istringstream in(read_file(box.user_work_dir() / "zorv_service.log"));
    std::set<std::string> seen;
    std::size_t count = 0;
    for (std::string l; std::getline(in, l); ++count) seen.insert(l);
    EXPECT_EQ(count, expected.size());
    EXPECT_TRUE(seen == expected);
}

}  // namespace
