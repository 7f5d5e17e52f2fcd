// The front end's option parser and the command-line splitter on arbitrary input: no
// crash, and what the splitter gives back survives being joined and split again.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>
#include <vector>

#include "frontend/compare_options.h"
#include "frontend/request.h"
#include "platform/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view input(reinterpret_cast<const char*>(data), size);

    // NUL-separated arguments, as the argument vector holds them.
    std::vector<std::string> args{"trelmerge"};
    std::size_t start = 0;
    for (std::size_t i = 0; i <= input.size(); ++i) {
        if (i == input.size() || input[i] == '\0') {
            args.emplace_back(input.substr(start, i - start));
            start = i + 1;
        }
    }
    std::vector<const char*> argv;
    for (const auto& a : args) argv.push_back(a.c_str());
    frontend::CompareOptions options;
    (void)options.parse_command_line(static_cast<int>(argv.size()), argv.data());
    frontend::validation_env env;
    env.cwd = "/srv/work";
    env.style = platform::path_style::posix;
    env.can_open_for_reading = [](const std::string&) { return true; };
    if (options.validate(env)) (void)frontend::build_request(options);

    const std::vector<std::string> split = platform::split_command_line(input);
    if (!split.empty() && split[0].find('"') == std::string::npos) {
        if (platform::split_command_line(platform::join_command_line(split)) != split) std::abort();
        if (platform::split_command_line(platform::join_command_line_quoted(split)) != split) {
            std::abort();
        }
    }
    return 0;
}
