#include "tools/zorvexplorer/merge.h"

#include <algorithm>

#include "tools/zorvexplorer/line_diff.h"

namespace zorv {

namespace {

using lines = std::vector<std::string_view>;

struct side_range {
    std::size_t begin, end;
};

std::string_view line_end_of(const lines& l) {
    if (!l.empty() && l.front().ends_with("\r\n")) return "\r\n";
    return "\n";
}

// Builds the chunks of a merge; the marked text is made from them at the end.
struct merge_writer {
    merge_result& result;

    void put(const lines& l, std::size_t begin, std::size_t end) {
        if (begin == end) return;
        if (result.chunks.empty() || result.chunks.back().conflict) result.chunks.emplace_back();
        for (std::size_t i = begin; i < end; ++i) result.chunks.back().text += l[i];
    }
    void conflict(const lines& o, side_range ro, const lines* b, side_range rb, const lines& t,
                  side_range rt) {
        merge_chunk c;
        c.conflict = true;
        for (std::size_t i = ro.begin; i < ro.end; ++i) c.ours += o[i];
        for (std::size_t i = rt.begin; i < rt.end; ++i) c.theirs += t[i];
        if (b != nullptr) {
            c.has_base = true;
            for (std::size_t i = rb.begin; i < rb.end; ++i) c.base += (*b)[i];
        }
        result.chunks.push_back(std::move(c));
        ++result.conflicts;
    }
};

void marker(std::string& out, std::string_view eol, std::string_view m, std::string_view name) {
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

// The merge as one text, each conflict between markers.
std::string marked_text(const merge_result& r) {
    std::string out;
    for (const merge_chunk& c : r.chunks) {
        if (!c.conflict) {
            out += c.text;
            continue;
        }
        marker(out, r.eol, conflict_start_marker, r.ours_name);
        out += c.ours;
        if (c.has_base) {
            marker(out, r.eol, conflict_base_marker, r.base_name);
            out += c.base;
        }
        marker(out, r.eol, conflict_separator, {});
        out += c.theirs;
        marker(out, r.eol, conflict_end_marker, r.theirs_name);
    }
    return out;
}

bool same_lines(const lines& a, std::size_t ab, std::size_t ae, const lines& b, std::size_t bb,
                std::size_t be) {
    return ae - ab == be - bb && std::equal(a.begin() + ab, a.begin() + ae, b.begin() + bb);
}

// The lines of one side over the base region [lo, hi), given the side's hunks
// [first, last) that fall in it; the base lines themselves when it has none there.

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
    result.eol = line_end_of(base);
    result.ours_name = ours_name;
    result.base_name = base_name;
    result.theirs_name = theirs_name;
    merge_writer w{result};
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
            w.conflict(ours, o, &base, {lo, hi}, theirs, t);
        }
    }
    w.put(base, pos, base.size());
    result.text = marked_text(result);
    return result;
}

merge_result merge2(std::string_view a_text, std::string_view b_text, std::string_view a_name,
                    std::string_view b_name) {
    const lines a = split_lines(a_text);
    const lines b = split_lines(b_text);
    merge_result result;
    result.eol = line_end_of(a);
    result.ours_name = a_name;
    result.theirs_name = b_name;
    merge_writer w{result};
    std::size_t pos = 0;
    for (const line_hunk& h : diff_lines(a, b)) {
        w.put(a, pos, h.a_begin);
        w.conflict(a, {h.a_begin, h.a_end}, nullptr, {}, b, {h.b_begin, h.b_end});
        pos = h.a_end;
    }
    w.put(a, pos, a.size());
    result.text = marked_text(result);
    return result;
}

merge_result merge_contributors(const std::vector<std::string>& texts,
                                const std::vector<std::string>& names) {
    const auto name = [&](std::size_t k) { return k < names.size() ? names[k] : std::string(); };
    if (texts.size() < 2) {
        merge_result single;
        if (!texts.empty()) {
            single.text = texts[0];
            single.chunks.emplace_back().text = texts[0];
        }
        return single;
    }
    if (texts.size() == 2) return merge2(texts[0], texts[1], name(0), name(1));
    merge_result merged = merge3(texts[0], texts[1], texts[2], name(0), name(1), name(2));
    std::string merged_name = name(1) + ", " + name(2);
    for (std::size_t k = 3; k < texts.size(); ++k) {
        merge_result next = merge3(texts[0], merged.text, texts[k], name(0), merged_name, name(k));
        // Earlier conflicts stand marked inside the chunks of this fold.
        if (merged.conflicts > 0) next.chunks.clear();
        next.conflicts += merged.conflicts;
        merged = std::move(next);
        merged_name += ", " + name(k);
    }
    return merged;
}

}  // namespace zorv
