#include "tools/zorvexplorer/pages/compare_page_rows.h"

#include <algorithm>

#include "tools/zorvexplorer/diff/inline_diff.h"
#include "tools/zorvexplorer/files/text_codec.h"
#include "tools/zorvexplorer/pages/html_escape.h"

namespace zorv {

namespace {

std::string side(std::size_t columns, std::size_t c) {
    if (columns == 2) return c == 0 ? "left" : "right";
    return c == 0 ? "left" : c + 1 == columns ? "right" : "middle";
}

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

std::string range_text(line_range r) {
    if (r.size() == 0) return "\xC2\xB7";  // a middle dot: nothing on this side
    std::string s = std::to_string(r.begin + 1);
    if (r.size() > 1) s += "\xE2\x80\x93" + std::to_string(r.end);  // an en dash
    return s;
}

// Where a common run of n lines folds: lines [before, n - after) hide, or nothing.
struct fold {
    std::size_t before = 0, after = 0;
    bool folds = false;
};

fold fold_of(std::size_t n, bool at_start, bool at_end) {
    std::size_t before = at_start ? 0 : fold_context;
    const std::size_t after = at_end ? 0 : fold_context;
    if (at_start && at_end) before = fold_context;  // identical files: show their start
    if (n <= fold_longer_than || before + after >= n) return {};
    return {before, after, true};
}

class row_writer {
  public:
    row_writer(std::string& out, const std::vector<const page_lines*>& cols)
        : out_(out), cols_(cols) {}

    void common_rows(const page_block& b, std::size_t from, std::size_t to) {
        for (std::size_t r = from; r < to; ++r) {
            out_ += "<tr class=\"same\"><td class=\"mark\">&nbsp;</td>";
            for (std::size_t c = 0; c < cols_.size(); ++c) {
                const std::size_t line = b.cols[c].begin + r;
                out_ += "<td class=\"num\">" + std::to_string(line + 1) +
                        "</td><td class=\"text c" + std::to_string(c) + " " +
                        side(cols_.size(), c) + "\">" + html_escape(shown_line((*cols_[c])[line])) +
                        "</td>";
            }
            out_ += "</tr>\n";
        }
    }

    void common(const page_block& b, bool at_start, bool at_end) {
        const std::size_t n = b.cols[0].size();
        const fold f = fold_of(n, at_start, at_end);
        if (!f.folds) {
            common_rows(b, 0, n);
            return;
        }
        common_rows(b, 0, f.before);
        const std::size_t hidden = n - f.before - f.after;
        out_ += "<tr class=\"fold\"><td class=\"mark\">&#8942;</td><td colspan=\"" +
                std::to_string(2 * cols_.size()) + "\">" + std::to_string(hidden) +
                " unchanged lines (lines ";
        for (std::size_t c = 0; c < cols_.size(); ++c) {
            out_ += (c ? ", " : "") +
                    range_text({b.cols[c].begin + f.before, b.cols[c].begin + f.before + hidden});
        }
        out_ += ")</td></tr>\n";
        common_rows(b, n - f.after, n);
    }

    void change(const page_block& b, std::size_t number) {
        std::size_t rows = 0;
        for (const line_range& r : b.cols) rows = std::max(rows, r.size());
        for (std::size_t r = 0; r < rows; ++r) {
            const int only = cols_.size() == 3 ? three_column_row_only(b, r, cols_) : -1;
            std::string kind;
            if (cols_.size() == 2) {
                const bool left = r < b.cols[0].size();
                const bool right = r < b.cols[1].size();
                kind = left && right ? "changed" : left ? "removed" : "added";
            } else {
                kind = only < 0 ? "all" : "only" + std::to_string(only);
            }
            out_ += "<tr class=\"" + kind + "\"";
            if (r == 0) out_ += " id=\"change-" + std::to_string(number) + "\"";
            out_ += "><td class=\"mark\">" + marker(kind, only) + "</td>";
            for (std::size_t c = 0; c < cols_.size(); ++c) {
                const bool present = r < b.cols[c].size();
                out_ += "<td class=\"num\">";
                if (present) out_ += std::to_string(b.cols[c].begin + r + 1);
                out_ += "</td><td class=\"text c" + std::to_string(c) + " " +
                        side(cols_.size(), c) + (present || cols_.size() == 2 ? "" : " absent") +
                        "\">";
                if (present) out_ += cell_text(b, r, c, mark_partner(cols_.size(), c, only));
                out_ += "</td>";
            }
            out_ += "</tr>\n";
        }
    }

  private:
    static std::string marker(const std::string& kind, int only) {
        if (kind == "changed") return "!";
        if (kind == "added") return "+";
        if (kind == "removed") return "-";
        return only < 0 ? "*" : std::to_string(only + 1);
    }

    std::string cell_text(const page_block& b, std::size_t r, std::size_t c, std::size_t p) const {
        const std::string text = shown_line((*cols_[c])[b.cols[c].begin + r]);
        if (p == c || r >= b.cols[p].size()) return html_escape(text);
        const std::string other = shown_line((*cols_[p])[b.cols[p].begin + r]);
        return marked(text, diff_within_line(text, other).a);
    }

    std::string& out_;
    const std::vector<const page_lines*>& cols_;
};

}  // namespace

std::string shown_line(std::string_view line) { return sanitize_utf8(without_line_end(line)); }

std::string_view shown_view(std::string_view line, std::string& scratch) {
    const std::string_view text = without_line_end(line);
    if (std::all_of(text.begin(), text.end(),
                    [](char c) { return static_cast<unsigned char>(c) < 0x80; }))
        return text;
    scratch = sanitize_utf8(text);
    return scratch;
}

int three_column_row_only(const page_block& b, std::size_t r,
                          const std::vector<const page_lines*>& cols) {
    const auto cell = [&](std::size_t c) -> const std::string_view* {
        return r < b.cols[c].size() ? &(*cols[c])[b.cols[c].begin + r] : nullptr;
    };
    const auto same = [&](std::size_t x, std::size_t y) {
        const std::string_view* a = cell(x);
        const std::string_view* o = cell(y);
        return a == nullptr || o == nullptr ? a == o : *a == *o;
    };
    const bool s01 = same(0, 1), s02 = same(0, 2), s12 = same(1, 2);
    if (s01 && s02) return b.only;
    if (s12) return 0;
    if (s02) return 1;
    if (s01) return 2;
    return -1;
}

std::size_t mark_partner(std::size_t columns, std::size_t c, int only) {
    if (columns == 2) return 1 - c;
    if (only >= 0 && static_cast<std::size_t>(only) != c) return c;
    return c == 0 ? 1 : 0;
}

std::size_t page_rows(std::size_t tables,
                      const std::function<const std::vector<page_block>&(std::size_t)>& blocks) {
    std::size_t rows = 0;
    for (std::size_t t = 0; t < tables; ++t) {
        const std::vector<page_block>& bs = blocks(t);
        for (std::size_t k = 0; k < bs.size(); ++k) {
            const page_block& b = bs[k];
            if (!b.common) {
                std::size_t n = 0;
                for (const line_range& r : b.cols) n = std::max(n, r.size());
                rows += n;
                continue;
            }
            const fold f = fold_of(b.cols[0].size(), k == 0, k + 1 == bs.size());
            rows += f.folds ? f.before + 1 + f.after : b.cols[0].size();
        }
    }
    return rows;
}

std::string static_rows(const std::vector<page_block>& blocks,
                        const std::vector<const page_lines*>& cols,
                        const std::vector<std::string>& titles, std::size_t& change_number) {
    std::string out = "<table class=\"diff\"><thead><tr><th class=\"mark\"></th>";
    for (std::size_t c = 0; c < cols.size(); ++c)
        out += "<th></th><th class=\"title " + side(cols.size(), c) + "\">" + titles[c] + "</th>";
    out += "</tr></thead>\n<tbody>\n";
    row_writer w(out, cols);
    for (std::size_t k = 0; k < blocks.size(); ++k) {
        if (blocks[k].common) {
            w.common(blocks[k], k == 0, k + 1 == blocks.size());
        } else {
            w.change(blocks[k], ++change_number);
        }
    }
    out += "</tbody></table>\n";
    return out;
}

}  // namespace zorv
