#include "common/error_prompt.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/product_runtime.h"
#include "tests/helpers/record_argv.h"
#include "tests/support/sandbox.h"

namespace {

namespace fs = std::filesystem;
using platform::path_style;

TEST(prompt_tool_path, is_bin_trelprompt_under_the_product_directory) {
    EXPECT_EQ(prompt_tool_path(R"(C:\P)", path_style::windows), R"(C:\P\bin\trelprompt.exe)");
    EXPECT_EQ(prompt_tool_path("/opt/p", path_style::posix), "/opt/p/bin/trelprompt");
}

TEST(get_prompt_tool_path, lies_in_the_product_directory_of_this_program) {
    char dir[4096];
    EXPECT_EQ(get_prompt_tool_path(), std::string(ks_product_dir(dir, 0)) + "/bin/trelprompt");
}

TEST(prompt_argv, holds_the_fixed_words_and_the_text_as_one_argument) {
    EXPECT_EQ(prompt_argv("/p/bin/trelprompt", R"("a b")"),
              (std::vector<std::string>{"/p/bin/trelprompt", "proceed", "-mask", "p", "-type",
                                        "error", "-prompt", R"("a b")", "-prefer_gui"}));
}

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
    show_error_prompt_with(tool, text);
    fs::current_path(cwd);
    unsetenv(test_helpers::record_argv_file_env);

    const auto run = test_helpers::read_recorded_run(rec);
    ASSERT_TRUE(run);
    EXPECT_EQ(run->argv, prompt_argv(tool, text));
    EXPECT_FALSE(fs::exists(box.work_dir() / "x"));
}

TEST(show_error_prompt, returns_when_the_tool_is_missing) {
    test_support::sandbox box;
    show_error_prompt_with((box.product_dir() / "bin" / "trelprompt").string(), "text");
    SUCCEED();
}

}  // namespace
