#include "tools/zorvexplorer/pages/compare_page.h"

#include <algorithm>
#include <cstdint>
#include <string_view>

#include "tools/zorvexplorer/diff/change_summary.h"
#include "tools/zorvexplorer/diff/inline_diff.h"
#include "tools/zorvexplorer/files/text_codec.h"
#include "tools/zorvexplorer/pages/compare_page_rows.h"
#include "tools/zorvexplorer/pages/html_escape.h"
#include "tools/zorvexplorer/pages/packed_text.h"
#include "tools/zorvexplorer/pages/page_assets.h"
#include "tools/zorvexplorer/pages/page_store.h"

namespace zorv {

namespace {

// Data this small rides in the page as it is; larger data is packed.
constexpr std::size_t packed_from = 32 * 1024;
// Lines are packed in parts of this many, so that a script unpacks only those it shows.
constexpr std::size_t lines_per_part = 1 << 13;

std::string json_string(std::string_view s) {
    std::string out = "\"";
    for (const char ch : s) {
        const auto c = static_cast<unsigned char>(ch);
        if (c == '"' || c == '\\') {
            out += '\\';
            out += ch;
        } else if (c == '\n') {
            out += "\\n";
        } else if (c < 0x20 || c == '<' || c == '>' || c == '&') {
            // Never "</script>" inside the data's script element.
            static constexpr char hex[] = "0123456789abcdef";
            out += "\\u00";
            out += hex[c >> 4];
            out += hex[c & 15];
        } else {
            out += ch;
        }
    }
    return out + "\"";
}

// Where a byte offset of a valid UTF-8 line falls in the line as a script sees it, in
// UTF-16 units.
class utf16_offsets {
  public:
    explicit utf16_offsets(std::string_view line) : line_(line) {}
    std::size_t at(std::size_t byte) {
        for (; byte_ < byte && byte_ < line_.size(); ++byte_) {
            const auto c = static_cast<unsigned char>(line_[byte_]);
            if ((c & 0xC0) != 0x80) units_ += c >= 0xF0 ? 2 : 1;
        }
        return units_;
    }

  private:
    std::string_view line_;
    std::size_t byte_ = 0, units_ = 0;
};

// A number in seven-bit groups, least significant first, the high bit on all but the last.
void put_varint(std::string& out, std::size_t n) {
    for (; n >= 0x80; n >>= 7) out += static_cast<char>((n & 0x7F) | 0x80);
    out += static_cast<char>(n);
}

std::string json_bytes(std::string_view v) {
    std::string out = "[";
    for (std::size_t k = 0; k < v.size(); ++k)
        out += (k ? "," : "") + std::to_string(static_cast<unsigned char>(v[k]));
    return out + "]";
}

struct table {
    std::vector<std::size_t> files;
    std::vector<page_block> blocks;
    std::string title;  // pairs: "a ↔ b: summary", escaped; empty for three columns
};

// The data of one table, as varints: its blocks (a run of common lines: 0 and its length; a
// change: 1, each column's size, its kind, its line ends, one more than the column that
// alone differs, where its marks start) and the marks within its changed lines, only for the
// cells that have any.
class table_data {
  public:
    table_data(const table& t, const std::vector<page_lines>& files) : t_(t), files_(files) {
        for (const page_block& b : t_.blocks) {
            if (b.common) {
                put_varint(blocks, 0);
                put_varint(blocks, b.cols[0].size());
                continue;
            }
            put_varint(blocks, 1);
            for (const line_range& r : b.cols) put_varint(blocks, r.size());
            put_varint(blocks, static_cast<std::size_t>(b.kind));
            std::size_t ends = 0;
            for (std::size_t c = 0; c < b.ends.size(); ++c)
                ends |= static_cast<std::size_t>(b.ends[c]) << (2 * c);
            put_varint(blocks, ends);
            put_varint(blocks, static_cast<std::size_t>(b.only + 1));
            put_varint(blocks, marks.size());
            block_marks(b);
        }
    }

    /// The table's description; with its numbers when they ride in it.
    std::string json(bool with_numbers) const {
        std::string out = "{\"files\":[";
        for (std::size_t c = 0; c < t_.files.size(); ++c)
            out += (c ? "," : "") + std::to_string(t_.files[c]);
        out += "],\"title\":" + json_string(t_.title);
        if (with_numbers)
            out += ",\"blocks\":" + json_bytes(blocks) + ",\"marks\":" + json_bytes(marks);
        return out + "}";
    }

    std::string blocks, marks;  // varints

  private:
    const page_lines& col(std::size_t c) const { return files_[t_.files[c]]; }

    // As varints: how many cells of the block have marks, then for each (in order) how far
    // its number (row times columns plus column) is past the last one's, how many marks,
    // and each mark's start (from the last mark's end) and length.
    void block_marks(const page_block& b) {
        std::size_t rows = 0;
        for (const line_range& r : b.cols) rows = std::max(rows, r.size());
        std::string cells;
        std::size_t count = 0, last = 0;
        std::string text, other;
        for (std::size_t r = 0; r < rows; ++r) {
            const int only = t_.files.size() == 3 ? row_only(b, r) : -1;
            for (std::size_t c = 0; c < b.cols.size(); ++c) {
                const std::size_t p = mark_partner(t_.files.size(), c, only);
                if (p == c || r >= b.cols[c].size() || r >= b.cols[p].size()) continue;
                const std::string_view a = shown_view(col(c)[b.cols[c].begin + r], text);
                const std::string_view o = shown_view(col(p)[b.cols[p].begin + r], other);
                const std::vector<byte_span> spans = diff_within_line(a, o).a;
                if (spans.empty()) continue;
                ++count;
                const std::size_t key = r * b.cols.size() + c;
                put_varint(cells, key - last);
                last = key;
                put_varint(cells, spans.size());
                utf16_offsets at(a);
                std::size_t end = 0;
                for (const byte_span& s : spans) {
                    const std::size_t from = at.at(s.begin), to = at.at(s.end);
                    put_varint(cells, from - end);
                    put_varint(cells, to - from);
                    end = to;
                }
            }
        }
        put_varint(marks, count);
        marks += cells;
    }

    int row_only(const page_block& b, std::size_t r) const {
        return three_column_row_only(b, r, {&col(0), &col(1), &col(2)});
    }

    const table& t_;
    const std::vector<page_lines>& files_;
};

// The lines the page's script reads: the first file whole, then what each table's changes
// hold of its other columns (the common lines are the first file's).
template <typename Sink>
void write_lines(Sink&& sink, const std::vector<table>& tables,
                 const std::vector<page_lines>& files, bool first_file) {
    const auto put = [&](std::string_view line) {
        const std::string_view text = without_line_end(line);
        if (std::all_of(text.begin(), text.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
            sink(text);
        } else {
            sink(sanitize_utf8(text));
        }
    };
    if (first_file) {
        for (const std::string_view line : files[0]) put(line);
    }
    for (const table& t : tables) {
        for (const page_block& b : t.blocks) {
            if (b.common) continue;
            for (std::size_t c = 1; c < b.cols.size(); ++c) {
                for (std::size_t i = b.cols[c].begin; i < b.cols[c].end; ++i)
                    put(files[t.files[c]][i]);
            }
        }
    }
}

std::string summary_text(const pair_summary& s) {
    if (s.identical()) return "identical";
    return std::to_string(s.changed) + " changed, " + std::to_string(s.added) + " added, " +
           std::to_string(s.removed) + " removed";
}

}  // namespace

pair_summary summarize(const std::string& first, const std::string& other) {
    const page_lines a = split_lines(first);
    const page_lines b = split_lines(other);
    return count_changes(align_pair(a, b, diff_lines(a, b)));
}

std::string render_compare_page(const std::vector<std::string>& names,
                                const std::vector<std::string>& texts,
                                const std::vector<file_facts>& facts) {
    return build_compare_page(names, texts, facts).html;
}

std::string_view colouring_script() { return assets::syntax_js; }

compare_page build_compare_page(const std::vector<std::string>& names,
                                const std::vector<std::string>& texts,
                                const std::vector<file_facts>& facts,
                                const std::vector<std::string_view>& languages) {
    std::vector<std::string> titles;
    for (const std::string& n : names) titles.push_back(html_escape(sanitize_utf8(n)));
    const auto binary = [&](std::size_t k) { return k < facts.size() && facts[k].binary; };
    std::vector<page_lines> files;
    for (std::size_t k = 0; k < texts.size(); ++k)
        files.push_back(binary(k) ? page_lines{} : split_lines(texts[k]));

    // Each file against the first, once: for the tables and for the log's description.
    std::vector<std::vector<line_hunk>> hunks(files.size());
    for (std::size_t k = 1; k < files.size(); ++k) {
        if (!binary(0) && !binary(k)) hunks[k] = diff_lines(files[0], files[k]);
    }
    std::vector<table> tables;
    std::string binary_sections, binary_changes;
    std::size_t changes = 0;
    bool all_identical = true;
    const bool any_binary =
        std::any_of(facts.begin(), facts.end(), [](const file_facts& f) { return f.binary; });
    if (files.size() == 3 && !any_binary) {
        tables.push_back(
            {{0, 1, 2}, align_three(files[0], files[1], files[2], hunks[1], hunks[2]), {}});
    } else {
        for (std::size_t k = 1; k < files.size(); ++k) {
            if (binary(0) || binary(k)) {
                const std::string id = "change-" + std::to_string(changes + 1);
                const binary_pair pair =
                    binary_pair_section(titles[0], facts[0], titles[k], facts[k], id);
                binary_sections += pair.html;
                all_identical = all_identical && pair.identical;
                if (!pair.identical) {
                    ++changes;
                    binary_changes +=
                        "<a href=\"#" + id + "\">" + std::to_string(changes) + ": binary</a>\n";
                }
                continue;
            }
            table t{{0, k}, align_pair(files[0], files[k], hunks[k]), {}};
            t.title =
                titles[0] + " &harr; " + titles[k] + ": " + summary_text(count_changes(t.blocks));
            tables.push_back(std::move(t));
        }
    }
    const std::size_t binary_count = changes;
    for (const table& t : tables) {
        for (const page_block& b : t.blocks) {
            if (!b.common) {
                ++changes;
                all_identical = false;
            }
        }
    }

    // The data: JSON with the tables, and the lines in parts, each line ending with a line
    // feed.
    std::string head = "{\"names\":[";
    for (std::size_t k = 0; k < names.size(); ++k)
        head += (k ? "," : "") + json_string(sanitize_utf8(names[k]));
    head += "],\"lines\":[";
    for (std::size_t k = 0; k < files.size(); ++k)
        head += (k ? "," : "") + std::to_string(files[k].size());
    // The languages of the files shown as text, when any has one.
    bool coloured = false;
    std::string language_list;
    for (std::size_t k = 0; k < files.size(); ++k) {
        const std::string_view language =
            k < languages.size() && !binary(k) && !tables.empty() ? languages[k] : "";
        coloured = coloured || !language.empty();
        language_list += (k ? "," : "") + json_string(language);
    }
    if (coloured) head += "],\"languages\":[" + language_list;
    head += "],\"firstChange\":" + std::to_string(binary_count + 1) +
            ",\"linesPerPart\":" + std::to_string(lines_per_part) + ",\"tables\":[";
    std::vector<table_data> numbers;
    std::size_t data_size = head.size();
    for (const table& t : tables) {
        numbers.emplace_back(t, files);
        data_size += 12 * (numbers.back().blocks.size() + numbers.back().marks.size());
    }
    write_lines([&](std::string_view s) { data_size += s.size() + 1; }, tables, files,
                !tables.empty());
    const bool packed = data_size > packed_from;
    for (std::size_t k = 0; k < numbers.size(); ++k)
        head += (k ? "," : "") + numbers[k].json(!packed);
    head += "]}";
    const std::string packing = packed ? "gzip-base64" : "json";
    std::string data = "<script id=\"page-data\" type=\"text/plain\" data-packing=\"" + packing +
                       "\">" + (packed ? gzip_base64(head, 6) : json_string(head)) + "</script>\n";
    head = {};
    if (packed) {
        // Blocks and marks as numbers the script takes as they are, without parsing.
        for (table_data& n : numbers) {
            for (std::string* bytes : {&n.blocks, &n.marks}) {
                data += "<script class=\"page-numbers\" type=\"text/plain\" data-packing=\"" +
                        packing + "\">" + gzip_base64(*bytes, 6) + "</script>\n";
                std::string().swap(*bytes);
            }
        }
    }
    numbers.clear();
    std::string part;
    std::size_t in_part = 0;
    const auto close_part = [&] {
        data +=
            "<script class=\"page-lines\" type=\"text/plain\" data-packing=\"" + packing + "\">";
        data += packed ? gzip_base64(part, 6) : json_string(part);
        data += "</script>\n";
        part.clear();
        in_part = 0;
    };
    write_lines(
        [&](std::string_view s) {
            part += s;
            part += '\n';
            if (++in_part == lines_per_part) close_part();
        },
        tables, files, !tables.empty());
    if (in_part > 0 || !packed) close_part();

    static const std::string script_name = shared_script_name(colouring_script());
    std::string page = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">\n";
    // First in the page, where the folder's pruning finds it; loaded before the page's
    // script, which colours the rows when it is there.
    if (coloured) page += shared_script_element(script_name) + "\n";
    page += "<meta name=\"color-scheme\" content=\"light dark\">\n<title>Compare: ";
    for (std::size_t k = 0; k < titles.size(); ++k) page += (k ? " / " : "") + titles[k];
    page += "</title>\n<style>";
    page += assets::compare_page_css;
    page +=
        "</style></head>\n<body>\n<header id=\"top\">\n<h1>Compare</h1>\n<p class=\"summary\" "
        "id=\"summary\">";
    if (all_identical) {
        page += "The files are identical.";
    } else {
        page += "The files differ: " + std::to_string(changes) +
                (changes == 1 ? " change." : " changes.");
    }
    page += "</p>\n";
    if (files.size() > 3) {
        page += "<p class=\"note\">More than three files: each is compared with the first.</p>\n";
    }
    if (!all_identical && files.size() == 3 && !any_binary) {
        page += "<p class=\"legend\">Colours: <span class=\"swatch only0\"></span> only " +
                titles[0] + " differs, <span class=\"swatch only1\"></span> only " + titles[1] +
                " differs, <span class=\"swatch only2\"></span> only " + titles[2] +
                " differs, <span class=\"swatch all\"></span> all three differ; changed "
                "characters <span class=\"ch\">stand out</span>. The marker column names the "
                "file that differs.</p>\n";
    } else if (!all_identical) {
        page +=
            "<p class=\"legend\">Marks: ! changed, + added, - removed; changed characters "
            "<span class=\"ch\">stand out</span>.</p>\n";
    }
    page +=
        "<div id=\"toolbar\"><button type=\"button\" id=\"prev\">&#9664; Previous (p)</button> "
        "<button type=\"button\" id=\"next\">Next (n) &#9654;</button><span id=\"position\">" +
        std::to_string(changes) + (changes == 1 ? " change" : " changes") +
        "</span><span class=\"tools\"><label><input type=\"checkbox\" id=\"hide-blank\"> Hide "
        "white-space changes (w)</label> <input type=\"search\" id=\"search\" "
        "placeholder=\"Search (/)\" aria-label=\"Search all lines\"><button type=\"button\" "
        "id=\"search-prev\" title=\"Previous hit (Shift+Enter)\">&#9650;</button><button "
        "type=\"button\" id=\"search-next\" title=\"Next hit (Enter)\">&#9660;</button><span "
        "id=\"search-status\"></span></span></div>\n";
    if (changes > 0) page += "<nav id=\"changes\">Changes: " + binary_changes + "</nav>\n";
    page += binary_sections;
    page += "</header>\n";
    if (!tables.empty()) {
        const std::size_t rows = page_rows(
            tables.size(), [&](std::size_t k) -> const auto& { return tables[k].blocks; });
        if (rows <= rows_without_script) {
            page += "<noscript>";
            std::size_t number = binary_count;
            for (const table& t : tables) {
                std::vector<const page_lines*> cols;
                std::vector<std::string> col_titles;
                for (const std::size_t f : t.files) {
                    cols.push_back(&files[f]);
                    col_titles.push_back(titles[f]);
                }
                if (!t.title.empty()) page += "<p class=\"pair-summary\">" + t.title + "</p>\n";
                page += static_rows(t.blocks, cols, col_titles, number);
            }
            page += "</noscript>\n";
        }
        page += "<div id=\"view\"></div>\n";
    }
    page += data;
    page += "<script>";
    page += assets::compare_page_js;
    page += "</script>\n</body></html>\n";
    return {std::move(page), describe_changes(names, facts, hunks),
            coloured ? script_name : std::string()};
}

}  // namespace zorv
