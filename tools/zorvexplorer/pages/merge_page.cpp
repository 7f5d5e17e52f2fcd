#include "tools/zorvexplorer/pages/merge_page.h"

#include <string_view>

#include "tools/zorvexplorer/diff/line_diff.h"
#include "tools/zorvexplorer/files/text_codec.h"
#include "tools/zorvexplorer/pages/html_escape.h"
#include "tools/zorvexplorer/pages/page_assets.h"

namespace zorv {

namespace {

// Merged runs longer than this fold, keeping context lines next to each conflict.
constexpr std::size_t fold_longer_than = 8;
constexpr std::size_t fold_context = 3;

std::string shown(std::string_view lines_text) {
    std::string out;
    for (std::string_view line : split_lines(lines_text)) {
        if (line.ends_with('\n')) line.remove_suffix(1);
        if (line.ends_with('\r')) line.remove_suffix(1);
        out += html_escape(sanitize_utf8(line));
        out += '\n';
    }
    return out;
}

std::string joined(const std::vector<std::string_view>& l, std::size_t begin, std::size_t end) {
    std::string s;
    for (std::size_t i = begin; i < end; ++i) s += l[i];
    return s;
}

void merged_run(std::string& out, const std::string& text, bool at_start, bool at_end) {
    const std::vector<std::string_view> l = split_lines(text);
    const std::size_t before = at_start ? 0 : fold_context;
    const std::size_t after = at_end ? 0 : fold_context;
    if (l.size() <= fold_longer_than || before + after >= l.size()) {
        out += "<pre class=\"merged\">" + shown(text) + "</pre>\n";
        return;
    }
    if (before > 0) out += "<pre class=\"merged\">" + shown(joined(l, 0, before)) + "</pre>\n";
    const std::size_t hidden = l.size() - before - after;
    out += "<details class=\"fold\"><summary>" + std::to_string(hidden) +
           " merged lines without conflicts</summary><pre class=\"merged\">" +
           shown(joined(l, before, before + hidden)) + "</pre></details>\n";
    if (after > 0)
        out += "<pre class=\"merged\">" + shown(joined(l, l.size() - after, l.size())) + "</pre>\n";
}

std::string side(std::string_view cls, std::string_view what, const std::string& name,
                 const std::string& text) {
    std::string out = "<div class=\"side " + std::string(cls) + "\"><h3>" + std::string(what);
    if (!name.empty()) out += ": " + html_escape(sanitize_utf8(name));
    out += "</h3><pre>";
    out += text.empty() ? "<span class=\"empty\">(no lines)</span>" : shown(text);
    out += "</pre></div>";
    return out;
}

void conflict(std::string& out, const merge_result& m, const merge_chunk& c, std::size_t k) {
    const std::string n = std::to_string(k + 1);
    out += "<section class=\"conflict\" id=\"conflict-" + n + "\"><h2>Conflict " + n +
           "<span class=\"state\">unresolved</span></h2>\n<div class=\"sides" +
           (c.has_base ? "" : " no-base") + "\">";
    out += side("left", "Left", m.ours_name, c.ours);
    if (c.has_base) out += side("base", "Base", m.base_name, c.base);
    out += side("right", "Right", m.theirs_name, c.theirs);
    out +=
        "</div>\n<div class=\"choices\">"
        "<button type=\"button\" data-take=\"left\">Take left</button>"
        "<button type=\"button\" data-take=\"right\">Take right</button>"
        "<button type=\"button\" data-take=\"left-right\">Left then right</button>"
        "<button type=\"button\" data-take=\"right-left\">Right then left</button>";
    if (c.has_base) out += "<button type=\"button\" data-take=\"base\">Take base</button>";
    std::size_t rows = 3;
    for (const std::string* s : {&c.ours, &c.theirs, &c.base})
        rows = std::max(rows, split_lines(*s).size() + 1);
    out += "</div>\n<textarea class=\"result\" rows=\"" +
           std::to_string(std::min<std::size_t>(rows, 20)) +
           "\" spellcheck=\"false\" placeholder=\"Choose above, or type the result here\" "
           "aria-label=\"Result of conflict " +
           n + "\"></textarea>\n</section>\n";
}

}  // namespace

std::string render_merge_page(const merge_result& merged, const std::string& output_name,
                              std::chrono::milliseconds heartbeat_every) {
    const std::string output = html_escape(sanitize_utf8(output_name));
    // The file's name stands out; its folder follows, smaller.
    const std::size_t slash = output_name.find_last_of("/\\");
    const std::string file_name = html_escape(
        sanitize_utf8(slash == std::string::npos ? output_name : output_name.substr(slash + 1)));
    const std::string folder = slash == std::string::npos
                                   ? std::string()
                                   : html_escape(sanitize_utf8(output_name.substr(0, slash + 1)));
    std::string page =
        "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n<title>Merge: " + output +
        "</title>\n<style>";
    page += assets::merge_page_css;
    page +=
        "</style></head>\n<body>\n<div id=\"toolbar\"><b>Merge into</b> <code id=\"output\" "
        "title=\"" +
        output + "\"><b>" + file_name + "</b>" +
        (folder.empty() ? "" : " <small>in " + folder + "</small>") +
        "</code><span id=\"remaining\"></span>"
        "<button type=\"button\" id=\"next-conflict\">Next unresolved (n)</button>"
        "<button type=\"button\" id=\"save\" disabled>Save</button>"
        "<button type=\"button\" id=\"cancel\">Cancel</button><span id=\"status\"></span>"
        "</div>\n<p class=\"help\">What merged cleanly is already in place. For each "
        "conflict take the left, the right, both in either order or the base, or edit the "
        "result; Save writes the file once no conflict is left. Cancel, or closing this "
        "page, leaves the file as it was.</p>\n<p id=\"done-note\" hidden></p>\n<main>\n";
    std::size_t k = 0;
    for (std::size_t i = 0; i < merged.chunks.size(); ++i) {
        const merge_chunk& c = merged.chunks[i];
        if (c.conflict) {
            conflict(page, merged, c, k++);
        } else {
            merged_run(page, c.text, i == 0, i + 1 == merged.chunks.size());
        }
    }
    page += "</main>\n<script>const heartbeat_ms = " + std::to_string(heartbeat_every.count()) +
            ";</script>\n<script>";
    page += assets::merge_page_js;
    page += "</script>\n</body></html>\n";
    return page;
}

}  // namespace zorv
