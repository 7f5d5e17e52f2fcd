// The compare page: every contributor against the first, side by side, as one
// self-contained HTML document.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "tools/zorvexplorer/diff/binary_compare.h"

namespace zorv {

struct pair_summary {
    std::size_t changed = 0;  // lines replaced (counted on the other contributor's side)
    std::size_t added = 0;    // lines only the other contributor has
    std::size_t removed = 0;  // lines only the first contributor has
    bool identical() const { return changed == 0 && added == 0 && removed == 0; }
};

/// Counts of contributor `other` against `first`.
pair_summary summarize(const std::string& first, const std::string& other);

/// The page for texts (UTF-8, or bytes shown with U+FFFD for what is not UTF-8), titled
/// with names (same length as texts, at least two). facts, when given, hold one entry per
/// text; a pair with a binary file is shown by its facts, never as text.
std::string render_compare_page(const std::vector<std::string>& names,
                                const std::vector<std::string>& texts,
                                const std::vector<file_facts>& facts = {});

}  // namespace zorv
