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

}  // namespace
