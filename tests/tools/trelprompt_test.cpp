#include <gtest/gtest.h>

#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"
#include "tools/trelprompt/prompt_args.h"

namespace trelprompt {
namespace {

TEST(prompt_args, reads_the_options_it_knows_and_ignores_the_rest) {
    const prompt_request r =
        parse_prompt_args({"proceed", "-mask", "p", "-type", "error", "-colour", "-prompt",
                           "\" Could not \"", "-prefer_gui"});
    EXPECT_EQ(r.type, "error");
    EXPECT_EQ(r.text, "\" Could not \"");
    EXPECT_TRUE(r.prefer_gui);
    EXPECT_EQ(console_line(r), "trelprompt: error: \" Could not \"");
    EXPECT_FALSE(parse_prompt_args({"-prompt"}).prefer_gui);
    EXPECT_EQ(parse_prompt_args({"-prompt"}).text, "");
}

TEST(prompt_args, the_dialog_prefers_zenity_then_notify_send) {
    prompt_request r;
    r.text = "T";
    EXPECT_EQ(dialog_command(r, "/z", "/n").front(), "/z");
    EXPECT_EQ(dialog_command(r, "/z", "/n").back(), "--text=T");
    EXPECT_EQ(dialog_command(r, "", "/n").front(), "/n");
    EXPECT_TRUE(dialog_command(r, "", "").empty());
}

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
