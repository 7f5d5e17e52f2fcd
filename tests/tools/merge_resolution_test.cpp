#include "tools/zorvexplorer/merge/merge_resolution.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "tools/desktop/desktop.h"
#include "tools/zorvexplorer/server/merge_ui.h"

namespace zorv {
namespace {

using enum conflict_choice;

TEST(resolve_merge, takes_each_choice_byte_for_byte) {
    const struct {
        const char* what;
        const char* base;
        const char* ours;
        const char* theirs;
        std::vector<conflict_resolution> resolutions;
        const char* expected;
    } cases[] = {
        {"left", "a\nb\nc\n", "a\nours\nc\n", "a\ntheirs\nc\n", {{left, ""}}, "a\nours\nc\n"},
        {"right", "a\nb\nc\n", "a\nours\nc\n", "a\ntheirs\nc\n", {{right, ""}}, "a\ntheirs\nc\n"},
        {"left then right",
         "a\nb\nc\n",
         "a\nours\nc\n",
         "a\ntheirs\nc\n",
         {{left_then_right, ""}},
         "a\nours\ntheirs\nc\n"},
        {"right then left",
         "a\nb\nc\n",
         "a\nours\nc\n",
         "a\ntheirs\nc\n",
         {{right_then_left, ""}},
         "a\ntheirs\nours\nc\n"},
        {"base", "a\nb\nc\n", "a\nours\nc\n", "a\ntheirs\nc\n", {{base, ""}}, "a\nb\nc\n"},
        {"edited text gets a line end",
         "a\nb\nc\n",
         "a\nours\nc\n",
         "a\ntheirs\nc\n",
         {{edited, "mine\nand theirs"}},
         "a\nmine\nand theirs\nc\n"},
        {"edited to nothing",
         "a\nb\nc\n",
         "a\nours\nc\n",
         "a\ntheirs\nc\n",
         {{edited, ""}},
         "a\nc\n"},
        {"CR LF kept and given to edits",
         "a\r\nb\r\nc\r\n",
         "a\r\nours\r\nc\r\n",
         "a\r\ntheirs\r\nc\r\n",
         {{edited, "x\ny\r\n"}},
         "a\r\nx\r\ny\r\nc\r\n"},
        {"sides without a last line end are joined on lines of their own",
         "a\nb",
         "a\nours",
         "a\ntheirs",
         {{left_then_right, ""}},
         "a\nours\ntheirs"},
        {"an edit at the end of a file without a last line end",
         "a\nb",
         "a\nours",
         "a\ntheirs",
         {{edited, "both"}},
         "a\nboth"},
        {"two conflicts around a clean change",
         "1\n2\n3\n4\n5\n6\n7\n8\n9\n",
         "1\nA\n3\n4\n5\n6\n7\nB\n9\n",
         "1\nX\n3\n4\nfive\n6\n7\nY\n9\n",
         {{left, ""}, {edited, "by hand"}},
         "1\nA\n3\n4\nfive\n6\n7\nby hand\n9\n"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const merge_result merged = merge3(c.base, c.ours, c.theirs, "b", "o", "t");
        const resolved_merge r = resolve_merge(merged, c.resolutions);
        EXPECT_EQ(r.error, "");
        EXPECT_EQ(r.text, c.expected);
    }
}

TEST(resolve_merge, refuses_what_does_not_fit_the_merge) {
    const merge_result three = merge3("a\nb\n", "a\nB\n", "a\nBB\n", "b", "o", "t");
    EXPECT_EQ(resolve_merge(three, {}).error, "0 resolutions for 1 conflicts");
    EXPECT_EQ(resolve_merge(three, {{left, ""}, {left, ""}}).error,
              "2 resolutions for 1 conflicts");
    const merge_result two = merge2("a\nb\n", "a\nB\n", "x", "y");
    EXPECT_EQ(resolve_merge(two, {{base, ""}}).error, "conflict 1 has no base to take");
    EXPECT_EQ(resolve_merge(two, {{right, ""}}).text, "a\nB\n");
}

TEST(resolve_merge, keeps_the_stretches_between_conflicts_unless_typed_over) {
    const std::string base = "1\r\n2\r\n3\r\n4\r\n5\r\n";
    const std::string ours = "1\r\nA\r\n3\r\n4\r\nB\r\n";
    const std::string theirs = "1\r\nX\r\n3\r\n4\r\nY\r\n";
    const struct {
        const char* what;
        typed_stretches typed;
        const char* expected;  // with both conflicts taken from the left
        const char* error;
    } cases[] = {
        {"none typed", {}, "1\r\nA\r\n3\r\n4\r\nB\r\n", ""},
        {"the first, line feeds as the merge's line ends",
         {{0, "one\n"}},
         "one\r\nA\r\n3\r\n4\r\nB\r\n",
         ""},
        {"the middle one emptied", {{1, ""}}, "1\r\nA\r\nB\r\n", ""},
        {"a lone carriage return stays as it stood",
         {{1, "3\r4\n"}},
         "1\r\nA\r\n3\r4\r\nB\r\n",
         ""},
        {"a stretch the merge does not have", {{2, "x"}}, "", "typed text for stretch 3 of 2"},
    };
    const merge_result merged = merge3(base, ours, theirs, "b", "o", "t");
    ASSERT_EQ(merged.conflicts, 2u);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const resolved_merge r = resolve_merge(merged, {{left, ""}, {left, ""}}, c.typed);
        EXPECT_EQ(r.error, c.error);
        if (*c.error == '\0') {
            EXPECT_EQ(r.text, c.expected);
        }
    }
}

TEST(merge3, tells_where_each_side_of_a_conflict_starts) {
    const merge_result m = merge3("a\nb\nc\nd\n", "a\nB\nc\nd\n", "new\na\nBB\nc\nd\n", "", "", "");
    ASSERT_EQ(m.conflicts, 1u);
    const merge_chunk& c = *std::find_if(m.chunks.begin(), m.chunks.end(),
                                         [](const merge_chunk& k) { return k.conflict; });
    EXPECT_EQ(c.ours_line, 1u);
    EXPECT_EQ(c.base_line, 1u);
    EXPECT_EQ(c.theirs_line, 2u);
}

TEST(choice_named, knows_the_page_names_only) {
    EXPECT_EQ(choice_named("left"), left);
    EXPECT_EQ(choice_named("right-left"), right_then_left);
    EXPECT_EQ(choice_named("edit"), edited);
    EXPECT_EQ(choice_named("Left"), std::nullopt);
    EXPECT_EQ(choice_named(""), std::nullopt);
}

TEST(merge_ui_for, follows_the_setting_then_the_desktop) {
    const struct {
        const char* setting;
        bool desktop;
        merge_ui expected;
    } cases[] = {
        {nullptr, true, merge_ui::browser},    {nullptr, false, merge_ui::none},
        {"", true, merge_ui::browser},         {"none", true, merge_ui::none},
        {"browser", false, merge_ui::browser}, {"other", false, merge_ui::none},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(merge_ui_for(c.setting, c.desktop), c.expected)
            << (c.setting ? c.setting : "(unset)") << " " << c.desktop;
    }
    EXPECT_EQ(heartbeat_limit_for(nullptr).count(), 15000);
    EXPECT_EQ(heartbeat_limit_for("2500").count(), 2500);
    for (const char* bad : {"", "0", "-5", "12x", "fast"}) {
        EXPECT_EQ(heartbeat_limit_for(bad).count(), 15000) << bad;
        EXPECT_EQ(open_limit_for(bad).count(), 120000) << bad;
    }
    EXPECT_EQ(open_limit_for("900").count(), 900);
}

TEST(browser_commands, reads_the_browser_setting_as_a_list_of_commands) {
    using commands = std::vector<std::vector<std::string>>;
    const std::string url = "http://127.0.0.1:5/t/";
    // Naming none leaves the page to the desktop's default application.
    EXPECT_EQ(desktop::browser_commands("", url), commands{});
    EXPECT_EQ(desktop::browser_commands(" : ", url), commands{});
    EXPECT_EQ(desktop::browser_commands("firefox", url), (commands{{"firefox", url}}));
    EXPECT_EQ(desktop::browser_commands("w3m -o x:lynx %s --now:", url),
              (commands{{"w3m", "-o", "x", url}, {"lynx", url, "--now"}}));
    EXPECT_EQ(desktop::browser_commands("open --url=%s 100%%", url),
              (commands{{"open", "--url=" + url, "100%"}}));
}

}  // namespace
}  // namespace zorv
