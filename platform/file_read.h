// Reading a whole file that the user named, without touching what is no file.
#pragma once

#include <cstdint>
#include <string>

namespace platform {

enum class read_status { ok, not_regular, too_large, out_of_memory, failed };

struct file_contents {
    read_status status = read_status::failed;
    std::string data;    // the whole file when ok, else empty
    std::string reason;  // failed: the system's reason
};

/// The whole regular file at path (links followed), when it holds at most limit bytes
/// (also if it grows while read). A device, FIFO, socket or folder is refused
/// (not_regular) without being opened where its name or its metadata tell, since opening
/// a device can itself do something: POSIX checks the file's type first; Windows refuses
/// device names (NUL, CON, COM1, \\.\...) and folders by name and attributes. A file that
/// turns out to be no file once open is refused unread. Windows: path is in the system's
/// code page and opened by its wide name.
[[nodiscard]] file_contents read_regular_file(const std::string& path, std::uint64_t limit);

}  // namespace platform
