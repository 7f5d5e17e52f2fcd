#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tools/zorvexplorer/diff/change_summary.h"

namespace {

struct summary_case {
    const char* what;
    std::vector<std::string> texts;
    std::string expected;
};

TEST(describe_changes, names_the_lines_that_differ_in_each_pair) {
    const std::vector<std::string> names = {"a.txt", "b.txt", "c.txt"};
    const summary_case cases[] = {
        {"same text", {"x\ny\n", "x\ny\n"}, "a.txt and b.txt are identical"},
        {"two empty files", {"", ""}, "a.txt and b.txt are identical"},
        {"one changed line", {"x\ny\nz\n", "x\nY\nz\n"},
         "a.txt and b.txt differ in 1 place: lines 2 / 2"},
        {"lines added at the end", {"x\n", "x\ny\nz\n"},
         "a.txt and b.txt differ in 1 place: lines after 1 / 2-3"},
        {"first line removed", {"x\ny\n", "y\n"},
         "a.txt and b.txt differ in 1 place: lines 1 / after 0"},
        {"a missing last line feed", {"x\ny\n", "x\ny"},
         "a.txt and b.txt differ in 1 place: lines 2 / 2"},
        {"three places", {"1\n2\n3\n4\n5\n6\n7\n", "1\nB\n3\n4\n6\n7\n8\n9\n"},
         "a.txt and b.txt differ in 3 places: lines 2 / 2, 5 / after 4, after 7 / 7-8"},
        {"three files", {"x\ny\n", "x\ny\n", "x\nz\n"},
         "a.txt and b.txt are identical; a.txt and c.txt differ in 1 place: lines 2 / 2"},
    };
    for (const summary_case& c : cases) {
        EXPECT_EQ(zorv::describe_changes(names, c.texts, {}), c.expected) << c.what;
    }
}

TEST(describe_changes, lists_ten_places_and_counts_the_rest) {
    std::string a;
    std::string b;
    for (int i = 1; i <= 12; ++i) {
        a += "same\nold" + std::to_string(i) + "\n";
        b += "same\nnew" + std::to_string(i) + "\n";
    }
    EXPECT_EQ(zorv::describe_changes({"a", "b"}, {a, b}, {}),
              "a and b differ in 12 places: lines 2 / 2, 4 / 4, 6 / 6, 8 / 8, 10 / 10, "
              "12 / 12, 14 / 14, 16 / 16, 18 / 18, 20 / 20 and 2 more");
}

TEST(describe_changes, judges_a_pair_with_a_binary_file_by_its_digest) {
    const zorv::file_facts text{false, 3, "aa"};
    const zorv::file_facts bin1{true, 4, "bb"};
    const zorv::file_facts bin2{true, 4, "cc"};
    const std::vector<std::string> names = {"p", "q"};
    const std::vector<std::string> empty = {"", ""};
    EXPECT_EQ(zorv::describe_changes(names, empty, {bin1, bin1}),
              "binary files p and q are identical");
    EXPECT_EQ(zorv::describe_changes(names, empty, {bin1, bin2}), "binary files p and q differ");
    EXPECT_EQ(zorv::describe_changes(names, {"abc", ""}, {text, bin1}),
              "binary files p and q differ");
}

}  // namespace
