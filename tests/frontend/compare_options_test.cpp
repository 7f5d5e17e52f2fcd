#include <gtest/gtest.h>

#include "frontend/compare_options.h"
#include "tests/frontend/frontend_test_env.h"

using frontend_test::parse;
using frontend_test::world;
using strings = std::vector<std::string>;

struct parse_case {
    strings args;
    bool accepted;
    strings contributors;  // checked when accepted
};

TEST(parse_command_line, accepts_or_rejects_as_the_option_rules_say) {
    const parse_case cases[] = {
        {{"a", "b"}, true, {"a", "b"}},
        {{"-base", "z", "p", "q"}, true, {"z", "p", "q"}},
        {{"a", "-base", "z"}, false, {}},
        {{"-base", "z", "-base", "y", "p"}, false, {}},
        {{"a", "b", "-out"}, false, {}},
        {{"-out", "-blank_ignore", "a", "b"}, false, {}},
        {{"-Out", "m", "a", "b"}, false, {}},
        {{"-", "a", "b"}, false, {}},
        {{"--out", "m", "a", "b"}, false, {}},
        {{"/out", "a"}, true, {"/out", "a"}},
        {{"-html", "a", "-qall", "b"}, true, {"a", "b"}},
        {{"-abort", "-pause", "-html", "-force", "-query", "-hstack", "-vstack", "-qall",
          "-qntrivial", "a", "b"},
         true,
         {"a", "b"}},
        {{"-encoding"}, false, {}},
        {{"a", "b", "-fname"}, false, {}},
        {{"-fname", "", "a", "b"}, true, {"a", "b"}},
        // Empty names have nothing to make absolute or to open.
        {{"", "a"}, false, {}},
        {{"-base", "", "a", "b"}, false, {}},
        {{"-out", "", "a", "b"}, false, {}},
        // "-1" is taken as an option, not as the favor value.
        {{"-out", "m", "-blank_ignore", "-favor_contrib", "-1", "a", "b"}, false, {}},
    };
    for (const auto& c : cases) {
        frontend::CompareOptions options;
        SCOPED_TRACE(testing::PrintToString(c.args));
        EXPECT_EQ(parse(options, c.args), c.accepted);
        if (c.accepted) {
            EXPECT_EQ(options.contributors, c.contributors);
        }
    }
}

TEST(parse_command_line, keeps_scanning_after_an_error_and_takes_the_last_value) {
    frontend::CompareOptions options;
    // -html arrives while -out waits: an error, and m still goes to out.
    EXPECT_FALSE(parse(options, {"-out", "-html", "m", "a", "b"}));
    EXPECT_EQ(options.output_name, "m");
    EXPECT_TRUE(options.merge_mode);
    EXPECT_EQ(options.contributors, (strings{"a", "b"}));

    // Later single values replace earlier ones.
    options = frontend::CompareOptions{};
    ASSERT_TRUE(parse(options, {"-out", "m1", "-out", "m2", "-encoding", "utf-8", "-encoding",
                                "utf-32be", "-fname", "A", "-fname", "B", "a", "b"}));
    EXPECT_EQ(options.output_name, "m2");
    EXPECT_EQ(options.encoding, "utf-32be");
    EXPECT_EQ(options.display_names, (strings{"A", "B"}));
}

struct validation_case {
    strings args;
    std::vector<int> printed;  // catalogue positions, in the order printed
    bool valid;
};

TEST(validate, stops_at_the_first_failing_rule_with_its_message) {
    const strings two{"a", "b"};
    auto with = [&two](strings options) {
        options.insert(options.end(), two.begin(), two.end());
        return options;
    };
    const strings merge_ignore{"-out", "m", "-blank_ignore"};
    auto favor = [&](std::string value) {
        strings options = merge_ignore;
        options.push_back("-favor_contrib");
        options.push_back(value);
        return with(options);
    };
    const validation_case cases[] = {
        {{}, {4}, false},
        {{"a"}, {4}, false},
        {with({"-favor_contrib", "1"}), {3}, false},
        {with({"-out", "m", "-favor_contrib", "1"}), {3}, false},
        {with({"-blank_ignore", "-favor_contrib", "1"}), {3}, false},
        // "-favor_contrib" only with a merge that ignores blanks: judged before the count of
        // contributors.
        {{"-favor_contrib", "1", "a"}, {3}, false},
        {with(merge_ignore), {}, true},
        {favor("1"), {}, true},
        {favor("2x"), {}, true},
        {favor(" +2"), {}, true},
        {favor("3"), {5}, false},
        {favor("0"), {5}, false},
        // " -1" is a value; "-1" would be taken as an option (a usage error).
        {favor(" -1"), {5}, false},
        {favor("x"), {5}, false},
        {favor("99999999999999999999"), {5}, false},
        {with({"-encoding", "UTF-8"}), {7}, false},
        {with({"-encoding", "utf-8", "-encoding", "utf8"}), {7}, false},
        {with({"-encoding", " "}), {7}, false},
        // A contributor that does not open: message 0 alone, before the favor's range and the
        // encoding are judged.
        {{"-encoding", "bad", "a", "missing"}, {}, false},
        {{"-out", "m", "-blank_ignore", "-favor_contrib", "9", "a", "missing"}, {}, false},
        // Names the request could not carry: message 0 alone.
        {{"a", "b\x01"}, {}, false},
        {{"-out", "m\x1b", "a", "b"}, {}, false},
        {with({"-fname", "x\x7f\x1f"}), {}, false},
        {{"a", "b\r\n\t"}, {}, true},
        // The favor is judged before the encoding.
        {{"-out", "m", "-blank_ignore", "-favor_contrib", "9", "-encoding", "bad", "a", "b"},
         {5},
         false},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        world w;
        w.missing.insert("/home/u/missing");
        frontend::CompareOptions options;
        ASSERT_TRUE(parse(options, c.args));
        EXPECT_EQ(options.validate(w.env()), c.valid);
        EXPECT_EQ(w.printed, c.printed);
    }
}

TEST(validate, maps_each_encoding_to_its_type_name) {
    const std::pair<const char*, const char*> rows[] = {
        {"utf-8", "utf8_file_delta"},       {"utf-16le", "utf16le_file_delta"},
        {"utf-16be", "utf16be_file_delta"}, {"utf-32le", "utf32le_file_delta"},
        {"utf-32be", "utf32be_file_delta"},
    };
    for (const auto& [encoding, type] : rows) {
        world w;
        frontend::CompareOptions options;
        ASSERT_TRUE(parse(options, {"-encoding", "UTF-8", "-encoding", encoding, "a", "b"}));
        ASSERT_TRUE(options.validate(w.env()));
        EXPECT_EQ(options.type_name, type);
    }
    EXPECT_EQ(frontend::encoding_type_name("Utf-8"), "");
}

TEST(validate, fills_display_names_with_the_names_as_typed) {
    struct display_case {
        strings args;
        strings display_names;
    };
    const display_case cases[] = {
        {{"-fname", "A", "-fname", "B", "-fname", "C", "a", "b"}, {"A", "B"}},
        {{"-fname", "A", "a", "b"}, {"A", "b"}},
        {{"a", "-fname", "", "-fname", "B", "b"}, {"a", "B"}},
        {{"-base", "z", "-fname", "Z", "p", "q"}, {"Z", "p", "q"}},
    };
    for (const auto& c : cases) {
        world w;
        frontend::CompareOptions options;
        ASSERT_TRUE(parse(options, c.args));
        ASSERT_TRUE(options.validate(w.env()));
        EXPECT_EQ(options.display_names, c.display_names);
        for (const auto& name : options.contributors) EXPECT_EQ(name.rfind("/home/u/", 0), 0u);
    }
}

TEST(validate, makes_contributor_and_output_names_absolute_in_either_style) {
    const struct {
        world w;
        std::string name, resolved;
    } cases[] = {
        {world::windows_at(R"(D:\work)"), "x.txt", R"(D:\work\x.txt)"},
        {world::windows_at(R"(D:\work)"), R"(\x.txt)", R"(D:\x.txt)"},
        {world{}, "x.txt", "/home/u/x.txt"},
    };
    for (auto c : cases) {
        frontend::CompareOptions options;
        ASSERT_TRUE(parse(options, {"-out", c.name, c.name, "other"}));
        ASSERT_TRUE(options.validate(c.w.env()));
        EXPECT_EQ(options.contributors.front(), c.resolved);
        EXPECT_EQ(options.output_name, c.resolved);
        EXPECT_EQ(options.display_names.front(), c.name);
    }
}

TEST(validate, judges_the_names_the_request_carries_once_they_are_absolute) {
    // A current directory whose name holds a control character makes every relative name
    // one that the request cannot carry; an absolute name stays clean.
    const struct {
        strings args;
        bool valid;
    } cases[] = {
        {{"a", "b"}, false},
        {{"/abs/a", "/abs/b"}, true},
        {{"-out", "m", "/abs/a", "/abs/b"}, false},
        {{"-out", "/abs/m", "/abs/a", "/abs/b"}, true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.args));
        world w;
        w.cwd = "/home/u\x01x";
        frontend::CompareOptions options;
        ASSERT_TRUE(parse(options, c.args));
        EXPECT_EQ(options.validate(w.env()), c.valid);
        EXPECT_EQ(w.printed, std::vector<int>{});
    }
}
