#include "tools/zorvexplorer/compare_page.h"

#include <algorithm>
#include <string_view>

#include "tools/zorvexplorer/line_diff.h"
#include "tools/zorvexplorer/text_codec.h"
#include "tools/zorvexplorer/xmlrpc.h"

namespace zorv {

namespace {

constexpr std::string_view page_style = R"(
body { font-family: sans-serif; margin: 1em; }
.summary { font-weight: bold; }
table.diff { border-collapse: collapse; width: 100%; table-layout: fixed; margin-bottom: 2em; }
table.diff th { background: #ddd; text-align: left; padding: 2px 6px; }
table.diff td { font-family: monospace; white-space: pre-wrap; word-break: break-all;
                vertical-align: top; padding: 0 6px; }
td.num { color: #888; text-align: right; width: 4em; }
td.mark, th.mark { width: 1.5em; text-align: center; font-weight: bold; }
tr.changed td.text { background: #fff3b0; }
tr.added td.text.right { background: #c8f7c5; }
tr.removed td.text.left { background: #ffc9c9; }
tr.added td.text.left, tr.removed td.text.right { background: #eee; }
)";

struct row_kind {
    std::string_view css_class;
    std::string_view marker;
};
constexpr row_kind same_row{"same", "&nbsp;"};
constexpr row_kind changed_row{"changed", "!"};
constexpr row_kind added_row{"added", "+"};
constexpr row_kind removed_row{"removed", "-"};

std::string shown(std::string_view line) {
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    return xml_escape(sanitize_utf8(line));
}

struct table_writer {
    std::string& out;
    const std::vector<std::string_view>& a;
    const std::vector<std::string_view>& b;

    void cell_pair(std::string_view side, const std::vector<std::string_view>& l, std::size_t i,
                   bool present) {
        out += "<td class=\"num\">";
        if (present) out += std::to_string(i + 1);
        out += "</td><td class=\"text ";
        out += side;
        out += "\">";
        if (present) out += shown(l[i]);
        out += "</td>";
    }
    void row(const row_kind& kind, std::size_t ai, bool has_a, std::size_t bi, bool has_b) {
        out += "<tr class=\"";
        out += kind.css_class;
        out += "\"><td class=\"mark\">";
        out += kind.marker;
        out += "</td>";
        cell_pair("left", a, ai, has_a);
        cell_pair("right", b, bi, has_b);
        out += "</tr>\n";
    }
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

}  // namespace

pair_summary summarize(const std::string& first, const std::string& other) {
    return count(diff_lines(split_lines(first), split_lines(other)));
}

std::string render_compare_page(const std::vector<std::string>& names,
                                const std::vector<std::string>& texts) {
    const auto title = [&](std::size_t k) { return xml_escape(sanitize_utf8(names[k])); };
    const std::vector<std::string_view> first = split_lines(texts[0]);
    std::string sections;
    bool all_identical = true;
    for (std::size_t k = 1; k < texts.size(); ++k) {
        const std::vector<std::string_view> other = split_lines(texts[k]);
        const std::vector<line_hunk> hunks = diff_lines(first, other);
        const pair_summary s = count(hunks);
        all_identical = all_identical && s.identical();
        sections += "<section class=\"pair\">\n<p class=\"pair-summary\">" + title(0) + " &harr; " +
                    title(k) + ": " + summary_text(s) + "</p>\n";
        sections +=
            "<table class=\"diff\"><colgroup><col style=\"width:2em\"><col "
            "style=\"width:4em\"><col><col style=\"width:4em\"><col></colgroup>\n"
            "<thead><tr><th class=\"mark\"></th><th></th><th class=\"title left\">" +
            title(0) + "</th><th></th><th class=\"title right\">" + title(k) +
            "</th></tr></thead>\n<tbody>\n";
        table_writer w{sections, first, other};
        std::size_t ai = 0;
        std::size_t bi = 0;
        const auto common_until = [&](std::size_t a_stop) {
            while (ai < a_stop) w.row(same_row, ai++, true, bi++, true);
        };
        for (const line_hunk& h : hunks) {
            common_until(h.a_begin);
            while (ai < h.a_end && bi < h.b_end) w.row(changed_row, ai++, true, bi++, true);
            while (ai < h.a_end) w.row(removed_row, ai++, true, 0, false);
            while (bi < h.b_end) w.row(added_row, 0, false, bi++, true);
        }
        common_until(first.size());
        sections += "</tbody></table>\n</section>\n";
    }
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>Compare: ";
    for (std::size_t k = 0; k < names.size(); ++k) page += (k ? " / " : "") + title(k);
    page += "</title>\n<style>";
    page += page_style;
    page += "</style></head>\n<body>\n<h1>Compare</h1>\n<p class=\"summary\" id=\"summary\">";
    page += all_identical ? "The files are identical."
                          : "The files differ. Marks: ! changed, + added, - removed.";
    page += "</p>\n";
    page += sections;
    page += "</body></html>\n";
    return page;
}

}  // namespace zorv
