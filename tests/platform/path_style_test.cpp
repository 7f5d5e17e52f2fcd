#include "platform/path_style.h"

#include <gtest/gtest.h>

#include <string>

using platform::path_style;

namespace {

struct resolve_case {
    const char* cwd;
    const char* name;
    const char* expected;
};

// The drive lookup of the programs, with a marker that shows when it is asked.
std::string drive_of(std::string_view dir) {
    const std::string d = platform::drive_designation(dir);
    return d.empty() ? std::string("?:") : d;
}

class windows_resolve : public ::testing::TestWithParam<resolve_case> {};

TEST_P(windows_resolve, gives_the_absolute_name) {
    const auto& c = GetParam();
    std::string name = c.name;
    platform::resolve_path(name, c.cwd, path_style::windows, drive_of);
    EXPECT_EQ(name, c.expected) << "cwd " << c.cwd << ", name " << c.name;
}

INSTANTIATE_TEST_SUITE_P(
    table, windows_resolve,
    ::testing::Values(resolve_case{R"(D:\work)", "x.txt", R"(D:\work\x.txt)"},
                      resolve_case{R"(D:\work)", R"(sub\x.txt)", R"(D:\work\sub\x.txt)"},
                      resolve_case{R"(D:\work)", R"(\x.txt)", R"(D:\x.txt)"},
                      resolve_case{R"(D:\work)", "C:x.txt", "C:x.txt"},
                      resolve_case{R"(D:\work)", R"(C:\x.txt)", R"(C:\x.txt)"},
                      resolve_case{R"(D:\work)", R"(\\srv\share\x.txt)", R"(\\srv\share\x.txt)"},
                      resolve_case{R"(D:\)", "x.txt", R"(D:\\x.txt)"},
                      resolve_case{R"(D:\)", R"(\x.txt)", R"(D:\x.txt)"},
                      resolve_case{R"(\\srv\share\dir)", R"(\x.txt)", R"(\\srv\share\dir\x.txt)"},
                      resolve_case{R"(\\srv\share\dir)", "x.txt", R"(\\srv\share\dir\x.txt)"},
                      // Exactly two backslashes is no UNC name: rooted, so it gets the drive.
                      resolve_case{R"(D:\work)", R"(\\)", R"(D:\\)"},
                      // "/" is no separator here: the name is relative.
                      resolve_case{R"(D:\work)", "/x.txt", R"(D:\work\/x.txt)"},
                      // Only a colon at index 1 makes a drive form.
                      resolve_case{R"(D:\work)", "ab:c", R"(D:\work\ab:c)"},
                      resolve_case{R"(D:\work)", R"(x:\y)", R"(x:\y)"},
                      resolve_case{R"(D:\work)", "", ""},
                      // An unreadable current directory leaves a relative name relative.
                      resolve_case{"", "x.txt", "x.txt"}));

class posix_resolve : public ::testing::TestWithParam<resolve_case> {};

TEST_P(posix_resolve, gives_the_absolute_name) {
    const auto& c = GetParam();
    std::string name = c.name;
    platform::resolve_path(name, c.cwd, path_style::posix, nullptr);
    EXPECT_EQ(name, c.expected) << "cwd " << c.cwd << ", name " << c.name;
}

INSTANTIATE_TEST_SUITE_P(table, posix_resolve,
                         ::testing::Values(resolve_case{"/home/a", "x.txt", "/home/a/x.txt"},
                                           resolve_case{"/home/a", "/etc/x", "/etc/x"},
                                           resolve_case{"/", "x.txt", "/x.txt"},
                                           resolve_case{"/home/a", "../x", "/home/a/../x"},
                                           resolve_case{"/home/a", R"(\x)", R"(/home/a/\x)"},
                                           resolve_case{"/home/a", "C:x", "/home/a/C:x"},
                                           resolve_case{"/home/a", "", ""}));

TEST(is_unc_path, needs_two_backslashes_and_more) {
    const struct {
        const char* s;
        bool unc;
    } cases[] = {
        {R"(\\srv\share)", true}, {R"(\\x)", true},    {R"(\\)", false},
        {R"(\)", false},          {"", false},         {R"(\x\y)", false},
        {"//srv/share", false},   {R"(C:\\x)", false}, {R"(\\\)", true},
    };
    for (const auto& c : cases) EXPECT_EQ(platform::is_unc_path(c.s), c.unc) << c.s;
}

}  // namespace
