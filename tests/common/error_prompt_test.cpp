#include "common/error_prompt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "tests/helpers/record_argv.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;

TEST(show_error_prompt, hands_a_hostile_text_over_as_one_argument_and_runs_nothing) {
    test_support::sandbox box;
    box.install("record_argv", "bin/trelprompt");
    const std::string tool = (box.product_dir() / "bin" / "trelprompt").string();
    const fs::path rec = box.work_dir() / "rec";
    setenv(test_helpers::record_argv_file_env, rec.c_str(), 1);
    const std::string text =
        R"("Could not set the temporary directory" $(touch x) `touch x` %PATH% \"; touch x)";
    const fs::path cwd = fs::current_path();
    fs::current_path(box.work_dir());
    common::show_error_prompt_with(tool, text);
    fs::current_path(cwd);
    unsetenv(test_helpers::record_argv_file_env);

    const auto run = test_helpers::read_recorded_run(rec);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->argv, (std::vector<std::string>{tool, "proceed", "-mask", "p", "-type", "error",
                                                   "-prompt", text, "-prefer_gui"}));
    EXPECT_FALSE(fs::exists(box.work_dir() / "x"));
}

TEST(show_error_prompt, returns_when_the_tool_is_missing_and_prints_and_makes_nothing) {
    test_support::sandbox box;
    fs::create_directories(box.work_dir());
    const fs::path cwd = fs::current_path();
    fs::current_path(box.work_dir());
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    common::show_error_prompt_with((box.product_dir() / "bin" / "trelprompt").string(),
                                   "\" Could not set the temporary directory \"");
    const std::string out = testing::internal::GetCapturedStdout();
    const std::string err = testing::internal::GetCapturedStderr();
    fs::current_path(cwd);
    EXPECT_EQ(out, "");
    EXPECT_EQ(err, "");
    EXPECT_TRUE(fs::is_empty(box.work_dir()));
    EXPECT_FALSE(fs::exists(box.product_dir() / "bin" / "trelprompt"));
}

}  // namespace
