// Windows command-line rules, as pure functions: both platforms build and split command
// lines the same way, so a program sees the same argv wherever it runs.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// Splits a command line as the Windows C runtime (CommandLineToArgvW) does: the first
/// word by the program-name rule (quotes only, no escapes), the rest by the
/// backslash/quote rules.
std::vector<std::string> split_command_line(std::string_view command_line);

/// Quotes one argument so that split_command_line gives it back unchanged (not used for
/// the first word).
std::string quote_argument(std::string_view arg);

/// argv[0] in double quotes, then every further argument quoted as needed, joined by
/// blanks. split_command_line(join_command_line(v)) == v for any v whose first element
/// holds no double quote.
std::string join_command_line(const std::vector<std::string>& argv);

/// As join_command_line, but every further argument stands in double quotes, escaped as
/// quote_argument escapes it: "C:\Prod\bin\p.exe" "C:\Pro\"d\x".
std::string join_command_line_quoted(const std::vector<std::string>& argv);

}  // namespace platform
