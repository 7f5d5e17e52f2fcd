#include "platform/display_text.h"

namespace platform {

std::string display_utf8(std::string_view name) { return std::string(name); }

}  // namespace platform
