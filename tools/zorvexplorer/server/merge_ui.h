// Whether a merge with conflicts is shown to the user, from the client's environment.
#pragma once

#include <chrono>
#include <cstddef>
#include <string>
#include <string_view>

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

/// ZORV_MERGE_OPEN_MS (setting, null when unset): how long a merge page may take to open
/// (its script's first report); 2 minutes unless it holds a positive number.
std::chrono::milliseconds open_limit_for(const char* setting);

/// The launcher files: <work dir>/merge/merge-<unique>.html.
inline constexpr std::string_view merge_launcher_folder = "merge";
inline constexpr std::string_view merge_launcher_prefix = "merge";
inline constexpr std::string_view merge_launcher_suffix = ".html";

/// A small page that sends the browser on to url. Handed to the browser instead of the URL,
/// from a file in the user's private work directory, it keeps the token off command lines,
/// where every local user could read it.
std::string merge_page_launcher(const std::string& url);

/// The resolver that serves the merge page with options; options.open_page is given the
/// path of a launcher file in work_dir's launcher folder (removed when the merge ends).
/// When no launcher can be written (no work directory, a full disk) the page is not
/// offered, and the reason logged: the URL never stands on a command line.
conflict_resolver merge_page_resolver(std::string work_dir, merge_session_options options);

/// Removes the launcher files in work_dir's launcher folder (regular files of ours named as
/// above, platform::own_files_in) last written before older_than ago: those of merges that
/// ended without removing theirs (a client that was killed). Files of a page still opening
/// are younger. How many went.
std::size_t prune_merge_launchers(const std::string& work_dir,
                                  std::chrono::milliseconds older_than);

}  // namespace zorv
