// What the user chose for each conflict of a merge, and the text that makes.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/zorvexplorer/merge/merge.h"

namespace zorv {

enum class conflict_choice { left, right, left_then_right, right_then_left, base, edited };

/// The choice named on the merge page: "left", "right", "left-right", "right-left", "base"
/// or "edit"; nothing for any other name.
std::optional<conflict_choice> choice_named(std::string_view name);

struct conflict_resolution {
    conflict_choice choice = conflict_choice::left;
    std::string text;  // the edited result, for conflict_choice::edited
};

struct resolved_merge {
    std::string text;
    std::string error;  // why the resolutions do not fit the merge; empty when they do
};

/// Text typed over the merged lines between conflicts: the j-th stretch without a conflict
/// (counted from 0) and what stands there now.
using typed_stretches = std::map<std::size_t, std::string>;

/// The merge with conflict k replaced by what resolutions[k] takes. A side is taken byte for
/// byte; two sides in a row are joined on a line of their own. An edited text gets the
/// merge's line ends and, unless it ends the file where no side ended with one, a line end
/// at its end. A stretch without a conflict is kept byte for byte unless typed holds it;
/// typed text is taken as it stands, its line feeds made the merge's line ends. Refused: a count
/// that differs from the conflicts', the base where the merge has none, or a typed stretch that the
/// merge does not have.
resolved_merge resolve_merge(const merge_result& merged,
                             const std::vector<conflict_resolution>& resolutions,
                             const typed_stretches& typed = {});

}  // namespace zorv
