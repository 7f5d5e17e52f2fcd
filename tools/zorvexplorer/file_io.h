// Whole-file reads and writes for contributors, outputs and compare pages.
#pragma once

#include <string>
#include <string_view>

namespace zorv {

struct file_read {
    std::string data;
    std::string error;  // empty when read
};

/// The whole file at path.
file_read read_whole_file(const std::string& path);

/// Writes data to a temporary file beside path and renames it over path, so a reader never
/// sees half a file and a failure leaves the old file as it was. An existing target keeps
/// its permissions. The error text, empty on success.
std::string write_file_atomically(const std::string& path, std::string_view data);

/// Creates dir/prefix-<unique>.suffix holding data; its path, or empty with error set.
std::string write_unique_file(const std::string& dir, std::string_view prefix,
                              std::string_view suffix, std::string_view data, std::string& error);

}  // namespace zorv
