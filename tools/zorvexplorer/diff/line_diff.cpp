#include "tools/zorvexplorer/diff/line_diff.h"

#include <algorithm>
#include <cstdint>

namespace zorv {

std::vector<std::string_view> split_lines(std::string_view text) {
    std::vector<std::string_view> lines;
    std::size_t pos = 0;
    while (pos < text.size()) {
        const std::size_t nl = text.find('\n', pos);
        const std::size_t end = nl == std::string_view::npos ? text.size() : nl + 1;
        lines.push_back(text.substr(pos, end - pos));
        pos = end;
    }
    return lines;
}

std::vector<line_hunk> diff_lines(const std::vector<std::string_view>& a,
                                  const std::vector<std::string_view>& b) {
    interner lines(a.size() + b.size());
    std::vector<std::uint32_t> ia, ib;
    ia.reserve(a.size());
    ib.reserve(b.size());
    for (const std::string_view line : a) ia.push_back(lines.id(line));
    for (const std::string_view line : b) ib.push_back(lines.id(line));
    return diff_ids(ia, ib, lines.size());
}

bool same_lines(const std::vector<std::string_view>& a, line_range ra,
                const std::vector<std::string_view>& b, line_range rb) {
    return ra.size() == rb.size() &&
           std::equal(a.begin() + ra.begin, a.begin() + ra.end, b.begin() + rb.begin);
}

namespace {

// The lines of one side over the base region [lo, hi), given the side's hunks
// [first, last) that fall in it.
line_range side_over(const std::vector<line_hunk>& hunks, std::size_t first, std::size_t last,
                     std::size_t lo, std::size_t hi) {
    const line_hunk& f = hunks[first];
    const line_hunk& l = hunks[last - 1];
    return {f.b_begin - (f.a_begin - lo), l.b_end + (hi - l.a_end)};
}

}  // namespace

std::vector<three_way_block> three_way_blocks(const std::vector<std::string_view>& base,
                                              const std::vector<std::string_view>& first,
                                              const std::vector<std::string_view>& second,
                                              three_way_grouping grouping) {
    return three_way_blocks(diff_lines(base, first), diff_lines(base, second), grouping);
}

std::vector<three_way_block> three_way_blocks(const std::vector<line_hunk>& a,
                                              const std::vector<line_hunk>& b,
                                              three_way_grouping grouping) {
    std::vector<three_way_block> out;
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t pos = 0;  // in the base
    std::size_t p1 = 0;   // in first
    std::size_t p2 = 0;   // in second
    while (i < a.size() || j < b.size()) {
        // A block starts at the earliest hunk and grows while a hunk of either side
        // overlaps or touches it.
        const bool start_a = j >= b.size() || (i < a.size() && a[i].a_begin <= b[j].a_begin);
        const std::size_t lo = start_a ? a[i].a_begin : b[j].a_begin;
        std::size_t hi = start_a ? a[i].a_end : b[j].a_end;
        const std::size_t i0 = i;
        const std::size_t j0 = j;
        // In half-line steps: base line k is 2k + 1, the place before it 2k. A hunk over
        // lines [x, y) spans 2x + 1 to 2y - 1; one that only adds lines at x stands at 2x.
        const auto from = [](const line_hunk& h) {
            return h.a_begin == h.a_end ? 2 * h.a_begin : 2 * h.a_begin + 1;
        };
        const auto to = [](const line_hunk& h) {
            return h.a_begin == h.a_end ? 2 * h.a_begin : 2 * h.a_end - 1;
        };
        std::size_t reach = start_a ? to(a[i]) : to(b[j]);
        const auto joins = [&](const line_hunk& h) {
            return grouping == three_way_grouping::touching ? h.a_begin <= hi : from(h) <= reach;
        };
        for (bool grew = true; grew;) {
            grew = false;
            while (i < a.size() && joins(a[i])) {
                reach = std::max(reach, to(a[i]));
                hi = std::max(hi, a[i++].a_end);
                grew = true;
            }
            while (j < b.size() && joins(b[j])) {
                reach = std::max(reach, to(b[j]));
                hi = std::max(hi, b[j++].a_end);
                grew = true;
            }
        }
        // A side without hunks here has the base's lines, shifted as far as its earlier
        // changes moved it.
        const std::size_t common = lo - pos;
        const line_range r1 =
            i > i0 ? side_over(a, i0, i, lo, hi) : line_range{p1 + common, p1 + common + hi - lo};
        const line_range r2 =
            j > j0 ? side_over(b, j0, j, lo, hi) : line_range{p2 + common, p2 + common + hi - lo};
        out.push_back({{lo, hi}, r1, r2, i > i0, j > j0});
        pos = hi;
        p1 = r1.end;
        p2 = r2.end;
    }
    return out;
}

}  // namespace zorv
