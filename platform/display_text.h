// Names and paths shown on pages, which are UTF-8 whatever the system's code page.
#pragma once

#include <string>
#include <string_view>

namespace platform {

/// name (a display name or path as this program was given it) in UTF-8. POSIX: the bytes
/// as they are, since names there are bytes and mostly UTF-8 already; Windows: converted
/// from the system's code page, in which programs get their arguments (bytes that it does
/// not hold are kept as they are).
[[nodiscard]] std::string display_utf8(std::string_view name);

}  // namespace platform
