// SHA-256, for naming a binary file's content on a compare page.
#pragma once

#include <string>
#include <string_view>

namespace zorv {

/// The SHA-256 digest of data as 64 lower-case hex digits.
std::string sha256_hex(std::string_view data);

}  // namespace zorv
