// Line-based differences between two texts.
#pragma once

#include <cstddef>
#include <string_view>
#include <vector>

namespace zorv {

/// Lines of text, each with its line feed; a last line without one is kept as it stands.
/// The views point into text.
std::vector<std::string_view> split_lines(std::string_view text);

/// One differing region: lines [a_begin, a_end) of a stand where lines [b_begin, b_end)
/// of b stand. Regions are ordered and separated by at least one common line.
struct line_hunk {
    std::size_t a_begin, a_end, b_begin, b_end;
};

/// The regions in which b differs from a, from a shortest edit script.
std::vector<line_hunk> diff_lines(const std::vector<std::string_view>& a,
                                  const std::vector<std::string_view>& b);

}  // namespace zorv
