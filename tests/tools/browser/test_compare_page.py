"""The compare page as a browser shows it: marks within lines, moving between changes,
folds, the three-column view and the size of a large compare."""

import os
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from varnex_browser import (BrowserTest, colours_of, contrast_ratio, contrast_ratios,
                            emulate_colour_scheme, wait_for)


def numbered(n, changes=()):
    """Lines "line 1" .. "line n", with the given line numbers (1-based) replaced."""
    return "".join(("CHANGED %d\n" % i) if i in changes else ("line %d\n" % i)
                   for i in range(1, n + 1))


class ComparePageTest(BrowserTest):

    def open_compare(self, files, names=None):
        args = [self.box.write("f%d.txt" % k, text) for k, text in enumerate(files)]
        for name in names or []:
            args += ["-fname", name]
        page = self.box.compare_page(args)
        self.browser.get("file://" + page)
        # Large pages unpack their lines after loading: the page says when it has drawn.
        wait_for(lambda: self.js("return document.body.dataset.ready"), 30, "the page to draw")
        return page

    def js(self, script, *args):
        return self.browser.execute_script(script, *args)

    def marks(self, side):
        return [e.text for e in self.browser.find_elements(By.CSS_SELECTOR,
                                                            "tr.changed td.%s span.ch" % side)]

    def current_change(self):
        return self.js("const r = document.querySelector('tr.current'); return r && r.id;")

    def in_view(self, element_id):
        return self.js("const r = document.getElementById(arguments[0]).getBoundingClientRect();"
                       "return r.top >= 0 && r.bottom <= window.innerHeight;", element_id)

    def test_marks_only_the_changed_characters_within_a_line(self):
        cases = [
            # left, right, marks on the left, marks on the right
            ("hello world\n", "hello wOrld\n", ["o"], ["O"]),
            ("total = a + b;\n", "total = a + bc;\n", [], ["c"]),
            ("caf\u00e9 cr\u00e8me\n", "cafe cr\u00e8me\n", ["\u00e9"], ["e"]),
            ("x = 1\n", "completely different text\n", [], []),
        ]
        for left, right, left_marks, right_marks in cases:
            with self.subTest(left=left, right=right):
                self.open_compare(["keep\n" + left + "end\n", "keep\n" + right + "end\n"])
                self.assertEqual(self.marks("left"), left_marks)
                self.assertEqual(self.marks("right"), right_marks)

    def test_n_and_p_and_the_buttons_move_between_changes(self):
        self.open_compare([numbered(120), numbered(120, changes={10, 60, 110})])
        self.assertEqual(self.js("return [...document.querySelectorAll('nav#changes a')]"
                                 ".map(a => a.textContent)"),
                         ["1: 10 \u2194 10", "2: 60 \u2194 60", "3: 110 \u2194 110"])
        self.assertTrue(self.in_view("change-1"), "the first change is on the first screen")
        body = self.browser.find_element(By.TAG_NAME, "body")
        steps = [
            (lambda: body.send_keys("n"), "change-1"),
            (lambda: body.send_keys("n"), "change-2"),
            (lambda: body.send_keys("n"), "change-3"),
            (lambda: body.send_keys("n"), "change-3"),  # stays on the last
            (lambda: body.send_keys("p"), "change-2"),
            (lambda: self.browser.find_element(By.ID, "prev").click(), "change-1"),
            (lambda: self.browser.find_element(By.ID, "next").click(), "change-2"),
        ]
        for step, (act, expected) in enumerate(steps):
            act()
            self.assertEqual(self.current_change(), expected, "step %d" % step)
            self.assertTrue(self.in_view(expected), "step %d: %s scrolled into view" %
                            (step, expected))
        self.assertEqual(self.browser.find_element(By.ID, "position").text, "Change 2 of 3")

    def test_long_unchanged_runs_fold_and_unfold(self):
        self.open_compare([numbered(40), numbered(40, changes={20})])
        rows = lambda: self.js("return [...document.querySelectorAll('tbody tr')].map(tr => "
                               "tr.className === 'fold' ? 'fold' : "
                               "tr.cells[1].textContent + ':' + tr.cells[3].textContent)")
        # Lines 1-16 fold to nothing before the three of context, 24-40 behind them.
        self.assertEqual(rows(), ["fold", "17:17", "18:18", "19:19", "20:20",
                                  "21:21", "22:22", "23:23", "fold"])
        folds = self.browser.find_elements(By.CSS_SELECTOR, "tr.fold button")
        self.assertEqual([b.text for b in folds],
                         ["Show 16 unchanged lines", "Show 17 unchanged lines"])
        folds[1].click()
        wait_for(lambda: len(rows()) == 8 + 17, 10, "the second fold to open")
        self.assertEqual(rows()[-17:], ["%d:%d" % (i, i) for i in range(24, 41)])
        self.assertEqual(self.js("return [...document.querySelectorAll('tbody tr')].slice(-2)"
                                 ".map(tr => tr.cells[2].textContent + '|' + "
                                 "tr.cells[4].textContent)"),
                         ["line 39|line 39", "line 40|line 40"])

    def test_three_files_stand_in_three_aligned_columns(self):
        base = "a\nb\nc\nd\ne\n"
        self.open_compare([base, "a\nB\nc\nd\ne\n", "a\nb\nc\nD\nE\n"],
                          ["one", "two", "three"])
        self.assertEqual([e.text for e in self.browser.find_elements(By.CSS_SELECTOR, "th.title")],
                         ["one", "two", "three"])
        rows = self.js("return [...document.querySelectorAll('tbody tr')].map(tr => "
                       "[tr.className, tr.cells[0].textContent.trim()].concat("
                       "[2, 4, 6].map(i => tr.cells[i].textContent)).join(' '))")
        self.assertEqual(rows, ["same  a a a", "only1 2 b B b", "same  c c c",
                                "only2 3 d d D", "only2 3 e e E"])
        self.open_compare([base, "a\nX\nc\nd\ne\n", "a\nY\nc\nd\ne\n"])
        self.assertEqual(self.js("return document.getElementById('change-1').className"), "all")
        self.open_compare([base, "a\nZ\nc\nd\ne\n", "a\nZ\nc\nd\ne\n"])
        self.assertEqual(self.js("return document.getElementById('change-1').className"), "only0")

    def test_identical_files_say_so_at_the_top(self):
        for files in (["x\ny\n", "x\ny\n"], ["x\n", "x\n", "x\n"]):
            with self.subTest(count=len(files)):
                self.open_compare(files)
                self.assertEqual(self.browser.find_element(By.ID, "summary").text,
                                 "The files are identical.")

    def test_a_large_compare_stays_small_and_opens_on_its_first_change(self):
        n = 20000
        changes = set(range(150, n, n // 60))
        page = self.open_compare([numbered(n), numbered(n, changes=changes)])
        size = os.path.getsize(page)
        self.assertLess(size, 500 * 1024)
        with open(page) as f:
            self.assertNotRegex(f.read(), r'(src|href)=["\']?(https?:)?//', "nothing from the network")
        # Every change is listed; only the rows near the view are drawn.
        self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "nav#changes a")),
                         len(changes))
        self.assertLess(len(self.browser.find_elements(By.CSS_SELECTOR, "tbody tr")), 200)
        self.assertTrue(self.in_view("change-1"))
        print("\n20000-line compare: page %d bytes, load %d ms" % (size, self.js(
            "const t = performance.timing; return t.loadEventEnd - t.navigationStart;")))

    def test_n_reaches_the_last_change_of_a_100000_line_page_and_its_rows_are_drawn(self):
        n = 100000
        changes = sorted(range(1000, n, 2000))
        self.open_compare([numbered(n), numbered(n, changes=changes)])
        body = self.browser.find_element(By.TAG_NAME, "body")
        for _ in changes:
            body.send_keys("n")
        last = "change-%d" % len(changes)
        self.assertEqual(self.browser.find_element(By.ID, "position").text,
                         "Change %d of %d" % (len(changes), len(changes)))
        self.assertEqual(self.current_change(), last)
        self.assertTrue(self.in_view(last))
        self.assertEqual(self.js("const r = document.getElementById(arguments[0]);"
                                 "return [r.cells[2].textContent, r.cells[4].textContent]", last),
                         ["line %d" % changes[-1], "CHANGED %d" % changes[-1]])
        self.assertLess(len(self.browser.find_elements(By.CSS_SELECTOR, "tbody tr")), 200)

    def test_the_search_box_finds_lines_far_below_the_first_screen_and_in_folds(self):
        n = 100000
        self.open_compare([numbered(n), numbered(n, changes={20, 90000})])
        search = self.browser.find_element(By.ID, "search")
        hit = lambda: self.js("const h = document.querySelector('tr.hit-row');"
                              "return h && [h.cells[1].textContent, "
                              "[...[...h.querySelectorAll('td.text')].find(td => td.querySelector('span.hit'))"
                              ".querySelectorAll('span.hit')].map(s => s.textContent).join('')]")
        steps = [
            # typed, key, the hit row's line number and marked text, the status
            ("line 87654", Keys.ENTER, ["87654", "line 87654"], "hit 1 of 1"),
            ("changed 9000", Keys.ENTER, ["90000", "CHANGED 9000"], "hit 1 of 1"),
            # Capitals: case counts. From the middle of the view on, then round to the top.
            ("CHANGED", Keys.ENTER, ["90000", "CHANGED"], "hit 2 of 2"),
            (None, Keys.ENTER, ["20", "CHANGED"], "hit 1 of 2"),
            (None, Keys.SHIFT + Keys.ENTER, ["90000", "CHANGED"], "hit 2 of 2"),
        ]
        for typed, key, row, status in steps:
            if typed is not None:
                search.clear()
                search.send_keys(typed)
            search.send_keys(key)
            wait_for(lambda: self.browser.find_element(By.ID, "search-status").text == status,
                     30, "the search to say " + status)
            self.assertEqual(hit(), row)
            self.assertTrue(self.js("const r = document.querySelector('tr.hit-row')"
                                    ".getBoundingClientRect();"
                                    "return r.top >= 0 && r.bottom <= window.innerHeight;"))
        # A fold far down still opens on a click.
        body = self.browser.find_element(By.TAG_NAME, "body")
        body.send_keys("n")
        body.send_keys("n")
        fold = self.browser.find_elements(By.CSS_SELECTOR, "tr.fold button")[-1]
        self.assertTrue(fold.text.startswith("Show "))
        fold.click()
        self.assertEqual(self.js("const r = document.getElementById('change-2').nextElementSibling;"
                                 "return r.nextElementSibling.nextElementSibling"
                                 ".nextElementSibling.cells[1].textContent"), "90004")

    def test_three_files_with_four_separate_differences_have_four_changes(self):
        base = "a\nb\nc\nd\ne\nf\ng\n"
        self.open_compare([base, "a\nB\nc\nd\ne\nF\ng\n", "a\nb\nC\nd\ne\nf\ng\nh\n"])
        self.assertEqual(self.js("return [...document.querySelectorAll('nav#changes a')]"
                                 ".map(a => a.textContent)"),
                         ["1: 2 \u2194 2 \u2194 2", "2: 3 \u2194 3 \u2194 3",
                          "3: 6 \u2194 6 \u2194 6", "4: \u00b7 \u2194 \u00b7 \u2194 8"])
        body = self.browser.find_element(By.TAG_NAME, "body")
        for k in range(1, 5):
            body.send_keys("n")
            self.assertEqual(self.current_change(), "change-%d" % k)

    def test_white_space_and_line_end_changes_are_labelled_and_can_be_hidden(self):
        left = "keep\nx = 1\nsame\nend\nmore\nsome text\nlast\n"
        right = "keep\nx  =  1\nsame\nend\r\nmore\nsome TEXT\nlast\n"
        self.open_compare([left, right])
        self.assertEqual(self.js("return [...document.querySelectorAll('nav#changes a')]"
                                 ".map(a => a.textContent)"),
                         ["1: 2 \u2194 2 (white space only)",
                          "2: 4 \u2194 4 (line ending: LF / CRLF)", "3: 6 \u2194 6"])
        self.assertEqual([e.text for e in self.browser.find_elements(By.CSS_SELECTOR, ".badge")],
                         ["white space only", "line ending: LF / CRLF"])
        self.assertEqual(self.marks("right"), ["  ", "  ", "TEXT"])
        body = self.browser.find_element(By.TAG_NAME, "body")
        body.send_keys("w")
        self.assertTrue(self.browser.find_element(By.ID, "hide-blank").is_selected())
        self.assertEqual(self.js("return ['change-1', 'change-2', 'change-3'].map(id => "
                                 "document.getElementById(id).className)"),
                         ["same blank", "same blank", "changed"])
        body.send_keys("n")
        self.assertEqual(self.current_change(), "change-3")
        self.browser.find_element(By.ID, "hide-blank").click()
        body.send_keys("p")
        self.assertEqual(self.current_change(), "change-2")

    def test_text_and_marks_keep_their_contrast_in_light_and_dark_schemes(self):
        two = ["keep\nold words here\ngone\nsame\n" + numbered(30),
               "keep\nnew words here\nsame\nadded\n" + numbered(30)]
        three = ["a\nb c\nc\nd\ne f\n", "a\nB c\nc\nd\nx f\n", "a\nb c\nC\nd\ny f\n"]
        checked = ("td.text, td.num, td.mark, span.ch, tr.fold td, th.title, .badge, "
                   "nav#changes a, p.legend, #position, .summary")
        mark_colours = {}
        for scheme in ("light", "dark"):
            emulate_colour_scheme(self.browser, scheme)
            for files in (two, three):
                with self.subTest(scheme=scheme, files=len(files)):
                    self.open_compare(files)
                    pairs = colours_of(self.browser, checked)
                    self.assertGreater(len(pairs), 20)
                    for fg, bg in pairs:
                        self.assertGreaterEqual(contrast_ratio(fg, bg), 4.5, (fg, bg))
                    backgrounds = lambda sel: {bg for _, bg in colours_of(self.browser, sel)}
                    mark_colours[scheme, len(files)] = backgrounds("tr:not(.removed):not(.added) span.ch")
                    if len(files) == 3:
                        # Changed characters never look like "only this file differs".
                        which = backgrounds("tr[class^=only] td.text, tr.all td.text, .swatch")
                        self.assertTrue(mark_colours[scheme, 3])
                        self.assertFalse(mark_colours[scheme, 3] & which)
        self.assertNotEqual(mark_colours["light", 2], mark_colours["dark", 2])


    def test_a_named_language_is_coloured_and_an_unknown_one_loads_no_language_code(self):
        old = ("#include <stdio.h>\n/* how many */\nstatic int count = 1;\n" +
               "".join("int f%d(void) { return %d; }\n" % (i, i) for i in range(200)))
        new = old.replace("count = 1;", "count = 2; // more").replace("return 150;", "return 151;")
        cases = [
            # extension, scheme, coloured
            ("c", "light", True),
            ("c", "dark", True),
            ("q9z", "light", False),
        ]
        folder = None
        for extension, scheme, coloured in cases:
            with self.subTest(extension=extension, scheme=scheme):
                emulate_colour_scheme(self.browser, scheme)
                files = [self.box.write("%s.%s" % (name, extension), text)
                         for name, text in (("old", old), ("new", new))]
                page = self.box.compare_page(files)
                folder = os.path.dirname(page)
                self.browser.get("file://" + page)
                wait_for(lambda: self.js("return document.body.dataset.ready"), 30, "the page")
                tokens = lambda: self.js(
                    "return [...document.querySelectorAll('td.text [class*=tok-]')]"
                    ".map(e => [e.className.match(/tok-\\w+/)[0], e.textContent])")
                self.assertEqual(self.js("return typeof globalThis.varnexSyntax"),
                                 "object" if coloured else "undefined")
                if not coloured:
                    self.assertEqual(tokens(), [])
                    with open(page) as f:
                        self.assertNotIn("<script src=", f.read())
                    continue
                for expected in (["tok-meta", "#include <stdio.h>"],
                                 ["tok-comment", "/* how many */"], ["tok-keyword", "static"],
                                 ["tok-type", "int"], ["tok-comment", "// more"]):
                    self.assertIn(expected, tokens())
                # A changed character keeps its mark's colours within a coloured token.
                self.assertIn("ch tok-number", self.js(
                    "return [...document.querySelectorAll('span.ch')].map(e => e.className)"))
                # Rows drawn later, far below, are coloured as they come.
                self.browser.find_element(By.TAG_NAME, "body").send_keys("n", "n")
                self.assertIn(["tok-keyword", "return"], self.js(
                    "return [...document.getElementById('change-2').querySelectorAll("
                    "'[class*=tok-]')].map(e => [e.className, e.textContent])"))
                ratios = contrast_ratios(self.browser, ["td.text [class*=tok-]"])
                self.assertGreater(len(ratios), 20)
                self.assertEqual([r for r in ratios if r[2] < 4.5], [])
        # Both coloured pages load one copy of the script, beside them.
        scripts = [n for n in os.listdir(folder) if n.startswith("syntax-")]
        self.assertEqual(len(scripts), 1, scripts)
        self.assertRegex(scripts[0], r"^syntax-[0-9a-f]{16}\.js$")


if __name__ == "__main__":
    unittest.main()
