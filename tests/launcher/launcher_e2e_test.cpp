// trelmergeutf8 from a sandbox product tree, with record_argv standing in for trelmerge.
#include <gtest/gtest.h>

#include "tests/helpers/record_argv.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

namespace {

using test_support::run_program;
using test_support::sandbox;

struct launcher_tree {
    sandbox box;
    launcher_tree() {
        box.install("trelmergeutf8", "bin/trelmergeutf8");
        box.install("record_argv", "bin/trelmerge");
    }
    std::string launcher() const { return (box.product_dir() / "bin/trelmergeutf8").string(); }
    std::string front_end() const { return (box.product_dir() / "bin/trelmerge").string(); }
    std::string record() const { return (box.work_dir() / "argv.rec").string(); }
};

TEST(Trelmergeutf8, PassesEveryArgumentUnchangedBeforeTheEncoding) {
    launcher_tree t;
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"a.txt", "b.txt"},
        {"with blank", "", "\"quoted\"", "in\"side", "trailing\\", "back\\\\", "$HOME", "*", ";|&"},
    };
    for (const auto& user : cases) {
        std::vector<std::string> argv{t.launcher()};
        argv.insert(argv.end(), user.begin(), user.end());
        test_support::run_options options;
        options.env[test_helpers::record_argv_file_env] = t.record();
        options.cwd = t.box.work_dir().string();
        std::filesystem::remove(t.record());
        const auto result = run_program(argv, options);
        ASSERT_EQ(result.exit_code, 0) << result.err;
        const auto run = test_helpers::read_recorded_run(t.record());
        ASSERT_TRUE(run.has_value());
        std::vector<std::string> expected{t.front_end()};
        expected.insert(expected.end(), user.begin(), user.end());
        expected.push_back("-encoding");
        expected.push_back("utf-8");
        EXPECT_EQ(run->argv, expected);
        EXPECT_EQ(run->cwd, t.box.work_dir().string());
    }
}

TEST(Trelmergeutf8, ExitsWithTheFrontEndsExitCode) {
    launcher_tree t;
    for (const char* code : {"0", "1", "255", "42"}) {
        test_support::run_options options;
        options.env[test_helpers::record_argv_exit_env] = code;
        EXPECT_EQ(run_program({t.launcher(), "a", "b"}, options).exit_code, std::atoi(code));
    }
}

TEST(Trelmergeutf8, SaysOnStandardErrorWhenTheFrontEndCannotStart) {
    launcher_tree t;
    std::filesystem::remove(t.front_end());
    const auto result = run_program({t.launcher(), "a", "b"});
    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(result.err, "trelmergeutf8: cannot start " + t.front_end() + "\n");
    EXPECT_EQ(result.out, "");
}

}  // namespace
