// Serving a merge page on the loopback interface until the user saves, cancels or leaves.
#pragma once

#include <chrono>
#include <functional>
#include <string>
#include <string_view>

#include "tools/zorvexplorer/merge/conflict_resolver.h"
#include "tools/zorvexplorer/merge/merge.h"

namespace zorv {

struct merge_session_options {
    /// The page counts as closed when it has not reported for this long.
    std::chrono::milliseconds heartbeat_limit{15000};
    /// How long the browser may take to fetch the page the first time.
    std::chrono::milliseconds first_fetch_limit{120000};
    /// Opens the page's URL in the user's browser; false when nothing could be started.
    std::function<bool(const std::string& url)> open_page;
    std::function<void(std::string_view)> log;
    /// When given, ends the session as cancelled once it is set (the front end went away).
    merge_cancel* cancel = nullptr;
};

/// Serves the merge page for merged on 127.0.0.1 at a random port, under a random token
/// that every request must carry as its first path segment, with the Host header naming
/// that address and port; anything else is refused (403). Returns when the user saved
/// (save wrote the text: it returns the error text, empty on success; a failed save is
/// shown on the page and the page stays), cancelled, or the page stopped reporting.
merge_session_result run_merge_session(const merge_result& merged, const std::string& output_name,
                                       const std::function<std::string(const std::string&)>& save,
                                       const merge_session_options& options);

/// A hard-to-guess token: 32 hexadecimal digits from the system's random source.
std::string new_session_token();

}  // namespace zorv
