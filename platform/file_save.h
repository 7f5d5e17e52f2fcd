// Saving a file that the user named, as an editor of the platform saves it: the old
// contents stand whole until the new ones replace them.
#pragma once

#include <string>
#include <string_view>

#include "platform/path_style.h"

namespace platform {

/// Writes data to path as an editor saves a file. The reason it was refused or failed
/// (naming path), empty when data stands at path. Both platforms refuse, untouched, a
/// relative path and anything that is no regular file. A new or replaced file is first
/// written whole to a temporary file beside it (temp_name_for), which then takes its place;
/// temporary files of ours for the same name that a killed run left (older than this
/// process) are removed first.
///
/// POSIX:
/// - a symbolic link is followed and its target written, except a link of another user in
///   a sticky folder that all may write, unless that user owns the folder (the kernel's
///   protected_symlinks rule, kept whether the kernel keeps it or not), which is refused;
///   every link on the way is checked, in the path's folders as at its end;
/// - a new file, or a regular file of ours with one link, is replaced atomically (rename),
///   keeping its group and mode (setuid and setgid dropped);
/// - a regular file with more links or another owner, and a file of ours in a folder where
///   no temporary file can be made, is written in place, so that links, owner and group
///   stay (setuid and setgid dropped); room for the new size is taken first, so that a
///   full disk refuses the write with the old bytes whole.
///
/// Windows (path in the system's code page, used by its wide name):
/// - device names (NUL, CON, COM1, ...), device paths (\\.\...) and streams (name:stream)
///   are refused by their name, folders and read-only files by their attributes, and a
///   file that another program holds open without sharing it (write and delete) is
///   refused, all left untouched;
/// - an existing file is replaced with ReplaceFileW, which keeps its attributes and its
///   security; a new one is moved into place with MoveFileExW (replace existing, write
///   through).
[[nodiscard]] std::string save_file(const std::string& path, std::string_view data);

/// Why path cannot be an output by its name alone, empty when it can: "not an absolute
/// path"; windows also "a device name", "a device path", "names a stream of a file".
[[nodiscard]] std::string output_name_problem(std::string_view path, path_style style);

/// Windows: true when path names a device rather than a file: a device path (\\.\..., or
/// \\?\ followed by anything but a drive or UNC root) or a device name as its last part
/// (NUL, CON, COM1, ..., also with an extension: "nul.txt").
[[nodiscard]] bool is_windows_device(std::string_view path);

/// Where path's last separator (either slash on windows) splits it into folder and name.
struct split_path {
    std::string folder;  // the root keeps its separator ("/", "C:\")
    std::string name;
};
split_path split_folder(std::string_view path, path_style style);

/// The temporary file beside a target named name: "." name "." unique ".tmp".
std::string temp_name_for(std::string_view name, std::string_view unique);

/// True when entry is a temporary file's name for target_name (unique being three groups
/// of digits joined by dashes, as unique_name_part makes them).
bool is_temp_name_of(std::string_view entry, std::string_view target_name);

/// "<milliseconds since 1970>-<process id>-<counter>": unique within this process (the
/// counter) and across processes.
std::string unique_name_part();

}  // namespace platform
