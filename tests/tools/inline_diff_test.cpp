#include "tools/zorvexplorer/diff/inline_diff.h"

#include <gtest/gtest.h>

#include <string>

namespace zorv {
namespace {

std::string cut(std::string_view text, const std::vector<byte_span>& spans) {
    std::string out;
    for (const byte_span& s : spans)
        out += "[" + std::string(text.substr(s.begin, s.end - s.begin)) + "]";
    return out;
}

TEST(diff_within_line, marks_the_characters_that_differ_and_nothing_more) {
    const struct {
        const char* a;
        const char* b;
        const char* marks_a;
        const char* marks_b;
    } cases[] = {
        {"hello world", "hello world", "", ""},
        {"hello world", "hello wOrld", "[o]", "[O]"},
        {"count = 10;", "count = 1;", "[0]", ""},
        {"f(a, b)", "f(a, b, c)", "", "[, c]"},
        // Two-byte and four-byte characters stay whole.
        {"caf\xC3\xA9 au lait", "cafe au lait", "[\xC3\xA9]", "[e]"},
        {"smile \xF0\x9F\x98\x80!", "smile \xF0\x9F\x98\x81!", "[\xF0\x9F\x98\x80]",
         "[\xF0\x9F\x98\x81]"},
        // Rewritten lines: the whole line is the change.
        {"x = 1", "completely different text", "", ""},
        {"", "new", "", ""},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        const inline_changes got = diff_within_line(c.a, c.b);
        EXPECT_EQ(cut(c.a, got.a), c.marks_a);
        EXPECT_EQ(cut(c.b, got.b), c.marks_b);
    }
}

TEST(diff_within_line, marks_whole_words_and_characters_only_where_most_of_a_word_stays) {
    const struct {
        const char* what;
        const char* a;
        const char* b;
        const char* marks_a;
        const char* marks_b;
    } cases[] = {
        {"renamed identifier", "total = user_count + 1;", "total = user_total + 1;", "[count]",
         "[total]"},
        {"identifier renamed wholly", "x = alpha(beta);", "x = gamma(beta);", "[alpha]", "[gamma]"},
        {"changed number", "timeout = 30", "timeout = 45", "[30]", "[45]"},
        {"number keeps most digits", "port = 8080", "port = 8081", "[0]", "[1]"},
        {"added argument", "call(a, b);", "call(a, b, c);", "", "[, c]"},
        {"removed argument", "call(a, b, c);", "call(a, c);", "[b, ]", ""},
        {"words changed wholly", "beta, gamma", "BETA, delta", "[beta][gamma]", "[BETA][delta]"},
        {"case change of one letter", "Value = 1", "value = 1", "[V]", "[v]"},
        {"punctuation", "if (a < b) {", "if (a <= b) {", "", "[=]"},
        {"white space", "a = b", "a  =  b", "[ ][ ]", "[  ][  ]"},
        {"trailing blank", "done", "done  ", "", "[  ]"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const inline_changes got = diff_within_line(c.a, c.b);
        EXPECT_EQ(cut(c.a, got.a), c.marks_a);
        EXPECT_EQ(cut(c.b, got.b), c.marks_b);
    }
}

TEST(split_tokens, cuts_words_numbers_blank_runs_and_single_punctuation) {
    const std::string line = "let x2 = 42+\t\tcaf\xC3\xA9_y;";
    std::string got;
    for (const byte_span t : split_tokens(line))
        got += "[" + line.substr(t.begin, t.end - t.begin) + "]";
    EXPECT_EQ(got, "[let][ ][x2][ ][=][ ][42][+][\t\t][caf\xC3\xA9_y][;]");
}

TEST(diff_within_line, leaves_very_long_lines_unmarked) {
    const std::string a(5000, 'a');
    std::string b = a;
    b[2500] = 'b';
    const inline_changes got = diff_within_line(a, b);
    EXPECT_TRUE(got.a.empty());
    EXPECT_TRUE(got.b.empty());
    b.resize(3000);
    EXPECT_EQ(diff_within_line(a.substr(0, 3000), b).b, (std::vector<byte_span>{{2500, 2501}}));
}

}  // namespace
}  // namespace zorv
