// The compare page: every contributor against the first (or three files in three columns),
// as one self-contained HTML document. The lines travel in the page as data, packed; the
// page's script draws the rows that are on screen.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "tools/zorvexplorer/diff/binary_compare.h"
#include "tools/zorvexplorer/pages/compare_page_model.h"

namespace zorv {

/// Pages of at most this many rows also carry their rows as markup, for readers without
/// JavaScript.
inline constexpr std::size_t rows_without_script = 5000;

/// Counts of contributor `other` against `first`.
pair_summary summarize(const std::string& first, const std::string& other);

struct compare_page {
    std::string html;
    std::string changes;  // what describe_changes says of the same files
    /// The file name of the shared script that colours the page's text, which must stand
    /// beside the page (keep_shared_script with colouring_script()); empty when the page
    /// colours nothing. Without it the page shows its text plain.
    std::string shared_script;
};

/// The page for texts (UTF-8, or bytes shown with U+FFFD for what is not UTF-8), titled
/// with names (same length as texts, at least two). facts, when given, hold one entry per
/// text; a pair with a binary file is shown by its facts, never as text. languages, when
/// given, hold one entry per text: the language to colour it in (language_of), or empty.
compare_page build_compare_page(const std::vector<std::string>& names,
                                const std::vector<std::string>& texts,
                                const std::vector<file_facts>& facts = {},
                                const std::vector<std::string_view>& languages = {});

/// The script that colours the text of compare pages, one copy shared by all of them.
std::string_view colouring_script();

/// The page alone.
std::string render_compare_page(const std::vector<std::string>& names,
                                const std::vector<std::string>& texts,
                                const std::vector<file_facts>& facts = {});

}  // namespace zorv
