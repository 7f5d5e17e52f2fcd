#include "common/error_prompt.h"

#include "common/product_runtime.h"
#include "platform/process.h"

namespace {

constexpr std::string_view prompt_tool_dir = "bin";
constexpr std::string_view prompt_tool_name = "trelprompt";
constexpr int product_dir_buffer_size = 4096;

}  // namespace

std::string prompt_tool_path(std::string_view product_dir, platform::path_style style) {
    const std::string bin = platform::join_path(product_dir, prompt_tool_dir, style);
    return platform::join_path(bin, platform::program_file(prompt_tool_name, style), style);
}

std::string get_prompt_tool_path() {
    char buffer[product_dir_buffer_size] = {};
    const char* dir = ks_product_dir(buffer, 0);
    return prompt_tool_path(dir != nullptr ? dir : "", platform::native_path_style());
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
