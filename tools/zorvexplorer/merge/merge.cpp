#include "tools/zorvexplorer/merge/merge.h"

#include <algorithm>

#include "tools/zorvexplorer/diff/line_diff.h"

namespace zorv {

namespace {

using lines = std::vector<std::string_view>;

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
    void conflict(const lines& o, line_range ro, const lines* b, line_range rb, const lines& t,
                  line_range rt) {
        merge_chunk c;
        c.conflict = true;
        c.ours_line = ro.begin;
        c.base_line = rb.begin;
        c.theirs_line = rt.begin;
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

}  // namespace

merge_result merge3(std::string_view base_text, std::string_view ours_text,
                    std::string_view theirs_text, std::string_view base_name,
                    std::string_view ours_name, std::string_view theirs_name) {
    const lines base = split_lines(base_text);
    const lines ours = split_lines(ours_text);
    const lines theirs = split_lines(theirs_text);

    merge_result result;
    result.eol = line_end_of(base);
    result.ours_name = ours_name;
    result.base_name = base_name;
    result.theirs_name = theirs_name;
    merge_writer w{result};
    std::size_t pos = 0;
    for (const three_way_block& k : three_way_blocks(base, ours, theirs)) {
        w.put(base, pos, k.base.begin);
        pos = k.base.end;
        if (!k.second_changed) {
            w.put(ours, k.first.begin, k.first.end);
        } else if (!k.first_changed) {
            w.put(theirs, k.second.begin, k.second.end);
        } else if (same_lines(ours, k.first, theirs, k.second)) {
            w.put(ours, k.first.begin, k.first.end);
        } else {
            w.conflict(ours, k.first, &base, k.base, theirs, k.second);
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
