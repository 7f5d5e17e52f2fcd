// Whether a merge with conflicts is shown to the user, from the client's environment.
#pragma once

#include <chrono>

namespace zorv {

enum class merge_ui { none, browser };

/// ZORV_MERGE_UI (setting, null when unset): "none" never shows the merge page, "browser"
/// always does; anything else shows it when a desktop session is there.
merge_ui merge_ui_for(const char* setting, bool desktop_session);

/// ZORV_MERGE_HEARTBEAT_MS (setting, null when unset): how long a merge page may stay
/// silent before it counts as closed; 15 seconds unless it holds a positive number.
std::chrono::milliseconds heartbeat_limit_for(const char* setting);

}  // namespace zorv
