// trelmergeutf8: runs the front end of the same installation with -encoding utf-8.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "platform/path_style.h"

namespace launcher {

/// product + "\bin\trelmerge.exe" (posix: product/bin/trelmerge).
std::string frontend_program_path(std::string_view product_dir, platform::path_style style);

/// The front end's argv: its path, the user's arguments unchanged, "-encoding", "utf-8".
std::vector<std::string> launcher_argv(std::string_view program,
                                       const std::vector<std::string>& user_args);

/// The whole trelmergeutf8 run; returns the exit status.
int trelmergeutf8_main(int argc, char** argv);

}  // namespace launcher
