#include "common/error_prompt.h"

#include "common/product_dir.h"
#include "platform/process.h"

namespace common {

namespace {

constexpr std::string_view prompt_tool_name = "trelprompt";

}  // namespace

std::string prompt_tool_path(std::string_view product_dir, platform::path_style style) {
    return installed_program_path(product_dir, prompt_tool_name, style);
}

std::string get_prompt_tool_path() {
    return prompt_tool_path(installed_product_dir(), platform::native_path_style());
}

std::vector<std::string> prompt_argv(std::string_view tool, std::string_view text) {
    return {std::string(tool), "proceed", "-mask",           "p",          "-type",
            "error",           "-prompt", std::string(text), "-prefer_gui"};
}

void show_error_prompt_with(const std::string& tool, std::string_view text) {
    // The text goes to the tool as one argument: no command interpreter sees it, so quotes
    // or shell syntax in it are shown, never run.
    (void)platform::run_and_wait(tool, prompt_argv(tool, text));
}

void show_error_prompt(std::string_view text) {
    show_error_prompt_with(get_prompt_tool_path(), text);
}

}  // namespace common
