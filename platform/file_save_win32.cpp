// The Windows output writer: the new text is written whole beside the output and takes its
// place with ReplaceFileW, as editors on Windows save.
#include <vector>

#include "platform/file_save.h"
#include "platform/text_win32.h"

namespace platform {

namespace {

// When this process started: temporary files of ours that are older were left by a run
// that was killed.
long long process_start_100ns() {
    FILETIME created{}, exited{}, kernel{}, user{};
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user)) return 0;
    return unix_time_100ns(created);
}

std::wstring child_of(const std::wstring& folder, const std::wstring& name) {
    if (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) return folder + name;
    return folder + L"\\" + name;
}

// Removes the temporary files for target_name that a killed run left in folder: regular,
// writable, and older than this process. Windows keeps no owner we could compare cheaply;
// the name and the age make them ours.
void remove_stale_temps(const std::wstring& folder, const std::string& target_name) {
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = child_of(folder, L".*.tmp");
    const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return;
    const long long started = process_start_100ns();
    std::vector<std::wstring> stale;
    do {
        constexpr DWORD not_ours = FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT |
                                   FILE_ATTRIBUTE_DEVICE | FILE_ATTRIBUTE_READONLY;
        if ((entry.dwFileAttributes & not_ours) == 0 &&
            is_temp_name_of(narrow_from_wide(entry.cFileName), target_name) &&
            unix_time_100ns(entry.ftLastWriteTime) < started) {
            stale.emplace_back(entry.cFileName);
        }
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    for (const std::wstring& name : stale) DeleteFileW(child_of(folder, name).c_str());
}

// Writes data to the new file temp and flushes it to the disk.
std::string write_temp(const std::wstring& temp, const std::string& temp_name,
                       std::string_view data) {
    unique_handle f(CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.valid()) return temp_name + ": " + system_error_text(GetLastError());
    if (!write_all(f.get(), data) || !FlushFileBuffers(f.get()) || !f.close()) {
        const DWORD code = GetLastError();
        f.close();
        DeleteFileW(temp.c_str());
        return temp_name + ": " + system_error_text(code);
    }
    return {};
}

}  // namespace

std::string save_file(const std::string& path, std::string_view data) {
    if (const std::string problem = output_name_problem(path, path_style::windows);
        !problem.empty()) {
        return path + ": " + problem + "; nothing written";
    }
    const std::wstring wide = wide_from_narrow(path);
    if (wide.empty()) return path + ": " + system_error_text(ERROR_NO_UNICODE_TRANSLATION);
    const split_path parts = split_folder(path, path_style::windows);
    const std::wstring folder = wide_from_narrow(parts.folder);
    remove_stale_temps(folder, parts.name);

    const DWORD attributes = GetFileAttributesW(wide.c_str());
    const bool exists = attributes != INVALID_FILE_ATTRIBUTES;
    if (!exists && GetLastError() != ERROR_FILE_NOT_FOUND)
        return path + ": " + system_error_text(GetLastError());
    if (exists) {
        if (attributes & FILE_ATTRIBUTE_DIRECTORY) return path + ": a folder; left untouched";
        if (attributes & FILE_ATTRIBUTE_DEVICE) return path + ": a device; left untouched";
        if (attributes & FILE_ATTRIBUTE_READONLY) return path + ": read-only; left untouched";
        // The access that replacing takes, shared with everybody: this fails when another
        // program holds the file without sharing it, before anything is written.
        unique_handle f(CreateFileW(wide.c_str(), GENERIC_READ | GENERIC_WRITE | DELETE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
        if (!f.valid()) {
            const DWORD code = GetLastError();
            if (code == ERROR_SHARING_VIOLATION || code == ERROR_LOCK_VIOLATION)
                return path + ": in use by another program that does not share it; left untouched";
            return path + ": " + system_error_text(code) + "; left untouched";
        }
        if (GetFileType(f.get()) != FILE_TYPE_DISK) return path + ": not a file; left untouched";
    }

    const std::string temp_name =
        (parts.folder.ends_with('\\') || parts.folder.ends_with('/') ? parts.folder
                                                                     : parts.folder + "\\") +
        temp_name_for(parts.name, unique_name_part());
    const std::wstring temp = wide_from_narrow(temp_name);
    if (std::string error = write_temp(temp, temp_name, data); !error.empty()) return error;
    // The old file's own attributes (hidden, system, ...) go to the new one before it takes
    // its place; ReplaceFileW does not carry all of them everywhere.
    constexpr DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    if (exists && (attributes & kept) != 0) SetFileAttributesW(temp.c_str(), attributes & kept);
    // ReplaceFileW gives the new file the old one's attributes, security and creation
    // time; a new file just moves in.
    const BOOL done = exists
                          ? ReplaceFileW(wide.c_str(), temp.c_str(), nullptr, 0, nullptr, nullptr)
                          : MoveFileExW(temp.c_str(), wide.c_str(),
                                        MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (done) return {};
    const DWORD code = GetLastError();
    DeleteFileW(temp.c_str());
    if (code == ERROR_SHARING_VIOLATION)
        return path + ": in use by another program that does not share it; left as it was";
    return path + ": " + system_error_text(code) + (exists ? "; left as it was" : "");
}

}  // namespace platform
