#include <algorithm>

#include "platform/display_text.h"
#include "platform/text_win32.h"

namespace platform {

std::string display_utf8(std::string_view name) {
    // ASCII reads the same in every code page.
    if (std::all_of(name.begin(), name.end(), [](char c) { return (c & 0x80) == 0; }))
        return std::string(name);
    const std::wstring wide = wide_from_narrow(name);
    if (wide.empty()) return std::string(name);
    const int size = static_cast<int>(wide.size());
    const int n = WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (n <= 0) return std::string(name);
    std::string utf8(static_cast<std::size_t>(n), '\0');
    WideCharToMultiByte(CP_UTF8, 0, wide.data(), size, utf8.data(), n, nullptr, nullptr);
    return utf8;
}

}  // namespace platform
