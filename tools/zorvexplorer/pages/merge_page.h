// The page on which the user resolves a merge's conflicts in the browser.
#pragma once

#include <chrono>
#include <string>

#include "tools/zorvexplorer/merge/merge.h"

namespace zorv {

/// The whole page (HTML with its style and script) for merged, whose result goes to
/// output_name. The page reports itself alive every heartbeat_every; it talks to the
/// server by relative URLs ("alive", "save", "cancel"), so it must be served from the
/// folder URL that carries the session's token.
std::string render_merge_page(const merge_result& merged, const std::string& output_name,
                              std::chrono::milliseconds heartbeat_every);

}  // namespace zorv
