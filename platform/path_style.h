// Path rules of the two platforms, as pure functions so that both are tested anywhere.
#pragma once

#include <functional>
#include <string>
#include <string_view>

namespace platform {

enum class path_style { windows, posix };

/// The style of the platform this build runs on.
path_style native_path_style();

/// "\" for windows, "/" for posix.
char separator(path_style style);

/// dir, one separator, name: nothing is collapsed.
std::string join_path(std::string_view dir, std::string_view name, path_style style);

/// A program file name: base plus ".exe" on windows, base alone on posix.
std::string program_file(std::string_view base, path_style style);

/// Windows: longer than two characters and starting with two backslashes.
bool is_unc_path(std::string_view s);

/// Windows: the drive designation ("D:") of a drive-letter directory, else "".
std::string drive_designation(std::string_view dir);

/// Looks up the drive designation for a directory (fileutl_get_drive in the programs).
using drive_lookup = std::function<std::string(std::string_view dir)>;

/// Makes name absolute against cwd, in place.
/// windows: drive-letter and UNC names stay; a rooted name gets the cwd's drive (or the
/// whole cwd when that is UNC); a relative name gets cwd + "\" (a drive root gives "\\").
/// posix: a name beginning with "/" stays; any other gets cwd + "/" (no doubled "/").
void resolve_path(std::string& name, std::string_view cwd, path_style style,
                  const drive_lookup& get_drive);

}  // namespace platform
