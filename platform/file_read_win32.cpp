#include <new>

#include "platform/file_read.h"
#include "platform/file_save.h"
#include "platform/text_win32.h"

namespace platform {

file_contents read_regular_file(const std::string& path, std::uint64_t limit) {
    file_contents result;
    const auto fail = [&](read_status status, DWORD code = 0) {
        result.status = status;
        if (status == read_status::failed) result.reason = system_error_text(code);
        std::string().swap(result.data);
        return std::move(result);
    };
    try {
        // Devices are refused by their names and attributes before anything opens them:
        // opening a device can itself do something.
        if (is_windows_device(path)) return fail(read_status::not_regular);
        const std::wstring wide = wide_from_narrow(path);
        if (wide.empty()) return fail(read_status::failed, ERROR_NO_UNICODE_TRANSLATION);
        const DWORD attributes = GetFileAttributesW(wide.c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES) return fail(read_status::failed, GetLastError());
        if (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE))
            return fail(read_status::not_regular);
        // Shared with every writer and remover: reading never stands in anyone's way.
        const unique_handle f(CreateFileW(
            wide.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
            nullptr, OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr));
        if (!f.valid()) return fail(read_status::failed, GetLastError());
        if (GetFileType(f.get()) != FILE_TYPE_DISK) return fail(read_status::not_regular);
        LARGE_INTEGER size{};
        if (!GetFileSizeEx(f.get(), &size)) return fail(read_status::failed, GetLastError());
        if (static_cast<std::uint64_t>(size.QuadPart) > limit) return fail(read_status::too_large);
        result.data.reserve(static_cast<std::size_t>(size.QuadPart));
        char buffer[65536];
        for (;;) {
            DWORD n = 0;
            if (!ReadFile(f.get(), buffer, sizeof buffer, &n, nullptr))
                return fail(read_status::failed, GetLastError());
            if (n == 0) break;
            // The file may have grown since it was measured.
            if (result.data.size() + n > limit) return fail(read_status::too_large);
            result.data.append(buffer, n);
        }
    } catch (const std::bad_alloc&) {
        return fail(read_status::out_of_memory);
    }
    result.status = read_status::ok;
    return result;
}

}  // namespace platform
