#include "tools/zorvexplorer/pages/compare_page_model.h"

#include <algorithm>

namespace zorv {

namespace {

bool blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f';
}

line_end end_of(std::string_view line) {
    if (line.ends_with("\r\n")) return line_end::crlf;
    return line.ends_with('\n') ? line_end::lf : line_end::none;
}

// The lines of every column, read as one text each with white space left out, are equal.
bool same_but_white_space(const std::vector<const page_lines*>& files,
                          const std::vector<line_range>& cols) {
    struct cursor {
        const page_lines* lines;
        std::size_t line, end, at = 0;
        // The next character that is not white space, or -1 at the end.
        int next() {
            for (; line < end; ++line, at = 0) {
                const std::string_view l = (*lines)[line];
                while (at < l.size() && blank(l[at])) ++at;
                if (at < l.size()) return static_cast<unsigned char>(l[at++]);
            }
            return -1;
        }
    };
    std::vector<cursor> cs;
    for (std::size_t c = 0; c < cols.size(); ++c)
        cs.push_back({files[c], cols[c].begin, cols[c].end});
    for (;;) {
        const int first = cs[0].next();
        for (std::size_t c = 1; c < cs.size(); ++c) {
            if (cs[c].next() != first) return false;
        }
        if (first < 0) return true;
    }
}

// Labels a change that differs only in white space or only in line ends.
void label(page_block& b, const std::vector<const page_lines*>& files) {
    const std::size_t rows = b.cols[0].size();
    bool same_rows = rows > 0;
    for (const line_range& r : b.cols) same_rows = same_rows && r.size() == rows;
    if (same_rows) {
        std::vector<line_end> ends;
        for (std::size_t c = 0; c < b.cols.size() && same_rows; ++c) {
            line_end e = end_of((*files[c])[b.cols[c].begin]);
            for (std::size_t r = 0; r < rows; ++r) {
                const std::string_view line = (*files[c])[b.cols[c].begin + r];
                if (without_line_end(line) != without_line_end((*files[0])[b.cols[0].begin + r])) {
                    same_rows = false;
                    break;
                }
                if (end_of(line) != e) e = line_end::mixed;
            }
            ends.push_back(e);
        }
        if (same_rows) {
            b.kind = change_kind::line_ending;
            b.ends = std::move(ends);
            return;
        }
    }
    if (same_but_white_space(files, b.cols)) b.kind = change_kind::white_space;
}

page_block block(bool common, std::vector<line_range> cols, int only = -1) {
    page_block b;
    b.common = common;
    b.cols = std::move(cols);
    b.only = only;
    return b;
}

}  // namespace

std::string_view without_line_end(std::string_view line) {
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    return line;
}

std::vector<page_block> align_pair(const page_lines& a, const page_lines& b,
                                   const std::vector<line_hunk>& hunks) {
    std::vector<page_block> out;
    std::size_t ai = 0;
    std::size_t bi = 0;
    for (const line_hunk& h : hunks) {
        if (h.a_begin > ai) out.push_back(block(true, {{ai, h.a_begin}, {bi, h.b_begin}}));
        page_block change = block(false, {{h.a_begin, h.a_end}, {h.b_begin, h.b_end}});
        label(change, {&a, &b});
        out.push_back(std::move(change));
        ai = h.a_end;
        bi = h.b_end;
    }
    if (ai < a.size()) out.push_back(block(true, {{ai, a.size()}, {bi, b.size()}}));
    return out;
}

std::vector<page_block> align_three(const page_lines& f0, const page_lines& f1,
                                    const page_lines& f2, const std::vector<line_hunk>& h1,
                                    const std::vector<line_hunk>& h2) {
    std::vector<page_block> out;
    line_range last{0, 0};
    line_range last1{0, 0};
    line_range last2{0, 0};
    const auto put_common = [&](std::size_t upto, std::size_t upto1, std::size_t upto2) {
        if (upto > last.end) {
            out.push_back(block(true, {{last.end, upto}, {last1.end, upto1}, {last2.end, upto2}}));
        }
    };
    for (const three_way_block& k : three_way_blocks(h1, h2, three_way_grouping::overlapping)) {
        put_common(k.base.begin, k.first.begin, k.second.begin);
        int only = -1;
        if (!k.first_changed) {
            only = 2;
        } else if (!k.second_changed) {
            only = 1;
        } else if (same_lines(f1, k.first, f2, k.second)) {
            only = 0;
        }
        page_block change = block(false, {k.base, k.first, k.second}, only);
        label(change, {&f0, &f1, &f2});
        out.push_back(std::move(change));
        last = k.base;
        last1 = k.first;
        last2 = k.second;
    }
    put_common(f0.size(), f1.size(), f2.size());
    return out;
}

pair_summary count_changes(const std::vector<page_block>& blocks) {
    pair_summary s;
    for (const page_block& b : blocks) {
        if (b.common) continue;
        const std::size_t na = b.cols[0].size();
        const std::size_t nb = b.cols[1].size();
        s.changed += std::min(na, nb);
        s.added += nb > na ? nb - na : 0;
        s.removed += na > nb ? na - nb : 0;
    }
    return s;
}

}  // namespace zorv
