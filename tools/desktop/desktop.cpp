#include "tools/desktop/desktop.h"

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "platform/shell.h"

namespace desktop {

namespace {

// PATH's separator: ";" where paths hold drive colons.
constexpr char path_list_separator = std::filesystem::path::preferred_separator == '\\' ? ';' : ':';

}  // namespace

bool desktop_session() { return platform::desktop_session(); }

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

bool open_on_desktop(const std::string& path) { return desktop_session() && open_in_browser(path); }

std::vector<std::vector<std::string>> browser_commands(std::string_view browser_setting,
                                                       const std::string& url) {
    std::vector<std::vector<std::string>> out;
    std::string_view rest = browser_setting;
    while (!rest.empty()) {
        const std::size_t colon = rest.find(path_list_separator);
        const std::string_view entry = rest.substr(0, colon);
        rest = colon == std::string_view::npos ? std::string_view() : rest.substr(colon + 1);
        std::vector<std::string> argv;
        bool placed = false;
        std::size_t pos = 0;
        while (pos < entry.size()) {
            const std::size_t blank = std::min(entry.find(' ', pos), entry.size());
            const std::string_view word = entry.substr(pos, blank - pos);
            pos = blank + 1;
            if (word.empty()) continue;
            std::string arg;
            for (std::size_t i = 0; i < word.size(); ++i) {
                if (word[i] == '%' && i + 1 < word.size() && word[i + 1] == 's') {
                    arg += url;
                    placed = true;
                    ++i;
                } else if (word[i] == '%' && i + 1 < word.size() && word[i + 1] == '%') {
                    arg += '%';
                    ++i;
                } else {
                    arg += word[i];
                }
            }
            argv.push_back(std::move(arg));
        }
        if (argv.empty()) continue;
        if (!placed) argv.push_back(url);
        out.push_back(std::move(argv));
    }
    return out;
}

bool open_in_browser(const std::string& url) {
    const char* setting = std::getenv("BROWSER");
    const std::vector<std::vector<std::string>> commands =
        browser_commands(setting != nullptr ? setting : "", url);
    // No browser named: the desktop's own way of opening a page.
    if (commands.empty()) return platform::open_with_default_application(url);
    for (const std::vector<std::string>& argv : commands) {
        // Not waited for: a browser that stays open must not hold up the merge's answer.
        if (platform::start_viewer(argv)) return true;
    }
    return false;
}

}  // namespace desktop
