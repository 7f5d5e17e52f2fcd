// How a merge with conflicts is taken to the user, and how that ended.
#pragma once

#include <functional>
#include <string>

#include "tools/zorvexplorer/merge/merge.h"

namespace zorv {

enum class merge_session_end { saved, cancelled, closed, not_served };

struct merge_session_result {
    merge_session_end end = merge_session_end::not_served;
    std::string detail;  // for the log
};

/// Writes a merge's output as every merge does; the error text, empty on success.
using output_writer = std::function<std::string(const std::string&)>;

/// Takes a merge with conflicts to the user: given the merge, the output's name and the
/// output's writer, returns how the user ended it.
using conflict_resolver = std::function<merge_session_result(
    const merge_result&, const std::string&, const output_writer&)>;

}  // namespace zorv
