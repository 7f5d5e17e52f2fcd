// Whether a merge with conflicts is shown to the user, from the client's environment.
#pragma once

#include <chrono>
#include <string>

#include "tools/zorvexplorer/merge/conflict_resolver.h"
#include "tools/zorvexplorer/server/merge_server.h"

namespace zorv {

enum class merge_ui { none, browser };

/// ZORV_MERGE_UI (setting, null when unset): "none" never shows the merge page, "browser"
/// always does; anything else shows it when a desktop session is there.
merge_ui merge_ui_for(const char* setting, bool desktop_session);

/// ZORV_MERGE_HEARTBEAT_MS (setting, null when unset): how long a merge page may stay
/// silent before it counts as closed; 15 seconds unless it holds a positive number.
std::chrono::milliseconds heartbeat_limit_for(const char* setting);

/// A small page that sends the browser on to url. Handed to the browser instead of the URL,
/// from a file in the user's private work directory, it keeps the token off command lines,
/// where every local user could read it.
std::string merge_page_launcher(const std::string& url);

/// The resolver that serves the merge page with options; options.open_page is given the
/// path of a launcher file in work_dir's "merge" folder (removed when the merge ends), or
/// the URL itself when there is no work directory.
conflict_resolver merge_page_resolver(std::string work_dir, merge_session_options options);

}  // namespace zorv
