#include "platform/folder.h"
#include "platform/text_win32.h"

namespace platform {

namespace {

std::wstring child_of(const std::string& dir, std::string_view name) {
    std::string path = dir;
    if (!path.empty() && path.back() != '\\' && path.back() != '/') path += '\\';
    path += name;
    return wide_from_narrow(path);
}

}  // namespace

std::string make_folders(const std::string& dir) {
    const std::wstring wide = wide_from_narrow(dir);
    if (wide.empty()) return dir + ": " + system_error_text(ERROR_NO_UNICODE_TRANSLATION);
    // Each folder from the top down; those that are there already are passed.
    for (std::size_t i = 1; i <= wide.size(); ++i) {
        if (i < wide.size() && wide[i] != L'\\' && wide[i] != L'/') continue;
        const std::wstring part = wide.substr(0, i);
        if (part.size() <= 3 && part.find(L':') != std::wstring::npos) continue;  // "C:" or "C:\"
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS &&
            i == wide.size()) {
            return dir + ": " + system_error_text(GetLastError());
        }
    }
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES)
        return dir + ": " + system_error_text(GetLastError());
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) return dir + ": not a folder";
    return {};
}

std::string create_new_file(const std::string& path, std::string_view data) {
    const std::wstring wide = wide_from_narrow(path);
    if (wide.empty()) return path + ": " + system_error_text(ERROR_NO_UNICODE_TRANSLATION);
    // CREATE_NEW: never an existing name, a link's included.
    unique_handle f(CreateFileW(wide.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!f.valid()) return path + ": " + system_error_text(GetLastError());
    if (!write_all(f.get(), data) || !f.close()) {
        const DWORD code = GetLastError();
        f.close();
        DeleteFileW(wide.c_str());
        return path + ": " + system_error_text(code);
    }
    return {};
}

std::vector<own_file> own_files_in(const std::string& dir) {
    std::vector<own_file> files;
    WIN32_FIND_DATAW entry{};
    const std::wstring pattern = child_of(dir, "*");
    const HANDLE find = FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &entry,
                                         FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return files;
    do {
        constexpr DWORD not_files =
            FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE;
        if (entry.dwFileAttributes & not_files) continue;
        const auto since_1970 = std::chrono::duration<long long, std::ratio<1, 10000000>>(
            unix_time_100ns(entry.ftLastWriteTime));
        files.push_back(
            {narrow_from_wide(entry.cFileName),
             std::chrono::system_clock::time_point(
                 std::chrono::duration_cast<std::chrono::system_clock::duration>(since_1970))});
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return files;
}

bool remove_file(const std::string& dir, std::string_view name) {
    return DeleteFileW(child_of(dir, name).c_str()) != 0;
}

bool replace_file(const std::string& dir, std::string_view from, std::string_view to) {
    return MoveFileExW(child_of(dir, from).c_str(), child_of(dir, to).c_str(),
                       MOVEFILE_REPLACE_EXISTING) != 0;
}

bool renew_file(const std::string& dir, std::string_view name) {
    unique_handle f(CreateFileW(child_of(dir, name).c_str(), FILE_WRITE_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!f.valid()) return false;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    return SetFileTime(f.get(), nullptr, nullptr, &now) != 0;
}

std::string file_head(const std::string& dir, std::string_view name, std::size_t size) {
    unique_handle f(CreateFileW(child_of(dir, name).c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
    if (!f.valid() || GetFileType(f.get()) != FILE_TYPE_DISK) return {};
    std::string head(size, '\0');
    std::size_t got = 0;
    while (got < size) {
        DWORD n = 0;
        if (!ReadFile(f.get(), head.data() + got, static_cast<DWORD>(size - got), &n, nullptr) ||
            n == 0)
            break;
        got += n;
    }
    head.resize(got);
    return head;
}

}  // namespace platform
