#include "tools/zorvexplorer/pages/compare_page_model.h"

#include <gtest/gtest.h>

#include <string>

namespace zorv {
namespace {

// Blocks as text: "=n" for n common lines; a change as its sizes, with "ws" or the line ends
// where it is only that, and for three columns the column that alone differs.
std::string shape(const std::vector<page_block>& blocks) {
    static const char* const ends[] = {"none", "LF", "CRLF", "mixed"};
    std::string out;
    for (const page_block& b : blocks) {
        if (!out.empty()) out += " ";
        if (b.common) {
            out += "=" + std::to_string(b.cols[0].size());
            continue;
        }
        for (std::size_t c = 0; c < b.cols.size(); ++c)
            out += (c ? ":" : "") + std::to_string(b.cols[c].size());
        if (b.cols.size() == 3) out += "/" + std::to_string(b.only);
        if (b.kind == change_kind::white_space) out += " ws";
        if (b.kind == change_kind::line_ending) {
            out += " eol";
            for (const line_end e : b.ends) out += std::string(" ") + ends[static_cast<int>(e)];
        }
    }
    return out;
}

TEST(align_pair, labels_changes_of_white_space_or_line_ends_only) {
    const struct {
        const char* what;
        const char* a;
        const char* b;
        const char* blocks;
    } cases[] = {
        {"content", "a\nb\nc\n", "a\nB\nc\n", "=1 1:1 =1"},
        {"blanks within a line", "a\nx = 1\nc\n", "a\nx  =  1\nc\n", "=1 1:1 ws =1"},
        {"a blank line added", "a\nb\n", "a\n\nb\n", "=1 0:1 ws =1"},
        {"a line split at a blank", "a b\n", "a\nb\n", "1:2 ws"},
        {"line ends", "a\nb\nc\n", "a\r\nb\r\nc\n", "2:2 eol LF CRLF =1"},
        {"no line end at the end", "a\nb", "a\nb\n", "=1 1:1 eol none LF"},
        {"content and line ends", "a\nb\n", "a\r\nB\r\n", "2:2"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const page_lines a = split_lines(c.a), b = split_lines(c.b);
        EXPECT_EQ(shape(align_pair(a, b, diff_lines(a, b))), c.blocks);
    }
}

TEST(align_three, splits_changes_that_only_meet_and_names_the_column_that_differs) {
    const struct {
        const char* what;
        const char* f0;
        const char* f1;
        const char* f2;
        const char* blocks;
    } cases[] = {
        // Four differences, two pairs of them on neighbouring lines: four changes.
        {"four separate differences", "a\nb\nc\nd\ne\nf\ng\n", "a\nB\nc\nd\ne\nF\ng\n",
         "a\nb\nC\nd\ne\nf\ng\nh\n", "=1 1:1:1/1 1:1:1/2 =2 1:1:1/1 =1 0:0:1/2"},
        {"neighbouring lines, one from each side", "1\n2\n3\n4\n", "1\nX\n3\n4\n", "1\n2\nY\n4\n",
         "=1 1:1:1/1 1:1:1/2 =1"},
        {"overlapping changes stay one", "1\n2\n3\n4\n", "1\nX\nX\n4\n", "1\nY\n3\n4\n",
         "=1 2:2:2/-1 =1"},
        {"the same change on both sides", "1\n2\n3\n", "1\nZ\n3\n", "1\nZ\n3\n", "=1 1:1:1/0 =1"},
        {"an addition after a change of the other side", "1\n2\n3\n", "1\nX\n3\n", "1\n2\nnew\n3\n",
         "=1 1:1:1/1 0:0:1/2 =1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const page_lines f0 = split_lines(c.f0), f1 = split_lines(c.f1), f2 = split_lines(c.f2);
        EXPECT_EQ(shape(align_three(f0, f1, f2, diff_lines(f0, f1), diff_lines(f0, f2))), c.blocks);
    }
}

}  // namespace
}  // namespace zorv
