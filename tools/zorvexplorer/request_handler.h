// Serving one request: from the framed call to the answer message.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "tools/zorvexplorer/merge/conflict_resolver.h"
#include "tools/zorvexplorer/merge/merge.h"
#include "tools/zorvexplorer/pages/page_store.h"

namespace zorv {

inline constexpr std::string_view compare_method = "RequestHandler.Compare";
inline constexpr std::string_view merge_method = "RequestHandler.CompareMerge";

/// What serving a request needs from its surroundings.
struct client_context {
    std::string work_dir;                               // compare pages go to its "compare" folder
    std::function<void(std::string_view)> log;          // one line to the client's log
    std::function<void(const std::string&)> show_page;  // shows a written compare page
    page_limits pages;                                  // how many compare pages are kept
    /// When set, a merge with conflicts goes to the user (see conflict_resolver). Unset:
    /// conflicts are written marked.
    conflict_resolver resolve_conflicts;
};

/// The answer to one message read from a request pipe: an HTTP head and a methodResponse
/// holding a boolean (true when the compare page was written, or the merge came out
/// without conflicts or was resolved and saved by the user), or a fault for a message that
/// is no call we serve. Never empty.
/// Logs one line naming the method, the files and the outcome. Whatever serving throws
/// (out of memory included) is logged and answered false.
/// cancel, when given, ends a merge in the user's hands as cancelled once it is set.
std::string serve_message(std::string_view message, const client_context& context,
                          merge_cancel* cancel = nullptr);

}  // namespace zorv
