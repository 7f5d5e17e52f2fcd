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

/// Moves the file from over the file to, both in dir, in one step; false when it can't.
bool replace_file(const std::string& dir, std::string_view from, std::string_view to);

/// Dates the file name in dir as written now, its bytes untouched; false when it can't.
bool renew_file(const std::string& dir, std::string_view name);

/// Up to size first bytes of the regular file name in dir (not through a link); empty when
/// it can't be read.
std::string file_head(const std::string& dir, std::string_view name, std::size_t size);

}  // namespace platform
