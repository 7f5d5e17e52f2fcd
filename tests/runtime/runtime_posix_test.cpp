#include <gtest/gtest.h>
#include <pwd.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <ctime>
#include <filesystem>
#include <string>

#include "common/product_runtime.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;

std::string tmpdir_text(int size = 4096) {
    std::string buf(static_cast<std::size_t>(size) + 8, '#');
    fileutl_get_tmpdir(0, buf.data(), size, 0);
    return buf.c_str();
}

// Restores TMPDIR whatever a case set it to.
struct tmpdir_guard {
    std::string old;
    bool had;
    tmpdir_guard() : had(getenv("TMPDIR") != nullptr) {
        if (had) old = getenv("TMPDIR");
    }
    ~tmpdir_guard() {
        if (had)
            setenv("TMPDIR", old.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }
};

TEST(fileutl_get_tmpdir, takes_tmpdir_when_set_and_not_empty) {
    tmpdir_guard guard;
    setenv("TMPDIR", "/some/where", 1);
    EXPECT_EQ(tmpdir_text(), "/some/where");
    setenv("TMPDIR", "", 1);
    EXPECT_EQ(tmpdir_text(), "/tmp");
    unsetenv("TMPDIR");
    EXPECT_EQ(tmpdir_text(), "/tmp");
}

TEST(fileutl_get_tmpdir, cuts_a_long_directory_to_the_buffer) {
    tmpdir_guard guard;
    setenv("TMPDIR", "/abcdefgh", 1);
    std::string buf(16, '#');
    fileutl_get_tmpdir(0, buf.data(), 5, 0);
    EXPECT_EQ(std::string(buf.c_str()), "/abc");
    EXPECT_EQ(buf[5], '#');
}

TEST(sysutl_myloginname, is_the_effective_users_name_and_stays_the_same) {
    const char* name = sysutl_myloginname();
    ASSERT_NE(name, nullptr);
    EXPECT_STRNE(name, "");
    if (const passwd* pw = getpwuid(geteuid())) {
        EXPECT_STREQ(name, pw->pw_name);
    }
    EXPECT_EQ(sysutl_myloginname(), name);
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

TEST(ks_product_dir, is_the_parent_of_the_folder_of_the_executable) {
    char buf[1024];
    ASSERT_EQ(ks_product_dir(buf, 0), buf);
    const fs::path exe = fs::canonical("/proc/self/exe");
    EXPECT_EQ(std::string(buf), exe.parent_path().parent_path().string());
    EXPECT_NE(std::string(buf).back(), '/');
}

TEST(fileutl_get_drive, is_empty_on_posix) { EXPECT_STREQ(fileutl_get_drive("/home/a"), ""); }

TEST(unix_nt_fopen, opens_exactly_readable_files) {
    test_support::sandbox box;
    test_support::write_file(box.work_dir() / "f", "x");
    unix_nt_file* f = unix_nt_fopen((box.work_dir() / "f").c_str(), "r");
    ASSERT_NE(f, nullptr);
    EXPECT_EQ(unix_nt_fclose(f), 0);
    EXPECT_EQ(unix_nt_fopen((box.work_dir() / "missing").c_str(), "r"), nullptr);
    EXPECT_EQ(unix_nt_fopen(box.work_dir().c_str(), "r"), nullptr) << "a directory";
}

TEST(unix_nt_time, is_the_current_time) {
    const std::int64_t before = std::time(nullptr);
    std::int64_t stored = 0;
    const std::int64_t now = unix_nt_time(&stored);
    EXPECT_EQ(now, stored);
    EXPECT_GE(now, before);
    EXPECT_LE(now, std::int64_t{std::time(nullptr)});
}

TEST(nt_owner_security_attributes, returns_one_lasting_marker) {
    void* a = nt_owner_security_attributes(0x1F01FF, 1);
    EXPECT_NE(a, nullptr);
    EXPECT_EQ(nt_owner_security_attributes(0x1F01FF, 1), a);
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
