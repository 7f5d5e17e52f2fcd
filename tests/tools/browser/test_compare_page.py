"""The compare page as a browser shows it: marks within lines, moving between changes,
folds, the three-column view and the size of a large compare."""

import os
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from varnex_browser import BrowserTest, wait_for


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
        self.assertEqual(len(self.browser.find_elements(By.CSS_SELECTOR, "tr[id^='change-']")),
                         len(changes))
        self.assertTrue(self.in_view("change-1"))
        print("\n20000-line compare: page %d bytes, load %d ms" % (size, self.js(
            "const t = performance.timing; return t.loadEventEnd - t.navigationStart;")))


if __name__ == "__main__":
    unittest.main()
