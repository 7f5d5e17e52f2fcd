// Whole-file reads and writes for contributors, merge outputs and compare pages, with the
// client's own words for what went wrong.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zorv {

/// Largest contributor the client reads unless VARNEX_CLIENT_MAX_INPUT_BYTES says otherwise.
inline constexpr std::uint64_t default_max_input_bytes = 256ull << 20;

/// The contributor size limit: VARNEX_CLIENT_MAX_INPUT_BYTES when it holds a positive
/// decimal number, else default_max_input_bytes.
std::uint64_t max_input_bytes();

struct file_read {
    std::string data;
    std::string error;  // empty when read
};

/// The whole regular file at path (a symbolic link to one is followed). Devices, FIFOs,
/// sockets and directories are refused without being read, as is a file of more than
/// limit bytes; so is running out of memory. The error names path and the reason.
file_read read_input_file(const std::string& path, std::uint64_t limit);

/// Writes a merge's output as an editor saves a file (platform::save_file tells the rules
/// of each platform). The reason it was refused or failed, empty when data stands at path.
[[nodiscard]] std::string write_output_file(const std::string& path, std::string_view data);

/// Creates dir/prefix-<unique>.suffix holding data; its path, or empty with error set.
std::string write_unique_file(const std::string& dir, std::string_view prefix,
                              std::string_view suffix, std::string_view data, std::string& error);

}  // namespace zorv
