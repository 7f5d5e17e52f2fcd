#include "tools/zorvexplorer/merge.h"

#include <algorithm>

#include "tools/zorvexplorer/line_diff.h"

namespace zorv {

namespace {

using lines = std::vector<std::string_view>;

std::string_view line_end_of(const lines& l) {
    if (!l.empty() && l.front().ends_with("\r\n")) return "\r\n";
    return "\n";
}

struct merge_writer {
    std::string& out;
    std::string_view eol;

    void put(const lines& l, std::size_t begin, std::size_t end) {
        for (std::size_t i = begin; i < end; ++i) out += l[i];
    }
    void marker(std::string_view m, std::string_view name) {
        // A side that ends without a line feed must not swallow the marker.
        if (!out.empty() && out.back() != '\n') out += eol;
        out += m;
        if (!name.empty()) {
            out += ' ';
            // A line break in a name would end the marker line early.
            for (const char c : name) out += c == '\n' || c == '\r' ? ' ' : c;
        }
        out += eol;
    }
};

bool same_lines(const lines& a, std::size_t ab, std::size_t ae, const lines& b, std::size_t bb,
                std::size_t be) {
    return ae - ab == be - bb && std::equal(a.begin() + ab, a.begin() + ae, b.begin() + bb);
}

// The lines of one side over the base region [lo, hi), given the side's hunks
// [first, last) that fall in it; the base lines themselves when it has none there.
struct side_range {
    std::size_t begin, end;
};

side_range side_over(const std::vector<line_hunk>& hunks, std::size_t first, std::size_t last,
                     std::size_t lo, std::size_t hi) {
    const line_hunk& f = hunks[first];
    const line_hunk& l = hunks[last - 1];
    return {f.b_begin - (f.a_begin - lo), l.b_end + (hi - l.a_end)};
}

}  // namespace

merge_result merge3(std::string_view base_text, std::string_view ours_text,
                    std::string_view theirs_text, std::string_view base_name,
                    std::string_view ours_name, std::string_view theirs_name) {
    const lines base = split_lines(base_text);
    const lines ours = split_lines(ours_text);
    const lines theirs = split_lines(theirs_text);
    const std::vector<line_hunk> a = diff_lines(base, ours);
    const std::vector<line_hunk> b = diff_lines(base, theirs);

    merge_result result;
    merge_writer w{result.text, line_end_of(base)};
    std::size_t i = 0;
    std::size_t j = 0;
    std::size_t pos = 0;
    while (i < a.size() || j < b.size()) {
        // A block starts at the earliest hunk and grows while a hunk of either side
        // overlaps or touches it.
        const bool start_a = j >= b.size() || (i < a.size() && a[i].a_begin <= b[j].a_begin);
        const std::size_t lo = start_a ? a[i].a_begin : b[j].a_begin;
        std::size_t hi = start_a ? a[i].a_end : b[j].a_end;
        const std::size_t i0 = i;
        const std::size_t j0 = j;
        for (bool grew = true; grew;) {
            grew = false;
            while (i < a.size() && a[i].a_begin <= hi) {
                hi = std::max(hi, a[i++].a_end);
                grew = true;
            }
            while (j < b.size() && b[j].a_begin <= hi) {
                hi = std::max(hi, b[j++].a_end);
                grew = true;
            }
        }
        w.put(base, pos, lo);
        pos = hi;
        const bool ours_changed = i > i0;
        const bool theirs_changed = j > j0;
        const side_range o = ours_changed ? side_over(a, i0, i, lo, hi) : side_range{lo, hi};
        const side_range t = theirs_changed ? side_over(b, j0, j, lo, hi) : side_range{lo, hi};
        if (!theirs_changed) {
            w.put(ours, o.begin, o.end);
        } else if (!ours_changed) {
            w.put(theirs, t.begin, t.end);
        } else if (same_lines(ours, o.begin, o.end, theirs, t.begin, t.end)) {
            w.put(ours, o.begin, o.end);
        } else {
            ++result.conflicts;
            w.marker(conflict_start_marker, ours_name);
            w.put(ours, o.begin, o.end);
            w.marker(conflict_base_marker, base_name);
            w.put(base, lo, hi);
            w.marker(conflict_separator, {});
            w.put(theirs, t.begin, t.end);
            w.marker(conflict_end_marker, theirs_name);
        }
    }
    w.put(base, pos, base.size());
    return result;
}

merge_result merge2(std::string_view a_text, std::string_view b_text, std::string_view a_name,
                    std::string_view b_name) {
    const lines a = split_lines(a_text);
    const lines b = split_lines(b_text);
    merge_result result;
    merge_writer w{result.text, line_end_of(a)};
    std::size_t pos = 0;
    for (const line_hunk& h : diff_lines(a, b)) {
        w.put(a, pos, h.a_begin);
        ++result.conflicts;
        w.marker(conflict_start_marker, a_name);
        w.put(a, h.a_begin, h.a_end);
        w.marker(conflict_separator, {});
        w.put(b, h.b_begin, h.b_end);
        w.marker(conflict_end_marker, b_name);
        pos = h.a_end;
    }
    w.put(a, pos, a.size());
    return result;
}

merge_result merge_contributors(const std::vector<std::string>& texts,
                                const std::vector<std::string>& names) {
    const auto name = [&](std::size_t k) { return k < names.size() ? names[k] : std::string(); };
    if (texts.size() < 2) return merge_result{texts.empty() ? std::string() : texts[0], 0};
    if (texts.size() == 2) return merge2(texts[0], texts[1], name(0), name(1));
    merge_result merged = merge3(texts[0], texts[1], texts[2], name(0), name(1), name(2));
    std::string merged_name = name(1) + ", " + name(2);
    for (std::size_t k = 3; k < texts.size(); ++k) {
        merge_result next = merge3(texts[0], merged.text, texts[k], name(0), merged_name, name(k));
        next.conflicts += merged.conflicts;
        merged = std::move(next);
        merged_name += ", " + name(k);
    }
    return merged;
}

}  // namespace zorv
