#include "tools/zorvexplorer/diff/inline_diff.h"

#include <algorithm>
#include <cstdint>

#include "tools/zorvexplorer/diff/sequence_diff.h"

namespace zorv {

namespace {

// Beyond this many characters a side is shown as changed as a whole.
constexpr std::size_t longest_compared_line = 4000;

enum class token_kind { word, number, space, punctuation };

bool is_word_byte(unsigned char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' ||
           c >= 0x80;
}
bool is_digit(unsigned char c) { return c >= '0' && c <= '9'; }
bool is_space(unsigned char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r';
}

token_kind kind_of(std::string_view line, byte_span t) {
    const auto c = static_cast<unsigned char>(line[t.begin]);
    if (is_digit(c)) return token_kind::number;
    if (is_space(c)) return token_kind::space;
    return is_word_byte(c) ? token_kind::word : token_kind::punctuation;
}

std::size_t characters(std::string_view s) {
    return static_cast<std::size_t>(std::count_if(
        s.begin(), s.end(), [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

bool continuation(std::string_view s, std::size_t at) {
    return at < s.size() && (static_cast<unsigned char>(s[at]) & 0xC0) == 0x80;
}

void mark(std::vector<byte_span>& spans, byte_span s) {
    if (s.begin == s.end) return;
    if (!spans.empty() && spans.back().end == s.begin) {
        spans.back().end = s.end;
    } else {
        spans.push_back(s);
    }
}

// One word replaced by another: the characters between their common start and end, or
// nothing when less than half of the longer word is kept.
bool refine(std::string_view a, byte_span ta, std::string_view b, byte_span tb,
            inline_changes& out) {
    const std::string_view wa = a.substr(ta.begin, ta.end - ta.begin);
    const std::string_view wb = b.substr(tb.begin, tb.end - tb.begin);
    std::size_t head = 0;
    while (head < wa.size() && head < wb.size() && wa[head] == wb[head]) ++head;
    // Back to the start of a character split by the difference.
    while (head > 0 && (continuation(wa, head) || continuation(wb, head))) --head;
    std::size_t tail = 0;
    while (tail < wa.size() - head && tail < wb.size() - head &&
           wa[wa.size() - 1 - tail] == wb[wb.size() - 1 - tail])
        ++tail;
    while (tail > 0 && (continuation(wa, wa.size() - tail) || continuation(wb, wb.size() - tail)))
        --tail;
    if ((head + tail) * 2 < std::max(wa.size(), wb.size())) return false;
    mark(out.a, {ta.begin + head, ta.end - tail});
    mark(out.b, {tb.begin + head, tb.end - tail});
    return true;
}

}  // namespace

std::vector<byte_span> split_tokens(std::string_view line) {
    std::vector<byte_span> tokens;
    std::size_t i = 0;
    while (i < line.size()) {
        const auto c = static_cast<unsigned char>(line[i]);
        std::size_t end = i + 1;
        if (is_digit(c)) {
            while (end < line.size() && is_digit(static_cast<unsigned char>(line[end]))) ++end;
        } else if (is_space(c)) {
            while (end < line.size() && is_space(static_cast<unsigned char>(line[end]))) ++end;
        } else if (is_word_byte(c)) {
            while (end < line.size() && is_word_byte(static_cast<unsigned char>(line[end]))) ++end;
        }
        tokens.push_back({i, end});
        i = end;
    }
    return tokens;
}

inline_changes diff_within_line(std::string_view a, std::string_view b) {
    if (a == b) return {};
    if (characters(a) > longest_compared_line || characters(b) > longest_compared_line) return {};
    const std::vector<byte_span> ta = split_tokens(a);
    const std::vector<byte_span> tb = split_tokens(b);
    const auto text = [](std::string_view line, byte_span t) {
        return line.substr(t.begin, t.end - t.begin);
    };
    std::vector<line_hunk> hunks;
    if (ta.size() <= small_sequence && tb.size() <= small_sequence) {
        hunks = diff_small(ta.size(), tb.size(), [&](std::size_t i, std::size_t j) {
            return text(a, ta[i]) == text(b, tb[j]);
        });
    } else {
        interner words(ta.size() + tb.size());
        std::vector<std::uint32_t> ia, ib;
        for (const byte_span t : ta) ia.push_back(words.id(text(a, t)));
        for (const byte_span t : tb) ib.push_back(words.id(text(b, t)));
        hunks = diff_ids(ia, ib, words.size());
    }

    inline_changes out;
    std::size_t refined = 0;  // words replaced by a word that keeps most of them
    for (const line_hunk& h : hunks) {
        const std::size_t na = h.a_end - h.a_begin;
        const std::size_t nb = h.b_end - h.b_begin;
        for (std::size_t k = 0; k < std::max(na, nb); ++k) {
            if (k < na && k < nb) {
                const byte_span x = ta[h.a_begin + k];
                const byte_span y = tb[h.b_begin + k];
                const token_kind kx = kind_of(a, x);
                if (na == nb && kx == kind_of(b, y) &&
                    (kx == token_kind::word || kx == token_kind::number) &&
                    refine(a, x, b, y, out)) {
                    ++refined;
                    continue;
                }
            }
            if (k < na) mark(out.a, ta[h.a_begin + k]);
            if (k < nb) mark(out.b, tb[h.b_begin + k]);
        }
    }
    // Lines that keep too few of their words are rewritten, not edited: marks would be noise.
    const auto solid = [](std::string_view line, const std::vector<byte_span>& tokens,
                          std::size_t from, std::size_t to) {
        std::size_t n = 0;
        for (std::size_t k = from; k < to; ++k) n += kind_of(line, tokens[k]) != token_kind::space;
        return n;
    };
    std::size_t changed = 0;
    for (const line_hunk& h : hunks) changed += solid(a, ta, h.a_begin, h.a_end);
    const std::size_t solid_a = solid(a, ta, 0, ta.size());
    const std::size_t kept = solid_a - changed + refined;
    if (kept == 0 || kept * 4 < std::max(solid_a, solid(b, tb, 0, tb.size()))) return {};
    return out;
}

}  // namespace zorv
