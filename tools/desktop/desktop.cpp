#include "tools/desktop/desktop.h"

#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/command_line.h"
#include "platform/process.h"

namespace desktop {

namespace {

// PATH's separator: ";" where paths hold drive colons.
constexpr char path_list_separator = std::filesystem::path::preferred_separator == '\\' ? ';' : ':';

constexpr std::string_view opener = "xdg-open";

bool env_set(const char* name) {
    const char* v = std::getenv(name);
    return v != nullptr && v[0] != '\0';
}

}  // namespace

bool desktop_session() { return env_set("DISPLAY") || env_set("WAYLAND_DISPLAY"); }

std::string find_in_path(const std::string& program) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return {};
    std::string_view rest(path);
    while (true) {
        const std::size_t colon = rest.find(path_list_separator);
        const std::string_view dir = rest.substr(0, colon);
        if (!dir.empty()) {
            const std::filesystem::path candidate = std::filesystem::path(dir) / program;
            std::error_code ec;
            if (std::filesystem::is_regular_file(candidate, ec)) return candidate.string();
        }
        if (colon == std::string_view::npos) return {};
        rest.remove_prefix(colon + 1);
    }
}

bool open_on_desktop(const std::string& path) {
    if (!desktop_session()) return false;
    const std::string program = find_in_path(std::string(opener));
    if (program.empty()) return false;
    // Detached, so a slow viewer never holds up the answer.
    return platform::start_hidden_detached(platform::join_command_line({program, path})).valid();
}

}  // namespace desktop
