#include "tools/zorvexplorer/pages/compare_page.h"

#include <algorithm>
#include <string_view>

#include "tools/zorvexplorer/diff/inline_diff.h"
#include "tools/zorvexplorer/diff/line_diff.h"
#include "tools/zorvexplorer/files/text_codec.h"
#include "tools/zorvexplorer/pages/html_escape.h"
#include "tools/zorvexplorer/pages/page_assets.h"
#include "tools/zorvexplorer/pages/packed_text.h"

namespace zorv {

namespace {

using lines = std::vector<std::string_view>;

// Unchanged runs longer than this fold, keeping context lines next to each change.
constexpr std::size_t fold_longer_than = 8;
constexpr std::size_t fold_context = 3;

// A stretch of the aligned view: the same lines in every column, or a change.
struct stretch {
    bool common = true;
    std::vector<line_range> cols;
    // Three columns: the column that alone differs from the two others; -1 when all differ.
    int only = -1;
};

std::string_view without_line_end(std::string_view line) {
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    return line;
}

std::string shown(std::string_view line) { return sanitize_utf8(without_line_end(line)); }

// The text of one side with the changed spans wrapped in <span class="ch">.
std::string marked(const std::string& text, const std::vector<byte_span>& spans) {
    std::string out;
    std::size_t pos = 0;
    for (const byte_span& s : spans) {
        out += html_escape(std::string_view(text).substr(pos, s.begin - pos));
        out += "<span class=\"ch\">";
        out += html_escape(std::string_view(text).substr(s.begin, s.end - s.begin));
        out += "</span>";
        pos = s.end;
    }
    out += html_escape(std::string_view(text).substr(pos));
    return out;
}

std::vector<stretch> align_two(const lines& a, const lines& b) {
    std::vector<stretch> out;
    std::size_t ai = 0;
    std::size_t bi = 0;
    for (const line_hunk& h : diff_lines(a, b)) {
        if (h.a_begin > ai) out.push_back({true, {{ai, h.a_begin}, {bi, h.b_begin}}});
        out.push_back({false, {{h.a_begin, h.a_end}, {h.b_begin, h.b_end}}});
        ai = h.a_end;
        bi = h.b_end;
    }
    if (ai < a.size()) out.push_back({true, {{ai, a.size()}, {bi, b.size()}}});
    return out;
}

// The lines of a side over the region [lo, hi) of the first file, given the side's hunks
// [first, last) inside it.
// Three files aligned on the first: a change is any region where the second or the third
// differs from it, grown while the changes of the two overlap or touch.
std::vector<stretch> align_three(const lines& f0, const lines& f1, const lines& f2) {
    std::vector<stretch> out;
    line_range last{0, 0};
    line_range last1{0, 0};
    line_range last2{0, 0};
    const auto put_common = [&](std::size_t upto, std::size_t upto1, std::size_t upto2) {
        if (upto > last.end) {
            out.push_back({true, {{last.end, upto}, {last1.end, upto1}, {last2.end, upto2}}});
        }
    };
    for (const three_way_block& k : three_way_blocks(f0, f1, f2)) {
        put_common(k.base.begin, k.first.begin, k.second.begin);
        int only = -1;
        if (!k.first_changed) {
            only = 2;
        } else if (!k.second_changed) {
            only = 1;
        } else if (same_lines(f1, k.first, f2, k.second)) {
            only = 0;
        }
        out.push_back({false, {k.base, k.first, k.second}, only});
        last = k.base;
        last1 = k.first;
        last2 = k.second;
    }
    put_common(f0.size(), f1.size(), f2.size());
    return out;
}

std::string range_text(line_range r) {
    if (r.size() == 0) return "\xC2\xB7";  // a middle dot: nothing on this side
    std::string s = std::to_string(r.begin + 1);
    if (r.size() > 1) s += "\xE2\x80\x93" + std::to_string(r.end);  // an en dash
    return s;
}

struct page_parts {
    std::string sections;
    std::string change_list;
    std::string folded;  // hidden lines of every fold, each followed by a line feed
    std::size_t changes = 0;
    std::size_t folded_lines = 0;
};

class table_writer {
  public:
    table_writer(page_parts& parts, std::vector<const lines*> cols)
        : parts_(parts), out_(parts.sections), cols_(std::move(cols)) {}

    void header(const std::vector<std::string>& titles) {
        out_ += "<table class=\"diff\" data-sides=\"";
        for (std::size_t c = 0; c < cols_.size(); ++c) out_ += (c ? " " : "") + side(c);
        out_ += "\"><colgroup><col style=\"width:2em\">";
        for (std::size_t c = 0; c < cols_.size(); ++c) out_ += "<col style=\"width:4em\"><col>";
        out_ += "</colgroup>\n<thead><tr><th class=\"mark\"></th>";
        for (std::size_t c = 0; c < cols_.size(); ++c)
            out_ += "<th></th><th class=\"title " + side(c) + "\">" + titles[c] + "</th>";
        out_ += "</tr></thead>\n<tbody>\n";
    }
    void footer() { out_ += "</tbody></table>\n"; }

    void write(const std::vector<stretch>& stretches) {
        for (std::size_t k = 0; k < stretches.size(); ++k) {
            const stretch& s = stretches[k];
            if (s.common) {
                common(s, k == 0, k + 1 == stretches.size());
            } else {
                change(s);
            }
        }
    }

  private:
    std::string side(std::size_t c) const {
        if (cols_.size() == 2) return c == 0 ? "left" : "right";
        return c == 0 ? "left" : c + 1 == cols_.size() ? "right" : "middle";
    }

    void common_rows(const stretch& s, std::size_t from, std::size_t to) {
        for (std::size_t r = from; r < to; ++r) {
            out_ += "<tr class=\"same\"><td class=\"mark\">&nbsp;</td>";
            for (std::size_t c = 0; c < cols_.size(); ++c) {
                const std::size_t line = s.cols[c].begin + r;
                out_ += "<td class=\"num\">" + std::to_string(line + 1) +
                        "</td><td class=\"text c" + std::to_string(c) + " " + side(c) + "\">" +
                        html_escape(shown((*cols_[c])[line])) + "</td>";
            }
            out_ += "</tr>\n";
        }
    }

    void common(const stretch& s, bool at_start, bool at_end) {
        const std::size_t n = s.cols[0].size();
        std::size_t before = at_start ? 0 : fold_context;
        const std::size_t after = at_end ? 0 : fold_context;
        if (at_start && at_end) before = fold_context;  // identical files: show their start
        if (n <= fold_longer_than || before + after >= n) {
            common_rows(s, 0, n);
            return;
        }
        common_rows(s, 0, before);
        const std::size_t hidden = n - before - after;
        out_ += "<tr class=\"fold\" data-lines=\"" + std::to_string(hidden) + "\" data-offset=\"" +
                std::to_string(parts_.folded_lines) + "\" data-starts=\"";
        for (std::size_t c = 0; c < cols_.size(); ++c)
            out_ += (c ? "," : "") + std::to_string(s.cols[c].begin + before);
        out_ += "\"><td class=\"mark\">&#8942;</td><td colspan=\"" +
                std::to_string(2 * cols_.size()) + "\"><button type=\"button\">Show " +
                std::to_string(hidden) + " unchanged lines</button> (lines ";
        for (std::size_t c = 0; c < cols_.size(); ++c) {
            out_ += (c ? ", " : "") +
                    range_text({s.cols[c].begin + before, s.cols[c].begin + before + hidden});
        }
        out_ += ")</td></tr>\n";
        // Common lines are the same in every column: they travel once.
        for (std::size_t r = before; r < before + hidden; ++r) {
            parts_.folded += shown((*cols_[0])[s.cols[0].begin + r]);
            parts_.folded += '\n';
        }
        parts_.folded_lines += hidden;
        common_rows(s, n - after, n);
    }

    // Three columns: the column whose line alone differs in row r of a change, -1 when all
    // three differ; a row where nothing differs keeps what the change as a whole has.
    int row_only(const stretch& s, std::size_t r) const {
        const auto cell = [&](std::size_t c) -> const std::string_view* {
            return r < s.cols[c].size() ? &(*cols_[c])[s.cols[c].begin + r] : nullptr;
        };
        const auto same = [&](std::size_t x, std::size_t y) {
            const std::string_view* a = cell(x);
            const std::string_view* b = cell(y);
            return a == nullptr || b == nullptr ? a == b : *a == *b;
        };
        const bool s01 = same(0, 1), s02 = same(0, 2), s12 = same(1, 2);
        if (s01 && s02) return s.only;
        if (s12) return 0;
        if (s02) return 1;
        if (s01) return 2;
        return -1;
    }
    std::string row_class(const stretch& s, std::size_t r, int only) const {
        if (cols_.size() == 2) {
            const bool left = r < s.cols[0].size();
            const bool right = r < s.cols[1].size();
            return left && right ? "changed" : left ? "removed" : "added";
        }
        return only < 0 ? "all" : "only" + std::to_string(only);
    }
    static std::string marker(const std::string& kind, int only) {
        if (kind == "changed") return "!";
        if (kind == "added") return "+";
        if (kind == "removed") return "-";
        return only < 0 ? "*" : std::to_string(only + 1);
    }
    // The column that column c is compared with for the marks within a line; c itself
    // when c has no marks: the lone differing column against one that agrees, or, where
    // all differ, the first against the second and the others against the first.
    std::size_t partner(std::size_t c, int only) const {
        if (cols_.size() == 2) return 1 - c;
        if (only >= 0 && static_cast<std::size_t>(only) != c) return c;
        return c == 0 ? 1 : 0;
    }

    void change(const stretch& s) {
        std::size_t rows = 0;
        for (const line_range& r : s.cols) rows = std::max(rows, r.size());
        ++parts_.changes;
        const std::string id = "change-" + std::to_string(parts_.changes);
        parts_.change_list += "<a href=\"#" + id + "\">" + std::to_string(parts_.changes) + ": ";
        for (std::size_t c = 0; c < cols_.size(); ++c)
            parts_.change_list += (c ? " \xE2\x86\x94 " : "") + range_text(s.cols[c]);
        parts_.change_list += "</a>\n";
        for (std::size_t r = 0; r < rows; ++r) {
            const int only = cols_.size() == 3 ? row_only(s, r) : -1;
            const std::string kind = row_class(s, r, only);
            out_ += "<tr class=\"" + kind + "\"";
            if (r == 0) out_ += " id=\"" + id + "\"";
            out_ += "><td class=\"mark\">" + marker(kind, only) + "</td>";
            for (std::size_t c = 0; c < cols_.size(); ++c) {
                const bool present = r < s.cols[c].size();
                out_ += "<td class=\"num\">";
                if (present) out_ += std::to_string(s.cols[c].begin + r + 1);
                out_ += "</td><td class=\"text c" + std::to_string(c) + " " + side(c) +
                        (present || cols_.size() == 2 ? "" : " absent") + "\">";
                if (present) out_ += cell_text(s, r, c, partner(c, only));
                out_ += "</td>";
            }
            out_ += "</tr>\n";
        }
    }

    std::string cell_text(const stretch& s, std::size_t r, std::size_t c, std::size_t p) const {
        const std::string text = shown((*cols_[c])[s.cols[c].begin + r]);
        if (p == c || r >= s.cols[p].size()) return html_escape(text);
        const std::string other = shown((*cols_[p])[s.cols[p].begin + r]);
        return marked(text, diff_within_line(text, other).a);
    }

    page_parts& parts_;
    std::string& out_;
    std::vector<const lines*> cols_;
};

std::string summary_text(const pair_summary& s) {
    if (s.identical()) return "identical";
    return std::to_string(s.changed) + " changed, " + std::to_string(s.added) + " added, " +
           std::to_string(s.removed) + " removed";
}

pair_summary count(const std::vector<line_hunk>& hunks) {
    pair_summary s;
    for (const line_hunk& h : hunks) {
        const std::size_t na = h.a_end - h.a_begin;
        const std::size_t nb = h.b_end - h.b_begin;
        s.changed += std::min(na, nb);
        s.added += nb > na ? nb - na : 0;
        s.removed += na > nb ? na - nb : 0;
    }
    return s;
}

std::string swatch(std::string_view colour) {
    return "<span class=\"swatch\" style=\"background:" + std::string(colour) + "\"></span> ";
}

}  // namespace

pair_summary summarize(const std::string& first, const std::string& other) {
    return count(diff_lines(split_lines(first), split_lines(other)));
}

std::string render_compare_page(const std::vector<std::string>& names,
                                const std::vector<std::string>& texts,
                                const std::vector<file_facts>& facts) {
    std::vector<std::string> titles;
    for (const std::string& n : names) titles.push_back(html_escape(sanitize_utf8(n)));
    std::vector<lines> files;
    for (const std::string& t : texts) files.push_back(split_lines(t));
    page_parts parts;
    bool all_identical = true;
    std::string legend;
    const bool any_binary =
        std::any_of(facts.begin(), facts.end(), [](const file_facts& f) { return f.binary; });
    if (files.size() == 3 && !any_binary) {
        const std::vector<stretch> stretches = align_three(files[0], files[1], files[2]);
        all_identical = stretches.size() <= 1 && (stretches.empty() || stretches[0].common);
        parts.sections += "<section class=\"three\">\n";
        table_writer w(parts, {&files[0], &files[1], &files[2]});
        w.header(titles);
        w.write(stretches);
        w.footer();
        parts.sections += "</section>\n";
        legend = "<p class=\"legend\">Colours: " + swatch("#a9c8ff") + "only " + titles[0] +
                 " differs, " + swatch("#9fe39f") + "only " + titles[1] + " differs, " +
                 swatch("#ffc285") + "only " + titles[2] + " differs, " + swatch("#ffc9c9") +
                 "all three differ. The marker column names the file that differs.</p>\n";
    } else {
        for (std::size_t k = 1; k < files.size(); ++k) {
            if (k < facts.size() && (facts[0].binary || facts[k].binary)) {
                const std::string id = "change-" + std::to_string(parts.changes + 1);
                const binary_pair pair =
                    binary_pair_section(titles[0], facts[0], titles[k], facts[k], id);
                parts.sections += pair.html;
                all_identical = all_identical && pair.identical;
                if (!pair.identical) {
                    ++parts.changes;
                    parts.change_list += "<a href=\"#" + id + "\">" +
                                         std::to_string(parts.changes) + ": binary</a>\n";
                }
                continue;
            }
            const pair_summary s = count(diff_lines(files[0], files[k]));
            all_identical = all_identical && s.identical();
            parts.sections += "<section class=\"pair\">\n<p class=\"pair-summary\">" + titles[0] +
                              " &harr; " + titles[k] + ": " + summary_text(s) + "</p>\n";
            table_writer w(parts, {&files[0], &files[k]});
            w.header({titles[0], titles[k]});
            w.write(align_two(files[0], files[k]));
            w.footer();
            parts.sections += "</section>\n";
        }
        legend = "<p class=\"legend\">Marks: ! changed, + added, - removed; changed characters " +
                 std::string("<span class=\"ch\">stand out</span>.</p>\n");
    }

    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>Compare: ";
    for (std::size_t k = 0; k < titles.size(); ++k) page += (k ? " / " : "") + titles[k];
    page += "</title>\n<style>";
    page += assets::compare_page_css;
    page += "</style></head>\n<body>\n<h1>Compare</h1>\n<p class=\"summary\" id=\"summary\">";
    if (all_identical) {
        page += "The files are identical.";
    } else {
        page += "The files differ: " + std::to_string(parts.changes) +
                (parts.changes == 1 ? " change." : " changes.");
    }
    page += "</p>\n";
    if (files.size() > 3) {
        page += "<p class=\"note\">More than three files: each is compared with the first.</p>\n";
    }
    if (!all_identical) page += legend;
    page +=
        "<div id=\"toolbar\"><button type=\"button\" id=\"prev\">&#9664; Previous (p)</button> "
        "<button type=\"button\" id=\"next\">Next (n) &#9654;</button><span id=\"position\">" +
        std::to_string(parts.changes) + (parts.changes == 1 ? " change" : " changes") +
        "</span></div>\n";
    if (parts.changes > 0) page += "<nav id=\"changes\">Changes: " + parts.change_list + "</nav>\n";
    page += parts.sections;
    page += "<script id=\"folded\" type=\"application/octet-stream\">";
    if (parts.folded_lines > 0) page += gzip_base64(parts.folded);
    page += "</script>\n<script>";
    page += assets::compare_page_js;
    page += "</script>\n</body></html>\n";
    return page;
}

}  // namespace zorv
