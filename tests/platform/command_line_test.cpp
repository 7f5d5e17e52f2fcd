#include "platform/command_line.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

using argv_t = std::vector<std::string>;

struct split_case {
    const char* line;
    argv_t argv;
};

class split_command_line : public ::testing::TestWithParam<split_case> {};

TEST_P(split_command_line, gives_the_arguments_of_the_windows_runtime) {
    EXPECT_EQ(platform::split_command_line(GetParam().line), GetParam().argv) << GetParam().line;
}

INSTANTIATE_TEST_SUITE_P(
    table, split_command_line,
    ::testing::Values(split_case{"prog a b", {"prog", "a", "b"}},
                      split_case{R"("C:\Program Files\x.exe" a)",
                                 {R"(C:\Program Files\x.exe)", "a"}},
                      // The program name knows no escapes: a trailing backslash stays.
                      split_case{R"("C:\dir\" a)", {R"(C:\dir\)", "a"}},
                      split_case{R"(pro"g n"ame x)", {"prog name", "x"}},
                      split_case{R"(prog "a b" c)", {"prog", "a b", "c"}},
                      split_case{R"(prog a\\b \\srv\share)", {"prog", R"(a\\b)", R"(\\srv\share)"}},
                      split_case{R"(prog a\"b)", {"prog", R"(a"b)"}},
                      split_case{R"(prog a\\"b c")", {"prog", R"(a\b c)"}},
                      split_case{R"(prog a\\\"b)", {"prog", R"(a\"b)"}},
                      split_case{R"(prog "a\\")", {"prog", R"(a\)"}},
                      split_case{R"(prog "a""b")", {"prog", R"(a"b)"}},
                      split_case{R"(prog """")", {"prog", R"(")"}},
                      split_case{R"(prog "" x)", {"prog", "", "x"}},
                      split_case{R"(prog a"b c"d)", {"prog", "ab cd"}},
                      split_case{R"(prog "abc)", {"prog", "abc"}},
                      split_case{"prog\ta\t\tb  ", {"prog", "a", "b"}},
                      split_case{"prog", {"prog"}}, split_case{"", {}}));

TEST(command_line_round_trip, gives_back_nasty_arguments) {
    const argv_t argv = {R"(C:\Program Files\p.exe)",
                         "",
                         R"(")",
                         R"(a "quoted" word)",
                         R"(trailing\)",
                         R"(trailing blank \)",
                         R"(\\)",
                         R"(\\srv\share\)",
                         "  ",
                         "\t",
                         "$(touch x)",
                         "%PATH%",
                         R"(\"\\")",
                         R"(a""b)",
                         "-Dname=\"pipe\""};
    EXPECT_EQ(platform::split_command_line(platform::join_command_line(argv)), argv);
}

TEST(command_line_round_trip, holds_for_random_arguments_of_quotes_backslashes_and_blanks) {
    std::mt19937 random(20261208);
    const std::string alphabet = "a \t\\\"";
    for (int round = 0; round < 2000; ++round) {
        argv_t argv = {"/bin/prog"};
        const int count = static_cast<int>(random() % 4);
        for (int k = 0; k < count; ++k) {
            std::string arg;
            const int length = static_cast<int>(random() % 7);
            for (int c = 0; c < length; ++c) arg += alphabet[random() % alphabet.size()];
            argv.push_back(arg);
        }
        const std::string line = platform::join_command_line(argv);
        ASSERT_EQ(platform::split_command_line(line), argv) << line;
    }
}

}  // namespace
