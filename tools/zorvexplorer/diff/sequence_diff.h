// The difference of two sequences of interned items (equal items, equal numbers): the
// engine under the line diff and the word marks.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

namespace zorv {

/// One differing region: items [a_begin, a_end) of a stand where items [b_begin, b_end)
/// of b stand. Regions are ordered and separated by at least one common item.
struct line_hunk {
    std::size_t a_begin, a_end, b_begin, b_end;
    bool operator==(const line_hunk&) const = default;
};

/// Numbers for texts: equal texts get equal numbers, counted from 0 in order of first sight.
class interner {
  public:
    explicit interner(std::size_t expected = 0);
    std::uint32_t id(std::string_view text);
    std::size_t size() const { return texts_.size(); }

  private:
    void grow();
    std::vector<std::string_view> texts_;
    std::vector<std::uint32_t> slots_;  // id + 1, 0 for a free slot
    std::vector<std::size_t> hashes_;   // by id
};

/// How hard the search for a shortest edit script tries before it settles for a longer one.
struct diff_effort {
    /// Steps of one middle-snake search past which the furthest-reaching path is taken
    /// instead; 0 for a bound that grows with the square root of the lengths.
    std::size_t max_cost = 0;
};

/// The regions in which b differs from a. ids are below id_count. Common head and tail are
/// trimmed, items that the other side lacks are set aside, lines unique in both anchor
/// the rest, and what lies between anchors gets a shortest edit script unless that costs
/// more than effort allows; the script is correct either way.
std::vector<line_hunk> diff_ids(std::span<const std::uint32_t> a, std::span<const std::uint32_t> b,
                                std::size_t id_count, diff_effort effort = {});

/// Longest sequences that diff_small takes.
inline constexpr std::size_t small_sequence = 64;

/// A shortest edit script for two short sequences (at most small_sequence items each) whose
/// items equal(i, j) compares, without interning them or allocating more than the result.
template <typename Equal>
std::vector<line_hunk> diff_small(std::size_t n, std::size_t m, Equal equal) {
    // common[i][j]: the longest common subsequence of the items from i and j on.
    unsigned char common[small_sequence + 1][small_sequence + 1];
    for (std::size_t j = 0; j <= m; ++j) common[n][j] = 0;
    for (std::size_t i = n; i-- > 0;) {
        common[i][m] = 0;
        for (std::size_t j = m; j-- > 0;) {
            common[i][j] = equal(i, j) ? static_cast<unsigned char>(common[i + 1][j + 1] + 1)
                                       : std::max(common[i + 1][j], common[i][j + 1]);
        }
    }
    std::vector<line_hunk> hunks;
    std::size_t i = 0, j = 0;
    while (i < n || j < m) {
        if (i < n && j < m && equal(i, j) && common[i][j] == common[i + 1][j + 1] + 1) {
            ++i, ++j;
            continue;
        }
        line_hunk h{i, i, j, j};
        // What only a has comes first, then what only b has.
        while (i < n || j < m) {
            if (i < n && j < m && equal(i, j) && common[i][j] == common[i + 1][j + 1] + 1) break;
            if (i < n && (j == m || common[i + 1][j] >= common[i][j + 1])) {
                ++i;
            } else {
                ++j;
            }
        }
        h.a_end = i;
        h.b_end = j;
        hunks.push_back(h);
    }
    return hunks;
}

}  // namespace zorv
