// trelprompt: shows a message of the tool set on the console and, in a desktop session, in
// a dialog. Always exits 0: its callers do not look at the result.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

#include "platform/command_line.h"
#include "platform/process.h"
#include "tools/trelprompt/prompt_args.h"

namespace {

// PATH's separator: ";" where paths hold drive colons.
constexpr char path_list_separator = std::filesystem::path::preferred_separator == '\\' ? ';' : ':';

bool env_set(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && v[0] != '\0';
}

std::string find_in_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    std::string_view rest(path);
    while (true) {
        const std::size_t colon = rest.find(path_list_separator);
        const std::string_view dir = rest.substr(0, colon);
        std::error_code ec;
        if (!dir.empty() &&
            std::filesystem::is_regular_file(std::filesystem::path(dir) / program, ec)) {
            return (std::filesystem::path(dir) / program).string();
        }
        if (colon == std::string_view::npos) return {};
        rest.remove_prefix(colon + 1);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const trelprompt::prompt_request request =
        trelprompt::parse_prompt_args(std::vector<std::string>(argv + 1, argv + argc));
    std::fprintf(stderr, "%s\n", trelprompt::console_line(request).c_str());
    if (request.prefer_gui && (env_set("DISPLAY") || env_set("WAYLAND_DISPLAY"))) {
        const auto command = trelprompt::dialog_command(request, find_in_path("zenity"),
                                                        find_in_path("notify-send"));
        // Detached: the caller waits for this program, not for the user to close a box.
        if (!command.empty())
            (void)platform::start_hidden_detached(platform::join_command_line(command));
    }
    return 0;
}
