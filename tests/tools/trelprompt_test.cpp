#include <gtest/gtest.h>

#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"

namespace trelprompt {
namespace {

TEST(trelprompt_program, shows_the_text_on_standard_error_and_exits_0) {
    test_support::run_options options;
    options.env = {{"DISPLAY", ""}, {"WAYLAND_DISPLAY", ""}};
    options.deadline = std::chrono::seconds(20);
    const auto r = test_support::run_program(
        {test_support::built_program("trelprompt").string(), "proceed", "-mask", "p", "-type",
         "error", "-prompt", "\" Could not set the temporary directory \"", "-prefer_gui"},
        options);
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_EQ(r.err, "trelprompt: error: \" Could not set the temporary directory \"\n");
    EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace trelprompt
