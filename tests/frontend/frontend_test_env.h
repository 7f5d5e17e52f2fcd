// A validation world for tests: a chosen current directory and path style, a set of files
// that open, and the messages printed.
#pragma once

#include <set>
#include <string>
#include <vector>

#include "frontend/compare_options.h"

namespace frontend_test {

struct world {
    std::string cwd = "/home/u";
    platform::path_style style = platform::path_style::posix;
    std::set<std::string> missing;  // every other name opens
    std::vector<int> printed;

    frontend::validation_env env() {
        frontend::validation_env e;
        e.cwd = cwd;
        e.style = style;
        e.get_drive = [](std::string_view dir) { return platform::drive_designation(dir); };
        e.can_open_for_reading = [this](const std::string& path) {
            return missing.count(path) == 0;
        };
        e.print_message = [this](frontend::msg_position position) {
            printed.push_back(static_cast<int>(position));
        };
        return e;
    }

    static world windows_at(std::string cwd) {
        world w;
        w.cwd = std::move(cwd);
        w.style = platform::path_style::windows;
        return w;
    }
};

/// Parses args (without the program) into options; true when the command line was accepted.
inline bool parse(frontend::CompareOptions& options, const std::vector<std::string>& args) {
    std::vector<const char*> argv{"trelmerge"};
    for (const auto& a : args) argv.push_back(a.c_str());
    const bool usage_error = options.parse_command_line(static_cast<int>(argv.size()), argv.data());
    return !usage_error;
}

}  // namespace frontend_test
