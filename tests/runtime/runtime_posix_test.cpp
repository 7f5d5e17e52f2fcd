#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "runtime/product_runtime.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;

TEST(fileutl_get_tmpdir, takes_a_set_tmpdir_or_tmp_and_cuts_it_to_the_buffer) {
    test_support::sandbox box;  // restores TMPDIR
    auto tmpdir = [](int size) {
        std::string buf(static_cast<std::size_t>(size) + 8, '#');
        fileutl_get_tmpdir(0, buf.data(), size, 0);
        return buf;
    };
    setenv("TMPDIR", "/abcdefgh", 1);
    EXPECT_EQ(std::string(tmpdir(4096).c_str()), "/abcdefgh");
    EXPECT_EQ(tmpdir(5).substr(0, 6), std::string("/abc\0#", 6));
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(std::string(tmpdir(4096).c_str()), "/tmp");
    unsetenv("TMPDIR");
    EXPECT_EQ(std::string(tmpdir(4096).c_str()), "/tmp");
}

TEST(unix_nt_mkdir, creates_owner_only_and_reports_eexist) {
    test_support::sandbox box;
    const fs::path dir = box.work_dir() / "made";
    ASSERT_EQ(unix_nt_mkdir(dir.c_str(), 0), 0);
    struct stat st {};
    ASSERT_EQ(stat(dir.c_str(), &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    errno = 0;
    EXPECT_NE(unix_nt_mkdir(dir.c_str(), 0), 0);
    EXPECT_EQ(errno, EEXIST);
    errno = 0;
    EXPECT_NE(unix_nt_mkdir((box.work_dir() / "no" / "such").c_str(), 0), 0);
    EXPECT_EQ(errno, ENOENT);
}

TEST(unix_nt_fopen, opens_exactly_readable_files) {
    test_support::sandbox box;
    test_support::write_file(box.work_dir() / "f", "x");
    unix_nt_file* f = unix_nt_fopen((box.work_dir() / "f").c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(unix_nt_fclose(f), 0);
    EXPECT_EQ(unix_nt_fopen((box.work_dir() / "missing").c_str(), "r"), nullptr);
    EXPECT_EQ(unix_nt_fopen(box.work_dir().c_str(), "r"), nullptr) << "a directory";
}

TEST(imsg_print, prints_the_selected_text_under_the_app_name) {
    const char* const texts[] = {"usage: x", "second text"};
    const std::uint16_t numbers[] = {1, 2};
    const imsg_catalogue table{"cat", "c", 1, 2, texts, numbers};
    imsg_set_app_name("trelmerge");
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(imsg_print(6, &table, 1), 0);
    EXPECT_EQ(imsg_print(6, &table, 2), -1);
    EXPECT_EQ(imsg_print(6, &table, -1), -1);
    EXPECT_EQ(::testing::internal::GetCapturedStderr(), "trelmerge: second text\n");
}

}  // namespace
