// What a compare page shows, as data: for each table (a pair of files, or three files in
// three columns) the runs of lines that agree and the changes between them.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "tools/zorvexplorer/diff/line_diff.h"

namespace zorv {

struct pair_summary {
    std::size_t changed = 0;  // lines replaced (counted on the other contributor's side)
    std::size_t added = 0;    // lines only the other contributor has
    std::size_t removed = 0;  // lines only the first contributor has
    bool identical() const { return changed == 0 && added == 0 && removed == 0; }
};

/// What kind of change a change is, when it is only one of these.
enum class change_kind : unsigned char {
    content,      // anything else
    white_space,  // the texts differ only in white space (blank lines included)
    line_ending,  // the lines are the same but for how they end
};

/// How a column's lines end within a change.
enum class line_end : unsigned char { none, lf, crlf, mixed };

/// Lines that all columns share, or a change.
struct page_block {
    bool common = true;
    std::vector<line_range> cols;
    int only = -1;  // three columns: the column that alone differs; -1 when all differ
    change_kind kind = change_kind::content;
    std::vector<line_end> ends;  // line_ending: per column
};

using page_lines = std::vector<std::string_view>;

/// Two files, given the hunks of b against a: common runs and changes.
std::vector<page_block> align_pair(const page_lines& a, const page_lines& b,
                                   const std::vector<line_hunk>& hunks);

/// Three files aligned on the first, given the hunks of f1 and f2 against f0: a change is
/// where the second or the third differs from it; changes are split wherever they do not
/// overlap.
std::vector<page_block> align_three(const page_lines& f0, const page_lines& f1,
                                    const page_lines& f2, const std::vector<line_hunk>& h1,
                                    const std::vector<line_hunk>& h2);

/// Counts of the changes of a pair.
pair_summary count_changes(const std::vector<page_block>& blocks);

/// A line without its line end.
std::string_view without_line_end(std::string_view line);

}  // namespace zorv
