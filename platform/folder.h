// Folders that hold files of the program's own making (compare pages, launch pages) in
// the user's work directory.
#pragma once

#include <chrono>
#include <string>
#include <string_view>
#include <vector>

namespace platform {

/// Creates dir and the folders above it that are missing; the reason when it can't,
/// empty when dir is there.
[[nodiscard]] std::string make_folders(const std::string& dir);

/// Creates the new file path holding data: never an existing name, never through a link,
/// readable by its owner only (POSIX 0600; Windows: the folder's ACL). The reason when it
/// can't (then no file is left), empty when written.
[[nodiscard]] std::string create_new_file(const std::string& path, std::string_view data);

struct own_file {
    std::string name;
    std::chrono::system_clock::time_point modified;
};

/// The regular files in dir that are the current user's (POSIX: by owner; Windows: every
/// regular file, the per-user folder's ACL keeping others out), not links or folders;
/// empty when dir can't be read.
std::vector<own_file> own_files_in(const std::string& dir);

/// Removes the file name in dir; false when it was not there or could not be removed.
bool remove_file(const std::string& dir, std::string_view name);

}  // namespace platform
