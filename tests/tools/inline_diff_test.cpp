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
