#include "tools/zorvexplorer/pages/merge_page.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <vector>

#include "tools/zorvexplorer/diff/inline_diff.h"
#include "tools/zorvexplorer/diff/line_diff.h"
#include "tools/zorvexplorer/files/text_codec.h"
#include "tools/zorvexplorer/pages/html_escape.h"
#include "tools/zorvexplorer/pages/page_assets.h"
#include "tools/zorvexplorer/pages/syntax_language.h"

namespace zorv {

namespace {

std::uint8_t byte_at(std::string_view s, std::size_t i) { return static_cast<std::uint8_t>(s[i]); }

// The length of the valid UTF-8 sequence at s[i] that is not plain ASCII; 0 when none
// starts there (a stray, overlong or cut sequence, a surrogate, beyond U+10FFFF).
std::size_t utf8_sequence(std::string_view s, std::size_t i) {
    const std::uint8_t b = byte_at(s, i);
    std::size_t len = 0;
    std::uint8_t low = 0x80;
    std::uint8_t high = 0xBF;
    if (b >= 0xC2 && b <= 0xDF) {
        len = 2;
    } else if (b >= 0xE0 && b <= 0xEF) {
        len = 3;
        if (b == 0xE0) low = 0xA0;
        if (b == 0xED) high = 0x9F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        len = 4;
        if (b == 0xF0) low = 0x90;
        if (b == 0xF4) high = 0x8F;
    } else {
        return 0;
    }
    if (i + len > s.size()) return 0;
    const std::uint8_t second = byte_at(s, i + 1);
    if (second < low || second > high) return 0;
    for (std::size_t k = 2; k < len; ++k) {
        if ((byte_at(s, i + k) & 0xC0) != 0x80) return 0;
    }
    return len;
}

// One line as the in-line differ needs it (valid UTF-8, each stray byte one U+FFFD) and,
// for each of its bytes, where the page's string (UTF-16) stands.
struct marked_line {
    std::string text;
    std::vector<std::uint32_t> unit_at;  // text.size() + 1 entries
};

marked_line line_for_marks(std::string_view line) {
    if (line.ends_with('\n')) line.remove_suffix(1);
    if (line.ends_with('\r')) line.remove_suffix(1);
    marked_line out;
    std::uint32_t unit = 0;
    for (std::size_t i = 0; i < line.size();) {
        const std::size_t len = byte_at(line, i) < 0x80 ? 1 : utf8_sequence(line, i);
        const std::string_view piece =
            len == 0 ? std::string_view("\xEF\xBF\xBD") : line.substr(i, len);
        for (std::size_t k = 0; k < piece.size(); ++k) out.unit_at.push_back(unit);
        out.text += piece;
        unit += len == 4 ? 2 : 1;
        i += len == 0 ? 1 : len;
    }
    out.unit_at.push_back(unit);
    return out;
}

// What differs in one side of a conflict: its changed lines, and within paired lines the
// changed words, as (line, from, to) in the page's string offsets.
struct side_marks {
    std::vector<std::size_t> lines;
    std::map<std::size_t, std::vector<std::pair<std::uint32_t, std::uint32_t>>> words;

    void add_words(std::size_t line, const marked_line& l, const std::vector<byte_span>& spans) {
        for (const byte_span& s : spans)
            words[line].emplace_back(l.unit_at[s.begin], l.unit_at[s.end]);
    }
    std::string json() {
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        std::string out = "{\"c\":[";
        for (std::size_t i = 0; i < lines.size(); ++i)
            out += (i ? "," : "") + std::to_string(lines[i]);
        out += "],\"w\":[";
        bool first = true;
        for (auto& [line, spans] : words) {
            // Marks against two sides (the base's) may overlap: joined, in order.
            std::sort(spans.begin(), spans.end());
            std::vector<std::pair<std::uint32_t, std::uint32_t>> joined;
            for (const auto& s : spans) {
                if (!joined.empty() && s.first <= joined.back().second) {
                    joined.back().second = std::max(joined.back().second, s.second);
                } else {
                    joined.push_back(s);
                }
            }
            for (const auto& [from, to] : joined) {
                out += (first ? "" : ",") + std::to_string(line) + "," + std::to_string(from) +
                       "," + std::to_string(to);
                first = false;
            }
        }
        return out + "]}";
    }
};

// Marks what differs between a and b into ma and mb; the lines of changed regions are
// paired in order for the marks within them.
void mark_differences(std::string_view a, std::string_view b, side_marks& ma, side_marks& mb) {
    const std::vector<std::string_view> la = split_lines(a);
    const std::vector<std::string_view> lb = split_lines(b);
    for (const line_hunk& h : diff_lines(la, lb)) {
        for (std::size_t i = h.a_begin; i < h.a_end; ++i) ma.lines.push_back(i);
        for (std::size_t i = h.b_begin; i < h.b_end; ++i) mb.lines.push_back(i);
        const std::size_t pairs = std::min(h.a_end - h.a_begin, h.b_end - h.b_begin);
        for (std::size_t k = 0; k < pairs; ++k) {
            const marked_line x = line_for_marks(la[h.a_begin + k]);
            const marked_line y = line_for_marks(lb[h.b_begin + k]);
            const inline_changes changes = diff_within_line(x.text, y.text);
            ma.add_words(h.a_begin + k, x, changes.a);
            mb.add_words(h.b_begin + k, y, changes.b);
        }
    }
}

std::string conflict_data(const merge_chunk& c) {
    side_marks left, base, right;
    if (c.has_base) {
        mark_differences(c.base, c.ours, base, left);
        mark_differences(c.base, c.theirs, base, right);
    } else {
        mark_differences(c.ours, c.theirs, left, right);
    }
    return "{\"l\":" + page_text(c.ours) + ",\"b\":" + page_text(c.base) +
           ",\"r\":" + page_text(c.theirs) + ",\"at\":[" + std::to_string(c.ours_line) + "," +
           std::to_string(c.base_line) + "," + std::to_string(c.theirs_line) +
           "],\"ml\":" + left.json() + ",\"mb\":" + base.json() + ",\"mr\":" + right.json() + "}";
}

std::string merge_data(const merge_result& merged, std::chrono::milliseconds heartbeat_every,
                       std::string_view language) {
    bool has_base = false;
    std::string chunks;
    for (const merge_chunk& c : merged.chunks) {
        if (!chunks.empty()) chunks += ",\n";
        chunks += c.conflict ? conflict_data(c) : page_text(c.text);
        has_base = has_base || (c.conflict && c.has_base);
    }
    return "{\"heartbeat_ms\":" + std::to_string(heartbeat_every.count()) +
           ",\"has_base\":" + (has_base ? "true" : "false") +
           (language.empty() ? "" : ",\"language\":" + page_text(language)) + ",\"names\":[" +
           page_text(merged.ours_name) + "," + page_text(merged.base_name) + "," +
           page_text(merged.theirs_name) + "],\n\"chunks\":[" + chunks + "]}";
}

std::string side_pane(std::string_view cls, std::string_view what, const std::string& name) {
    std::string out = "<div class=\"side " + std::string(cls) + "\"><h3>" + std::string(what);
    if (!name.empty()) out += ": " + html_escape(sanitize_utf8(name));
    return out + "</h3><div class=\"pane\"></div></div>";
}

std::string key_button(std::string_view attributes, std::string_view label, std::string_view key) {
    return "<button type=\"button\" " + std::string(attributes) + ">" + std::string(label) +
           " <kbd>" + std::string(key) + "</kbd></button>";
}

}  // namespace

std::string page_text(std::string_view text) {
    static constexpr char hex[] = "0123456789abcdef";
    std::string out = "\"";
    out.reserve(text.size() + text.size() / 8 + 2);
    for (std::size_t i = 0; i < text.size();) {
        const std::uint8_t b = byte_at(text, i);
        if (b >= 0x80) {
            const std::size_t len = utf8_sequence(text, i);
            if (len > 0) {
                out.append(text.substr(i, len));
                i += len;
            } else {
                out += "\\udc";
                out += hex[b >> 4];
                out += hex[b & 15];
                ++i;
            }
            continue;
        }
        ++i;
        switch (b) {
            case '"':
                out += "\\\"";
                break;
            case '\\':
                out += "\\\\";
                break;
            case '\n':
                out += "\\n";
                break;
            case '\t':
                out += "\\t";
                break;
            case '<':
                out += "\\u003c";
                break;
            case '\r':
                if (i < text.size() && text[i] == '\n')
                    break;  // the LF that follows stands for both
                out += "\\r";
                break;
            default:
                if (b < 0x20 || b == 0x7F) {
                    out += "\\u00";
                    out += hex[b >> 4];
                    out += hex[b & 15];
                } else {
                    out += static_cast<char>(b);
                }
        }
    }
    return out + "\"";
}

std::string_view merge_page_language(const merge_result& merged, std::string_view output_name) {
    return first_language_of({output_name, merged.ours_name, merged.theirs_name, merged.base_name});
}

std::string render_merge_page(const merge_result& merged, const std::string& output_name,
                              std::chrono::milliseconds heartbeat_every) {
    const std::string_view language = merge_page_language(merged, output_name);
    const std::string output = html_escape(sanitize_utf8(output_name));
    // The file's name stands out; its folder follows, smaller.
    const std::size_t slash = output_name.find_last_of("/\\");
    const std::string file_name = html_escape(
        sanitize_utf8(slash == std::string::npos ? output_name : output_name.substr(slash + 1)));
    const std::string folder = slash == std::string::npos
                                   ? std::string()
                                   : html_escape(sanitize_utf8(output_name.substr(0, slash + 1)));
    const bool has_base =
        std::any_of(merged.chunks.begin(), merged.chunks.end(),
                    [](const merge_chunk& c) { return c.conflict && c.has_base; });
    std::string page =
        "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n"
        "<meta name=\"color-scheme\" content=\"light dark\">\n<title>Merge: " +
        output + "</title>\n<style>";
    page += assets::merge_page_css;
    page +=
        "</style></head>\n<body>\n<header id=\"toolbar\"><div class=\"row\"><b>Merge into</b> "
        "<code id=\"output\" title=\"" +
        output + "\"><b>" + file_name + "</b>" +
        (folder.empty() ? "" : " <small>in " + folder + "</small>") +
        "</code><span id=\"remaining\"></span><span id=\"status\" role=\"status\"></span></div>\n"
        "<div class=\"row\" id=\"actions\"><span class=\"group\">" +
        key_button("id=\"prev\"", "Previous", "p") + key_button("id=\"next\"", "Next", "n") +
        "</span><span class=\"group\" id=\"choices\">" +
        key_button("data-take=\"left\"", "Take left", "1") +
        key_button("data-take=\"right\"", "Take right", "2") +
        key_button("data-take=\"left-right\"", "Left then right", "3") +
        key_button("data-take=\"right-left\"", "Right then left", "4") +
        (has_base ? key_button("data-take=\"base\"", "Take base", "0") : "") +
        "</span><span class=\"group\">" + key_button("id=\"undo\"", "Undo", "Ctrl+Z") +
        key_button("id=\"redo\"", "Redo", "Ctrl+Shift+Z") +
        key_button("id=\"find\"", "Find", "Ctrl+F") + key_button("id=\"show-keys\"", "Keys", "?") +
        "</span><span class=\"group\">" + key_button("id=\"save\" disabled", "Save", "Ctrl+S") +
        "<button type=\"button\" id=\"cancel\">Cancel</button></span></div></header>\n"
        "<noscript><p class=\"help\">This page needs JavaScript.</p></noscript>\n"
        "<section id=\"sides\" aria-label=\"The sides of the current conflict\">"
        "<h2><span id=\"conflict-title\"></span> <span class=\"state\" id=\"conflict-state\">"
        "</span></h2>\n<div class=\"panes" +
        (has_base ? "" : " no-base") + "\">" + side_pane("left", "Left", merged.ours_name) +
        (has_base ? side_pane("base", "Base", merged.base_name) : "") +
        side_pane("right", "Right", merged.theirs_name) +
        "</div></section>\n<section id=\"result-box\"><h2>Result <small>what merged cleanly is "
        "in place; each conflict stands between markers until it is resolved. All of it can "
        "be edited. Save writes it once no conflict is left; Cancel, or closing this page, "
        "leaves the file as it was.</small></h2><div id=\"result\"></div></section>\n"
        "<p id=\"done-note\" hidden></p>\n"
        "<dialog id=\"keys\" aria-labelledby=\"keys-title\"><h2 id=\"keys-title\">Keys</h2>"
        "<table><tbody>"
        "<tr><td><kbd>n</kbd> <kbd>p</kbd></td><td>next, previous conflict</td></tr>"
        "<tr><td><kbd>1</kbd></td><td>take left</td></tr>"
        "<tr><td><kbd>2</kbd></td><td>take right</td></tr>"
        "<tr><td><kbd>3</kbd></td><td>left, then right</td></tr>"
        "<tr><td><kbd>4</kbd></td><td>right, then left</td></tr>" +
        (has_base ? "<tr><td><kbd>0</kbd></td><td>take base</td></tr>" : "") +
        "<tr><td><kbd>Ctrl+Z</kbd></td><td>undo a choice or typing</td></tr>"
        "<tr><td><kbd>Ctrl+Shift+Z</kbd> <kbd>Ctrl+Y</kbd></td><td>redo</td></tr>"
        "<tr><td><kbd>Ctrl+F</kbd></td><td>find (and replace) in the result</td></tr>"
        "<tr><td><kbd>Ctrl+S</kbd></td><td>save</td></tr>"
        "<tr><td><kbd>Esc</kbd></td><td>leave the text, so that the keys above work</td></tr>"
        "<tr><td><kbd>?</kbd></td><td>this list</td></tr>"
        "</tbody></table><p>The letters and digits work while the cursor is not in the "
        "result; the others work everywhere.</p><form method=\"dialog\"><button>Close "
        "<kbd>Esc</kbd></button></form></dialog>\n"
        "<dialog id=\"confirm-markers\"><p>The result still holds a conflict marker line "
        "(<code>&lt;&lt;&lt;&lt;&lt;&lt;&lt;</code>, <code>|||||||</code>, "
        "<code>=======</code> or <code>&gt;&gt;&gt;&gt;&gt;&gt;&gt;</code>). Save it as it "
        "is?</p><form method=\"dialog\"><button value=\"save\">Save as it is</button> "
        "<button value=\"back\" autofocus>Back to the merge</button></form></dialog>\n"
        "<script type=\"application/json\" id=\"merge-data\">";
    page += merge_data(merged, heartbeat_every, language);
    page += "</script>\n";
    // Before the page's script, which colours the editors when it finds it.
    if (!language.empty())
        page += "<script src=\"" + std::string(merge_syntax_script) + "\"></script>\n";
    page += "<script src=\"";
    page += merge_page_script;
    page += "\"></script>\n</body></html>\n";
    return page;
}

}  // namespace zorv
