// Text packed small enough to ride along in a page: gzip, then base64.
#pragma once

#include <string>
#include <string_view>

namespace zorv {

/// data compressed as a gzip stream and written in base64 (no line breaks); a browser
/// unpacks it with atob and DecompressionStream("gzip"). Empty when compression fails.
std::string gzip_base64(std::string_view data);

}  // namespace zorv
