#include "tools/zorvexplorer/compare_page.h"

#include <gtest/gtest.h>

#include <map>
#include <sstream>

#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"
#include "tools/zorvexplorer/desktop.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

TEST(compare_summary, counts_changed_added_and_removed_lines) {
    const pair_summary s = summarize("keep\nold\ngone\nsame\n", "keep\nnew\nsame\nadded\n");
    EXPECT_EQ(s.changed, 1u);
    EXPECT_EQ(s.removed, 1u);
    EXPECT_EQ(s.added, 1u);
    EXPECT_TRUE(summarize("a\n", "a\n").identical());
}

// Appended to a copy of the page: reports what the browser rendered, one finding a line,
// values URI-encoded so that the dumped DOM carries them unchanged.
constexpr const char* probe_script = R"(<script>
(function () {
  const out = [];
  const e = encodeURIComponent;
  document.querySelectorAll('th.title').forEach(th => out.push('title ' + e(th.textContent)));
  document.querySelectorAll('tbody tr').forEach(tr => {
    const cells = tr.querySelectorAll('td.text');
    const mark = tr.querySelector('td.mark');
    const visible = mark.getBoundingClientRect().width > 0 &&
                    getComputedStyle(mark).visibility === 'visible';
    out.push('row ' + e(tr.className) + ' ' + e(visible ? (mark.innerText.trim() || '(none)') : '(hidden)') +
             ' ' + e(getComputedStyle(cells[0]).backgroundColor) + ' ' +
             e(getComputedStyle(cells[1]).backgroundColor));
  });
  out.push('summary ' + e(document.getElementById('summary').innerText));
  const pre = document.createElement('pre');
  pre.id = 'probe-findings';
  pre.textContent = '\n' + out.join('\n') + '\n';
  document.body.appendChild(pre);
})();
</script>
)";

std::string uri_decode(const std::string& s) {
    std::string out;
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size()) {
            out += static_cast<char>(std::stoi(s.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            out += s[i];
        }
    }
    return out;
}

struct rendered_row {
    std::string kind, marker, left_background, right_background;
};

struct findings {
    std::vector<std::string> titles;
    std::vector<rendered_row> rows;
    std::string summary;
};

findings read_findings(const std::string& dom) {
    findings f;
    const std::size_t start = dom.find("<pre id=\"probe-findings\">");
    if (start == std::string::npos) return f;
    std::istringstream lines(dom.substr(start, dom.find("</pre>", start) - start));
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream words(line);
        std::string what;
        words >> what;
        if (what == "title") {
            std::string t;
            words >> t;
            f.titles.push_back(uri_decode(t));
        } else if (what == "row") {
            rendered_row r;
            words >> r.kind >> r.marker >> r.left_background >> r.right_background;
            r.marker = uri_decode(r.marker);
            r.left_background = uri_decode(r.left_background);
            r.right_background = uri_decode(r.right_background);
            f.rows.push_back(r);
        } else if (what == "summary") {
            std::string s;
            words >> s;
            f.summary = uri_decode(s);
        }
    }
    return f;
}

TEST(compare_page, shows_titles_and_marks_changes_in_a_browser) {
    const std::string chromium = find_in_path("chromium");
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed: the page is not rendered";
    test_support::sandbox box;
    fs::create_directories(box.work_dir());
    const std::vector<std::string> names{"base <v1> & \"old\"", "mine\xC3\xA9.txt"};
    const std::string page =
        render_compare_page(names, {"keep\nold\ngone\nsame\n", "keep\nnew\nsame\nadded\n"});
    const fs::path probed = box.work_dir() / "probed.html";
    test_support::write_file(probed, page + probe_script);

    test_support::run_options options;
    options.env = {{"HOME", box.root().string()}};
    options.deadline = std::chrono::seconds(90);
    const auto run = test_support::run_program(
        {chromium, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic",
         "--no-first-run", "--disable-background-networking", "--disable-component-update",
         "--disable-sync", "--user-data-dir=" + (box.root() / "chromium-profile").string(),
         "--dump-dom", "file://" + probed.string()},
        options);
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const findings f = read_findings(run.out);

    EXPECT_EQ(f.titles, names) << run.out;
    ASSERT_EQ(f.rows.size(), 5u) << run.out;
    const std::string plain = "rgba(0, 0, 0, 0)";
    const struct {
        const char* kind;
        const char* marker;
        bool left_marked, right_marked;
    } expected[] = {
        {"same", "(none)", false, false}, {"changed", "!", true, true},
        {"removed", "-", true, true},     {"same", "(none)", false, false},
        {"added", "+", true, true},
    };
    for (std::size_t i = 0; i < 5; ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(f.rows[i].kind, expected[i].kind);
        EXPECT_EQ(f.rows[i].marker, expected[i].marker);
        EXPECT_EQ(f.rows[i].left_background != plain, expected[i].left_marked);
        EXPECT_EQ(f.rows[i].right_background != plain, expected[i].right_marked);
    }
    // The side that has the line stands out from the side that lacks it.
    EXPECT_NE(f.rows[2].left_background, f.rows[2].right_background);
    EXPECT_NE(f.rows[4].left_background, f.rows[4].right_background);
    EXPECT_NE(f.summary.find("differ"), std::string::npos) << f.summary;
}

}  // namespace
}  // namespace zorv
