// Whole-file reads and writes for contributors, merge outputs and compare pages. The client
// is built on POSIX only.
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

/// Writes a merge's output as an editor saves a file. The reason it was refused or failed,
/// empty when data stands at path:
/// - path must be absolute;
/// - a symbolic link is followed and its target written, except a link of another user
///   in a sticky folder that all may write, unless that user owns the folder (as the
///   kernel's protected_symlinks rule has it), which is refused, at every link of a chain;
/// - a new file or a regular file of ours with one link is replaced atomically by a
///   temporary file in the same folder that is renamed over it, keeping its group and
///   mode (setuid and setgid dropped);
/// - a regular file with more links or another owner is written in place, so that links,
///   owner and group stay; its setuid and setgid bits are dropped; room for the new text
///   is taken before a byte changes, so that a full disk refuses the write with the old
///   bytes whole;
/// - so is a file of ours in a folder where we may not make the temporary file;
/// - anything else (device, FIFO, socket, directory) is refused and left untouched.
/// Temporary files are named ".<name>.zorvtmp-<unique>" beside the target; those of an
/// earlier client run (older than this process) for the same target are removed first.
[[nodiscard]] std::string write_output_file(const std::string& path, std::string_view data);

/// Creates dir/prefix-<unique>.suffix holding data; its path, or empty with error set.
std::string write_unique_file(const std::string& dir, std::string_view prefix,
                              std::string_view suffix, std::string_view data, std::string& error);

}  // namespace zorv
