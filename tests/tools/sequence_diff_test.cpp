#include "tools/zorvexplorer/diff/sequence_diff.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

#include "tools/zorvexplorer/diff/line_diff.h"

namespace zorv {
namespace {

using seq = std::vector<std::uint32_t>;

// b rebuilt from a and the hunks, and how many items the hunks call changed; a script that
// is wrong (overlapping, out of order, or not matching) gives something other than b.
std::pair<seq, std::size_t> apply(const seq& a, const seq& b, const std::vector<line_hunk>& hunks) {
    seq out;
    std::size_t pos = 0, edits = 0, bpos = 0;
    for (const line_hunk& h : hunks) {
        if (h.a_begin < pos || h.a_end < h.a_begin || h.b_end < h.b_begin) return {{}, 0};
        if (h.b_begin - bpos != h.a_begin - pos) return {{}, 0};
        out.insert(out.end(), a.begin() + pos, a.begin() + h.a_begin);
        out.insert(out.end(), b.begin() + h.b_begin, b.begin() + h.b_end);
        edits += h.a_end - h.a_begin + h.b_end - h.b_begin;
        pos = h.a_end;
        bpos = h.b_end;
    }
    out.insert(out.end(), a.begin() + pos, a.end());
    return {out, edits};
}

// The length of a shortest edit script, by the textbook table.
std::size_t shortest(const seq& a, const seq& b) {
    std::vector<std::vector<std::size_t>> lcs(a.size() + 1, std::vector<std::size_t>(b.size() + 1));
    for (std::size_t i = a.size(); i-- > 0;)
        for (std::size_t j = b.size(); j-- > 0;)
            lcs[i][j] =
                a[i] == b[j] ? lcs[i + 1][j + 1] + 1 : std::max(lcs[i + 1][j], lcs[i][j + 1]);
    return a.size() + b.size() - 2 * lcs[0][0];
}

seq random_seq(std::mt19937& rng, std::size_t n, std::uint32_t alphabet) {
    seq s(n);
    for (auto& x : s) x = rng() % alphabet;
    return s;
}

seq edited(std::mt19937& rng, seq s, std::size_t edits, std::uint32_t alphabet) {
    for (std::size_t k = 0; k < edits; ++k) {
        const std::size_t at = s.empty() ? 0 : rng() % (s.size() + 1);
        switch (rng() % 3) {
            case 0:
                s.insert(s.begin() + static_cast<long>(at), rng() % alphabet);
                break;
            case 1:
                if (at < s.size()) s.erase(s.begin() + static_cast<long>(at));
                break;
            default:
                if (at < s.size()) s[at] = rng() % alphabet;
        }
    }
    return s;
}

TEST(diff_ids, gives_a_correct_script_of_the_shortest_length_where_the_cost_allows) {
    const struct {
        const char* what;
        std::size_t length, edits;
        std::uint32_t alphabet;
        std::size_t max_cost;  // 0: the default bound
        bool shortest;         // the script must be a shortest one
    } cases[] = {
        {"few repeated items", 40, 6, 4, 0, false},
        {"unique items", 60, 10, 1000, 0, true},
        {"a mix", 80, 20, 30, 0, false},
        {"nothing in common", 50, 0, 0, 0, true},
        {"a tiny search bound", 200, 60, 8, 2, false},
    };
    std::mt19937 rng(7);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        for (int round = 0; round < 50; ++round) {
            const std::uint32_t alphabet = c.alphabet ? c.alphabet : 1000;
            const seq a = random_seq(rng, c.length, alphabet);
            seq b = edited(rng, a, c.edits, alphabet);
            if (c.alphabet == 0) {
                b = random_seq(rng, c.length, alphabet);
                for (auto& x : b) x += alphabet;
            }
            const auto [rebuilt, edits] = apply(a, b, diff_ids(a, b, 2 * alphabet, {c.max_cost}));
            ASSERT_EQ(rebuilt, b) << "round " << round;
            // Without anchors that cross, the default bound finds a shortest script for
            // inputs this small.
            if (c.shortest) {
                EXPECT_EQ(edits, shortest(a, b)) << "round " << round;
            }
            EXPECT_LE(edits, a.size() + b.size());
        }
    }
}

TEST(diff_lines, finds_the_regions_a_reader_expects) {
    const struct {
        const char* a;
        const char* b;
        std::vector<line_hunk> hunks;
    } cases[] = {
        {"a\nb\nc\n", "a\nb\nc\n", {}},
        {"a\nb\nc\n", "a\nB\nc\n", {{1, 2, 1, 2}}},
        {"", "x\ny\n", {{0, 0, 0, 2}}},
        {"x\ny\n", "", {{0, 2, 0, 0}}},
        // Nothing shared: one region, however long.
        {"1\n2\n3\n", "4\n5\n", {{0, 3, 0, 2}}},
        // A block added before a repeated line is shown after it, where it was written.
        {"{\n}\n", "{\n}\n{\n}\n", {{2, 2, 2, 4}}},
        // A moved line: the longer common run stays.
        {"m\na\nb\nc\n", "a\nb\nc\nm\n", {{0, 1, 0, 0}, {4, 4, 3, 4}}},
        {"a\nb", "a\nb\n", {{1, 2, 1, 2}}},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.a) + " / " + c.b);
        EXPECT_EQ(diff_lines(split_lines(c.a), split_lines(c.b)), c.hunks);
    }
}

}  // namespace
}  // namespace zorv
