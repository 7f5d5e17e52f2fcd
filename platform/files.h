// Private files and directories in a folder that other users may share (the temporary
// directory).
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// True when path is a real directory (not a link) that only the current user can reach:
/// on POSIX owned by the effective user with no group or other permissions. Windows
/// relies on the directory's ACL and only checks that it is a directory.
[[nodiscard]] bool is_private_directory(const std::string& path);

enum class file_open { truncate, append };

/// Writes data to path, creating it owner-only (0600 on POSIX) and never following a
/// symbolic link; shared with every other reader and writer. False when it can't be
/// opened. A failed write is not reported.
bool write_private_file(const std::string& path, std::string_view data, file_open how);

}  // namespace platform
