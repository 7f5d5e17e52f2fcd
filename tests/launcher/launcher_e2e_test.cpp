// trelmergeutf8 from a sandbox product tree, with record_argv standing in for trelmerge.
#include <gtest/gtest.h>

#include "tests/helpers/record_argv.h"
#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

namespace {

using test_support::run_program;

class trelmergeutf8 : public testing::Test {
  protected:
    void SetUp() override {
        box.install("trelmergeutf8", "bin/trelmergeutf8");
        box.install("record_argv", "bin/trelmerge");
    }
    std::string launcher() const { return (box.product_dir() / "bin/trelmergeutf8").string(); }
    std::string front_end() const { return (box.product_dir() / "bin/trelmerge").string(); }
    test_support::sandbox box;
};

TEST_F(trelmergeutf8, passes_every_argument_unchanged_before_the_encoding_and_its_exit_code) {
    const std::string record = (box.work_dir() / "argv.rec").string();
    const std::vector<std::vector<std::string>> cases = {
        {},
        {"with blank", "", "\"quoted\"", "in\"side", "trailing\\", "back\\\\", "$HOME", "*", ";|&"},
    };
    for (const auto& user : cases) {
        std::vector<std::string> argv{launcher()};
        argv.insert(argv.end(), user.begin(), user.end());
        test_support::run_options options;
        options.env = {{test_helpers::record_argv_file_env, record},
                       {test_helpers::record_argv_exit_env, "42"}};
        options.cwd = box.work_dir().string();
        ASSERT_EQ(run_program(argv, options).exit_code, 42);
        const auto run = test_helpers::read_recorded_run(record);
        ASSERT_TRUE(run.has_value());
        argv[0] = front_end();
        argv.insert(argv.end(), {"-encoding", "utf-8"});
        EXPECT_EQ(run->argv, argv);
        EXPECT_EQ(run->cwd, box.work_dir().string());
    }
}

TEST_F(trelmergeutf8, says_on_standard_error_when_the_front_end_cannot_start) {
    std::filesystem::remove(front_end());
    const auto result = run_program({launcher(), "a", "b"});
    EXPECT_EQ(result.exit_code, 255);
    EXPECT_EQ(result.err, "trelmergeutf8: cannot start " + front_end() + "\n");
    EXPECT_EQ(result.out, "");
}

}  // namespace
