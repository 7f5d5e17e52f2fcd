// Showing an error to the user through the product's prompt tool.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/path_style.h"

namespace common {

/// product_dir followed by bin/trelprompt (".exe" and backslashes on windows).
std::string prompt_tool_path(std::string_view product_dir, platform::path_style style);

/// The prompt tool path of this installation.
std::string get_prompt_tool_path();

/// The tool's argument vector: tool, "proceed", "-mask", "p", "-type", "error", "-prompt",
/// text, "-prefer_gui".
std::vector<std::string> prompt_argv(std::string_view tool, std::string_view text);

/// Runs tool with the prompt arguments for text, without a command interpreter, and
/// waits for it. Whether the tool ran is not reported.
void show_error_prompt_with(const std::string& tool, std::string_view text);

/// Runs the prompt tool with text, without a command interpreter, and waits for it.
/// Whether the tool ran is not reported.
void show_error_prompt(std::string_view text);

}  // namespace common
