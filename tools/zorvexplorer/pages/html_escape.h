// Text put into the pages' markup.
#pragma once

#include <string>
#include <string_view>

namespace zorv {

/// text with & < > " ' written as character references, safe in element content and in
/// quoted attribute values.
std::string html_escape(std::string_view text);

}  // namespace zorv
