#include "tools/zorvexplorer/merge_ui.h"

#include <charconv>
#include <string_view>

namespace zorv {

merge_ui merge_ui_for(const char* setting, bool desktop_session) {
    const std::string_view s = setting ? setting : "";
    if (s == "none") return merge_ui::none;
    if (s == "browser") return merge_ui::browser;
    return desktop_session ? merge_ui::browser : merge_ui::none;
}

std::chrono::milliseconds heartbeat_limit_for(const char* setting) {
    constexpr std::chrono::milliseconds standard{15000};
    const std::string_view s = setting ? setting : "";
    long long ms = 0;
    const auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), ms);
    if (ec != std::errc() || end != s.data() + s.size() || ms <= 0) return standard;
    return std::chrono::milliseconds(ms);
}

}  // namespace zorv
