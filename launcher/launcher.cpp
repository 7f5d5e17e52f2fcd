#include "launcher/launcher.h"

#include <cstdio>
#include <optional>

#include "common/product_dir.h"
#include "platform/process.h"

namespace launcher {

namespace {

constexpr std::string_view frontend_program_base = "trelmerge";
constexpr std::string_view encoding_option = "-encoding";
constexpr std::string_view encoding_value = "utf-8";
constexpr std::string_view cannot_start_text = "trelmergeutf8: cannot start ";
constexpr int failure_status = -1;

}  // namespace

std::string frontend_program_path(std::string_view product_dir, platform::path_style style) {
    return common::installed_program_path(product_dir, frontend_program_base, style);
}

std::vector<std::string> launcher_argv(std::string_view program,
                                       const std::vector<std::string>& user_args) {
    std::vector<std::string> argv;
    argv.reserve(user_args.size() + 3);
    argv.emplace_back(program);
    argv.insert(argv.end(), user_args.begin(), user_args.end());
    argv.emplace_back(encoding_option);
    argv.emplace_back(encoding_value);
    return argv;
}

int trelmergeutf8_main(int argc, char** argv) {
    const std::string program =
        frontend_program_path(common::installed_product_dir(), platform::native_path_style());
    // Started directly rather than through a command interpreter: the arguments reach the
    // front end exactly as given, whatever quotes, blanks or shell characters they hold.
    const std::vector<std::string> user_args(argv + (argc > 0 ? 1 : 0), argv + argc);
    const std::optional<int> status =
        platform::run_and_wait(program, launcher_argv(program, user_args));
    if (!status) {
        std::string message(cannot_start_text);
        message += program;
        message += '\n';
        std::fputs(message.c_str(), stderr);
        return failure_status;
    }
    return *status;
}

}  // namespace launcher
