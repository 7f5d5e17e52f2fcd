// Line-based differences between two texts.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

#include "tools/zorvexplorer/diff/sequence_diff.h"

namespace zorv {

/// Lines of text, each with its line feed; a last line without one is kept as it stands.
/// The views point into text.
std::vector<std::string_view> split_lines(std::string_view text);

/// The regions in which b differs from a (line_hunk counts lines here), from a shortest
/// edit script where one comes at a bounded cost (see diff_ids).
std::vector<line_hunk> diff_lines(const std::vector<std::string_view>& a,
                                  const std::vector<std::string_view>& b);

/// Lines [begin, end) of one text.
struct line_range {
    std::size_t begin, end;
    std::size_t size() const { return end - begin; }
};

/// True when lines ra of a are lines rb of b.
bool same_lines(const std::vector<std::string_view>& a, line_range ra,
                const std::vector<std::string_view>& b, line_range rb);

/// A region of a base that a first or a second text (or both) changes, with the lines of
/// each over it; between two regions all three texts agree.
struct three_way_block {
    line_range base, first, second;
    bool first_changed, second_changed;
};

/// How far a region of three_way_blocks grows.
enum class three_way_grouping {
    touching,     // while changes of the two overlap or touch: a merge decides each as a whole
    overlapping,  // while they overlap: changes that only meet stay apart, for showing
};

/// The changed regions of first and second against base, in order.
std::vector<three_way_block> three_way_blocks(
    const std::vector<std::string_view>& base, const std::vector<std::string_view>& first,
    const std::vector<std::string_view>& second,
    three_way_grouping grouping = three_way_grouping::touching);

/// The same from the hunks of first and of second against base.
std::vector<three_way_block> three_way_blocks(const std::vector<line_hunk>& first,
                                              const std::vector<line_hunk>& second,
                                              three_way_grouping grouping);

}  // namespace zorv
