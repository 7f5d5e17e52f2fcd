// Private files and directories on Windows: the per-user temporary directory's ACL keeps
// them to their owner.
#include <share.h>
#include <windows.h>

#include <cstdio>

#include "platform/files.h"

namespace platform {

bool is_private_directory(const std::string& path) {
    DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           !(attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

bool write_private_file(const std::string& path, std::string_view data, file_open how) {
    // Text mode: a line feed reaches the disk as a carriage return and a line feed.
    std::FILE* file = _fsopen(path.c_str(), how == file_open::truncate ? "w" : "a", _SH_DENYNO);
    if (!file) return false;
    if (!data.empty()) std::fwrite(data.data(), 1, data.size(), file);
    std::fclose(file);
    return true;
}

}  // namespace platform
