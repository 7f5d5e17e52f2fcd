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
    /// How long the page may take to open: until its script first reports. A fetch alone
    /// (a link preview, a program that reads the page) does not open it.
    std::chrono::milliseconds open_limit{120000};
    /// Opens the page's URL in the user's browser; false when the page could not be offered.
    std::function<bool(const std::string& url)> open_page;
    std::function<void(std::string_view)> log;
    /// When given, ends the session as cancelled once it is set (the front end went away).
    merge_cancel* cancel = nullptr;
};

/// Serves the merge page for merged on 127.0.0.1 at a random port, under a random token
/// that every request must carry as its first path segment, with the Host header naming
/// that address and port; anything else is refused (403), and a connection whose first
/// line lacks the token is closed at once. Returns when the user saved (save wrote the
/// text: it returns the error text, empty on success; a failed save is shown on the page
/// and the page stays), cancelled, or the page stopped reporting. Time in which the server
/// itself was held up (the process stopped, the machine overloaded) does not count as the
/// page's silence.
merge_session_result run_merge_session(const merge_result& merged, const std::string& output_name,
                                       const std::function<std::string(const std::string&)>& save,
                                       const merge_session_options& options);

/// A hard-to-guess token: 32 hexadecimal digits from the system's random source.
std::string new_session_token();

}  // namespace zorv
