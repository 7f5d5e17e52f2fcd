// The prompt tool's command line: proceed -mask p -type error -prompt TEXT -prefer_gui.
#pragma once

#include <string>
#include <vector>

namespace trelprompt {

struct prompt_request {
    std::string type = "error";
    std::string text;
    bool prefer_gui = false;
};

/// Reads the options it knows from args (without the program name); others are ignored.
prompt_request parse_prompt_args(const std::vector<std::string>& args);

/// The console line: "trelprompt: <type>: <text>".
std::string console_line(const prompt_request& request);

/// The dialog command: zenity (an error box) when found, else notify-send; empty when
/// neither. zenity and notify_send are their full paths, empty when absent.
std::vector<std::string> dialog_command(const prompt_request& request, const std::string& zenity,
                                        const std::string& notify_send);

}  // namespace trelprompt
