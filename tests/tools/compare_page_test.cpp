#include "tools/zorvexplorer/pages/compare_page.h"

#include <gtest/gtest.h>

#include "tests/support/run_program.h"
#include "tests/support/sandbox.h"
#include "tools/desktop/desktop.h"

namespace zorv {
namespace {

namespace fs = std::filesystem;

// Appended to a copy of the page: writes what the browser rendered into the DOM, one
// finding a line, titles URI-encoded so that the dumped DOM carries them unchanged.
constexpr const char* probe_script = R"(<script>
(function () {
  const out = [];
  const plain = 'rgba(0, 0, 0, 0)';
  document.querySelectorAll('th.title').forEach(th => out.push('title ' + encodeURIComponent(th.textContent)));
  document.querySelectorAll('tbody tr').forEach(tr => {
    const bg = [...tr.querySelectorAll('td.text')].map(td => getComputedStyle(td).backgroundColor);
    const mark = tr.querySelector('td.mark');
    const visible = mark.getBoundingClientRect().width > 0 &&
                    getComputedStyle(mark).visibility === 'visible';
    out.push(['row', tr.className, visible ? (mark.innerText.trim() || '(none)') : '(hidden)',
              bg[0] !== plain, bg[1] !== plain,
              ...(['added', 'removed'].includes(tr.className) ? [bg[0] !== bg[1]] : [])].join(' '));
  });
  out.push('differ ' + document.getElementById('summary').innerText.includes('differ'));
  const pre = document.createElement('pre');
  pre.id = 'probe-findings';
  pre.textContent = '\n' + out.join('\n') + '\n';
  document.body.appendChild(pre);
})();
</script>
)";

std::string uri_encode(const std::string& s) {
    static const std::string kept = "-_.!~*'()";
    std::string out;
    for (unsigned char c : s) {
        char hex[4];
        std::snprintf(hex, sizeof hex, "%%%02X", c);
        out += std::isalnum(c) || kept.find(static_cast<char>(c)) != std::string::npos
                   ? std::string(1, static_cast<char>(c))
                   : std::string(hex);
    }
    return out;
}

TEST(compare_page, shows_titles_and_marks_changes_in_a_browser) {
    const std::string chromium = desktop::find_in_path("chromium");
    if (chromium.empty()) GTEST_SKIP() << "chromium is not installed: the page is not rendered";
    test_support::sandbox box;
    fs::create_directories(box.work_dir());
    const std::vector<std::string> names{"base <v1> & \"old\"", "mine\xC3\xA9.txt"};
    const fs::path probed = box.work_dir() / "probed.html";
    test_support::write_file(probed, render_compare_page(names, {"keep\nold\ngone\nsame\n",
                                                                 "keep\nnew\nsame\nadded\n"}) +
                                         probe_script);

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
    const std::size_t start = run.out.find("<pre id=\"probe-findings\">");
    ASSERT_NE(start, std::string::npos) << run.out;
    // Row: kind, marker, left and right marked, and for a line on one side only, whether
    // the side that has it stands out from the other.
    EXPECT_EQ(run.out.substr(start + 25, run.out.find("</pre>", start) - start - 25),
              "\ntitle " + uri_encode(names[0]) + "\ntitle " + uri_encode(names[1]) +
                  "\nrow same (none) false false"
                  "\nrow changed ! true true"
                  "\nrow removed - true true true"
                  "\nrow same (none) false false"
                  "\nrow added + true true true"
                  "\ndiffer true\n");
}

std::string numbered_lines(std::size_t n, std::size_t changed_every) {
    std::string out;
    for (std::size_t i = 1; i <= n; ++i) {
        out += (changed_every && i % changed_every == 0 ? "changed " : "line ") +
               std::to_string(i) + "\n";
    }
    return out;
}

std::size_t count_of(const std::string& text, const std::string& what) {
    std::size_t n = 0;
    for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

TEST(render_compare_page, carries_its_rows_as_markup_up_to_5000_rows_and_packs_large_data) {
    const struct {
        const char* what;
        std::size_t lines, changed_every;
        bool markup;  // rows readable without JavaScript
        const char* packing;
        std::size_t parts;  // of the lines
    } cases[] = {
        {"a small page", 40, 10, true, "json", 1},
        {"5000 rows", 5000, 2, true, "gzip-base64", 1},
        {"5001 rows", 5001, 2, false, "gzip-base64", 1},
        {"many lines that fold", 60000, 0, true, "gzip-base64", 8},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const std::string page = render_compare_page(
            {"a", "b"}, {numbered_lines(c.lines, 0), numbered_lines(c.lines, c.changed_every)});
        EXPECT_EQ(page.find("<noscript>") != std::string::npos, c.markup);
        EXPECT_EQ(count_of(page, "class=\"page-lines\" type=\"text/plain\" data-packing=\"" +
                                     std::string(c.packing) + "\""),
                  c.parts);
        // Nothing comes from elsewhere: no source or link out of the page.
        EXPECT_EQ(page.find("src="), std::string::npos);
        EXPECT_EQ(page.find("href=\"http"), std::string::npos);
    }
}

}  // namespace
}  // namespace zorv
