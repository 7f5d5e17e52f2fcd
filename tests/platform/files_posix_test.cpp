#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/files.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using test_support::read_file;
using test_support::sandbox;

mode_t mode_of(const fs::path& p) {
    struct stat st {};
    EXPECT_EQ(lstat(p.c_str(), &st), 0);
    return st.st_mode & 07777;
}

TEST(is_private_directory, accepts_only_an_owner_only_real_directory) {
    sandbox box;
    const fs::path base = box.work_dir();
    const struct {
        const char* name;
        mode_t mode;
        bool is_private;
    } dirs[] = {
        {"private", 0700, true},     {"readonly", 0500, true}, {"group_read", 0740, false},
        {"other_exec", 0701, false}, {"open", 0777, false},
    };
    for (const auto& d : dirs) {
        const fs::path p = base / d.name;
        ASSERT_EQ(mkdir(p.c_str(), 0700), 0);
        ASSERT_EQ(chmod(p.c_str(), d.mode), 0);
        EXPECT_EQ(platform::is_private_directory(p), d.is_private) << d.name;
    }
    fs::create_directory_symlink(base / "private", base / "link");
    EXPECT_FALSE(platform::is_private_directory(base / "link"));
    test_support::write_file(base / "file", "x");
    chmod((base / "file").c_str(), 0600);
    EXPECT_FALSE(platform::is_private_directory(base / "file"));
    EXPECT_FALSE(platform::is_private_directory(base / "missing"));
}

TEST(is_private_directory, refuses_a_directory_of_another_user) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a directory away";
    sandbox box;
    const fs::path p = box.work_dir() / "theirs";
    ASSERT_EQ(mkdir(p.c_str(), 0700), 0);
    ASSERT_EQ(chown(p.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(platform::is_private_directory(p));
}

TEST(write_private_file, creates_owner_only_and_truncates_or_appends) {
    sandbox box;
    const fs::path p = box.work_dir() / "log";
    ASSERT_TRUE(platform::write_private_file(p, "one\n", platform::file_open::truncate));
    EXPECT_EQ(mode_of(p), 0600u);
    ASSERT_TRUE(platform::write_private_file(p, "two\n", platform::file_open::append));
    EXPECT_EQ(read_file(p), "one\ntwo\n");
    ASSERT_TRUE(platform::write_private_file(p, "", platform::file_open::truncate));
    EXPECT_EQ(read_file(p), "");
}

TEST(write_private_file, writes_a_large_text_whole) {
    sandbox box;
    const fs::path p = box.work_dir() / "big";
    const std::string big(3 << 20, 'z');
    ASSERT_TRUE(platform::write_private_file(p, big, platform::file_open::append));
    EXPECT_EQ(read_file(p), big);
}

TEST(write_private_file, does_not_follow_a_symbolic_link) {
    sandbox box;
    const fs::path target = box.work_dir() / "target";
    test_support::write_file(target, "keep");
    fs::create_symlink(target, box.work_dir() / "log");
    for (auto how : {platform::file_open::truncate, platform::file_open::append}) {
        EXPECT_FALSE(platform::write_private_file(box.work_dir() / "log", "evil", how));
    }
    EXPECT_EQ(read_file(target), "keep");
}

TEST(write_private_file, fails_in_a_missing_folder) {
    sandbox box;
    EXPECT_FALSE(platform::write_private_file(box.work_dir() / "no" / "log", "x",
                                              platform::file_open::append));
}

}  // namespace
