#include "tools/zorvexplorer/merge/merge.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"
#include "tools/desktop/desktop.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

struct merge_case {
    const char* what;
    const char* base;
    const char* ours;
    const char* theirs;
};

// Every case keeps to what diff3 and this merge agree on: no side makes the very change the
// other makes, and every line ends with a line feed (see the tests further down for those).
const merge_case merge_cases[] = {
    {"nothing changed", "a\nb\nc\n", "a\nb\nc\n", "a\nb\nc\n"},
    {"ours changes a line", "a\nb\nc\n", "a\nB\nc\n", "a\nb\nc\n"},
    {"theirs changes a line", "a\nb\nc\n", "a\nb\nc\n", "a\nb\nC\n"},
    {"far apart changes", "1\n2\n3\n4\n5\n6\n7\n", "one\n2\n3\n4\n5\n6\n7\n",
     "1\n2\n3\n4\n5\n6\nseven\n"},
    {"insertions at both ends", "m\nn\no\n", "top\nm\nn\no\n", "m\nn\no\nbottom\n"},
    {"ours deletes a block, theirs edits elsewhere", "a\nb\nc\nd\ne\nf\ng\n", "a\ne\nf\ng\n",
     "a\nb\nc\nd\ne\nf\nG\n"},
    {"same line changed differently", "a\nb\nc\n", "a\nours\nc\n", "a\ntheirs\nc\n"},
    {"adjacent lines changed", "a\nb\nc\nd\n", "a\nB\nc\nd\n", "a\nb\nC\nd\n"},
    {"both insert at one place", "a\nb\n", "a\nx\nb\n", "a\ny\nb\n"},
    {"deleted on one side, edited on the other", "a\nb\nc\n", "a\nc\n", "a\nB\nc\n"},
    {"empty base", "", "ours only\n", "theirs only\n"},
    {"two conflicts around a clean change", "1\n2\n3\n4\n5\n6\n7\n8\n9\n",
     "1\nA\n3\n4\n5\n6\n7\nB\n9\n", "1\nX\n3\n4\nfive\n6\n7\nY\n9\n"},
    {"conflict over several lines", "h\n1\n2\n3\nt\n", "h\n1a\n2a\nt\n", "h\n1b\n2\n3b\n3c\nt\n"},
};

TEST(merge3, gives_what_diff3_m_gives) {
    const std::string diff3 = desktop::find_in_path("diff3");
    if (diff3.empty()) GTEST_SKIP() << "diff3 is not installed";
    test_support::sandbox box;
    const fs::path dir = box.work_dir();
    for (const merge_case& c : merge_cases) {
        SCOPED_TRACE(c.what);
        test_support::write_file(dir / "base", c.base);
        test_support::write_file(dir / "ours", c.ours);
        test_support::write_file(dir / "theirs", c.theirs);
        const auto expected = test_support::run_program(
            {diff3, "-m", "-L", "mine", "-L", "older", "-L", "yours", (dir / "ours").string(),
             (dir / "base").string(), (dir / "theirs").string()});
        ASSERT_TRUE(expected.exit_code == 0 || expected.exit_code == 1) << expected.err;
        const merge_result got = merge3(c.base, c.ours, c.theirs, "older", "mine", "yours");
        EXPECT_EQ(got.text, expected.out);
        EXPECT_EQ(got.clean(), expected.exit_code == 0);
    }
}

TEST(merge3, takes_the_same_change_on_both_sides_once) {
    // diff3 -m brackets this as a conflict; there is nothing to choose between.
    const merge_result r = merge3("a\nb\nc\n", "a\nB\nc\n", "a\nB\nc\n", "base", "o", "t");
    EXPECT_TRUE(r.clean());
    EXPECT_EQ(r.text, "a\nB\nc\n");
}

TEST(merge3, puts_markers_on_lines_of_their_own_after_a_last_line_without_line_feed) {
    // diff3 -m glues the marker to such a line ("d|||||||") and still reports success.
    const merge_result r = merge3("a\nb", "a\nours", "a\ntheirs", "base", "o", "t");
    EXPECT_EQ(r.conflicts, 1u);
    EXPECT_EQ(r.text, "a\n<<<<<<< o\nours\n||||||| base\nb\n=======\ntheirs\n>>>>>>> t\n");
}

TEST(merge2, marks_every_difference_as_a_conflict) {
    const merge_result same = merge2("a\nb\n", "a\nb\n", "x", "y");
    EXPECT_TRUE(same.clean());
    EXPECT_EQ(same.text, "a\nb\n");
    const merge_result r = merge2("a\nb\nc\nd\n", "a\nB\nc\nd\ne\n", "x", "y");
    EXPECT_EQ(r.conflicts, 2u);
    EXPECT_EQ(r.text,
              "a\n<<<<<<< x\nb\n=======\nB\n>>>>>>> y\nc\nd\n<<<<<<< x\n=======\ne\n>>>>>>> y\n");
}

TEST(merge_contributors, folds_a_fourth_contributor_into_the_merge_of_the_first_three) {
    const std::vector<std::string> names{"base", "one", "two", "three"};
    const merge_result clean =
        merge_contributors({"1\n2\n3\n4\n5\n6\n7\n", "one\n2\n3\n4\n5\n6\n7\n",
                            "1\n2\n3\nfour\n5\n6\n7\n", "1\n2\n3\n4\n5\n6\nseven\n"},
                           names);
    EXPECT_TRUE(clean.clean());
    EXPECT_EQ(clean.text, "one\n2\n3\nfour\n5\n6\nseven\n");

    const merge_result conflict =
        merge_contributors({"a\nb\nc\n", "a\nb\nc\n", "a\nb\nC\n", "a\nb\nc3\n"}, names);
    EXPECT_EQ(conflict.conflicts, 1u);
    EXPECT_EQ(conflict.text,
              "a\nb\n<<<<<<< one, two\nC\n||||||| base\nc\n=======\nc3\n>>>>>>> three\n");
}

}  // namespace
}  // namespace zorv

namespace zorv {
namespace {

// Shapes of merges as large as the client meets them (some with a conflict where changes of
// the two sides meet), each checked byte for byte against git merge-file.
std::string numbered(std::size_t n, const std::function<std::string(std::size_t)>& edit) {
    std::string out;
    for (std::size_t i = 0; i < n; ++i) out += edit(i);
    return out;
}

std::string plain(std::size_t i) { return "line " + std::to_string(i) + " of the text\n"; }

// Where two texts first differ, with a few lines around, for a readable failure.
std::string first_difference(const std::string& got, const std::string& expected) {
    std::size_t at = 0;
    while (at < got.size() && at < expected.size() && got[at] == expected[at]) ++at;
    if (at == got.size() && at == expected.size()) return "";
    const std::size_t from = got.rfind('\n', at > 80 ? at - 80 : 0);
    const std::size_t start = from == std::string::npos ? 0 : from;
    return "at byte " + std::to_string(at) + "\n got: " + got.substr(start, 200) +
           "\n git: " + expected.substr(start, 200);
}

TEST(merge3, gives_what_git_merge_file_gives_on_large_shapes) {
    const std::string git = desktop::find_in_path("git");
    if (git.empty()) GTEST_SKIP() << "git is not installed";
    const struct {
        const char* what;
        std::function<std::string(std::size_t)> ours, theirs;
    } cases[] = {
        {"changes every 50 lines, alternating sides",
         [](std::size_t i) { return i % 100 == 10 ? "ours " + plain(i) : plain(i); },
         [](std::size_t i) { return i % 100 == 60 ? "theirs " + plain(i) : plain(i); }},
        {"insertions and deletions on both sides",
         [](std::size_t i) { return i % 97 == 5 ? plain(i) + "added\n" : plain(i); },
         [](std::size_t i) { return i % 89 == 40 ? std::string() : plain(i); }},
        {"both ends changed", [](std::size_t i) { return i == 0 ? "top\n" + plain(i) : plain(i); },
         [](std::size_t i) { return i == 9999 ? plain(i) + "bottom\n" : plain(i); }},
        {"repeated lines: a block added before an equal block",
         [](std::size_t i) { return i % 500 == 250 ? "{\n}\n" + plain(i) : plain(i); },
         [](std::size_t i) { return i % 700 == 30 ? "edited " + plain(i) : plain(i); }},
        {"the same line changed differently on each side",
         [](std::size_t i) { return i % 1000 == 7 ? "ours " + plain(i) : plain(i); },
         [](std::size_t i) { return i % 1000 == 7 ? "theirs " + plain(i) : plain(i); }},
    };
    test_support::sandbox box;
    const fs::path dir = box.work_dir();
    const std::string base = numbered(10000, plain);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string ours = numbered(10000, c.ours);
        const std::string theirs = numbered(10000, c.theirs);
        test_support::write_file(dir / "base", base);
        test_support::write_file(dir / "ours", ours);
        test_support::write_file(dir / "theirs", theirs);
        // git's diff3 style: conflicts carry the base, as this merge's do.
        std::vector<std::string> argv{git, "merge-file", "-p", "--diff3"};
        for (const char* label : {"mine", "older", "yours"}) argv.insert(argv.end(), {"-L", label});
        argv.insert(argv.end(),
                    {(dir / "ours").string(), (dir / "base").string(), (dir / "theirs").string()});
        const auto expected = test_support::run_program(argv);
        ASSERT_GE(expected.exit_code, 0) << expected.err;
        const merge_result got = merge3(base, ours, theirs, "older", "mine", "yours");
        EXPECT_EQ(first_difference(got.text, expected.out), "");
        EXPECT_EQ(got.conflicts, static_cast<std::size_t>(expected.exit_code));
    }
}

}  // namespace
}  // namespace zorv
