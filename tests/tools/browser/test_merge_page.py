"""Merges with conflicts resolved on the merge page, through the whole system: the front
end, the relay service, the client and its page in headless Chromium, driven by keys and
buttons as a person would."""

import http.client
import os
import re
import signal
import stat
import time
import unittest
import urllib.parse
import urllib.request

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from varnex_browser import (BrowserTest, Sandbox, contrast_ratios, emulate_colour_scheme,
                            require_browser, wait_for)

HEARTBEAT_MS = 3000
FAILED = 255  # the front end's -1

BASE = "alpha\nbeta\ngr\u00fc\u00dfe\ndelta\nepsilon\nzeta\neta\ntheta\niota\n"
OURS = "alpha\nBETA mine\ngr\u00fc\u00dfe\ndelta\nepsilon\nzeta\neta\nTHETA mine\niota\n"
THEIRS = "alpha\nbeta theirs\ngr\u00fc\u00dfe\ndelta\nepsilon\nzeta\neta\ntheta theirs\niota\nkappa\n"

C_SOURCE = ("#include <stdio.h>\n\n/* how many */\nstatic int count = 1;\n\n"
            "int main(void) {\n    printf(\"%d\\n\", count);\n    return 0;\n}\n")


def encoded(text, encoding):
    """UTF-8 with LF, or UTF-16LE with CR LF and a byte-order mark, as Windows keeps it."""
    if encoding == "utf-16le":
        return b"\xff\xfe" + text.replace("\n", "\r\n").encode("utf-16-le")
    return text.encode("utf-8")


def recorder_env(root, extra=None):
    """A stand-in browser that writes each URL it is given to <root>/urls."""
    script = os.path.join(root, "record-url")
    with open(script, "w") as f:
        f.write('#!/bin/sh\nprintf "%%s\\n" "$1" >> "%s/urls"\n' % root)
    os.chmod(script, stat.S_IRWXU)
    env = {"BROWSER": script, "ZORV_MERGE_UI": "browser",
           "ZORV_MERGE_HEARTBEAT_MS": str(HEARTBEAT_MS)}
    env.update(extra or {})
    return env


def page_url(launcher):
    """The merge page's URL from the launcher file the browser is given."""
    with open(launcher) as f:
        return re.search(r'http-equiv="refresh" content="0;url=([^"]+)"', f.read()).group(1)


def recorded_urls(root):
    try:
        with open(os.path.join(root, "urls")) as f:
            return f.read().split()
    except OSError:
        return []


class MergePageTest(BrowserTest):

    def setUp(self):
        super().setUp()
        self.box.env.update(recorder_env(self.box.root))

    def start_merge(self, encoding="utf-8", out="out.txt", texts=(BASE, OURS, THEIRS)):
        for name, text in zip(("base.txt", "ours.txt", "theirs.txt"), texts):
            self.box.write(name, encoded(text, encoding) if isinstance(text, str) else text)
        seen = len(recorded_urls(self.box.root))
        args = ["-base", "base.txt", "ours.txt", "theirs.txt", "-out", out,
                "-fname", "Base", "-fname", "Mine", "-fname", "Yours"]
        if encoding:
            args += ["-encoding", encoding]
        child = self.box.start_trelmerge(args)
        launcher = wait_for(lambda: recorded_urls(self.box.root)[seen:], 60,
                            "the merge page's launcher\n" + self.box.client_log())[0]
        # The token stays off the browser's command line: it is given a private file.
        self.assertEqual(os.path.dirname(launcher), os.path.join(self.box.user_work_dir(), "merge"))
        return child, page_url(launcher), launcher

    def open_page(self, url):
        self.browser.get(url)
        wait_for(lambda: self.remaining(), 10, "the page's script")

    def finished(self, child, deadline):
        try:
            child.wait(timeout=deadline)
        except Exception:
            raise AssertionError("trelmerge still runs\n" + self.box.client_log())
        return child.returncode

    def remaining(self):
        return self.browser.find_element(By.ID, "remaining").text

    def save_enabled(self):
        return self.browser.find_element(By.ID, "save").is_enabled()

    def keys(self, *keys, ctrl=False, shift=False):
        """Keys pressed wherever the focus is, with Ctrl (and Shift) held when asked."""
        chain = ActionChains(self.browser)
        for held, key in ((ctrl, Keys.CONTROL), (shift, Keys.SHIFT)):
            if held:
                chain.key_down(key)
        chain.send_keys(*keys)
        for held, key in ((shift, Keys.SHIFT), (ctrl, Keys.CONTROL)):
            if held:
                chain.key_up(key)
        chain.perform()

    def result_lines(self):
        return self.browser.execute_script(
            "return [...document.querySelectorAll('#result .cm-line')].map(l => l.textContent)")

    def result_line(self, text):
        return next(e for e in self.browser.find_elements(By.CSS_SELECTOR, "#result .cm-line")
                    if e.text == text)

    def side(self, which):
        """The lines of one side pane of the current conflict, with their numbers."""
        return self.browser.execute_script(
            "const side = document.querySelector('div.side.' + arguments[0]);"
            "return [...side.querySelectorAll('.cm-gutterElement')].filter(g => g.offsetHeight)"
            ".map(g => g.textContent).concat(['|'], [...side.querySelectorAll('.cm-line')]"
            ".map(l => l.textContent))", which)

    def marks(self, which):
        return [e.text for e in self.browser.find_elements(
            By.CSS_SELECTOR, "div.side.%s .cm-word" % which)]

    def test_a_merge_resolved_by_keys_with_undo_and_edits_gives_its_bytes(self):
        expected = ("alpha\nBETA mine\ngr\u00fc\u00dfe\ndelta edited\nepsilon\nzeta\neta\n"
                    "THETA mine\ntheta theirs\niota\nkappa\n")
        for encoding in ("utf-8", "utf-16le"):
            with self.subTest(encoding=encoding):
                child, url, launcher = self.start_merge(encoding, out="out-" + encoding)
                self.browser.get("file://" + launcher)
                wait_for(lambda: self.browser.current_url == url, 10, "the launcher to lead on")
                wait_for(lambda: self.remaining(), 10, "the page's script")
                self.assertEqual(self.remaining(), "2 of 2 conflicts left")
                self.assertFalse(self.save_enabled())
                self.assertEqual(self.browser.find_element(By.ID, "conflict-title").text,
                                 "Conflict 1 of 2")
                self.assertEqual([h.text for h in self.browser.find_elements(
                    By.CSS_SELECTOR, "div.side h3")], ["Left: Mine", "Base: Base", "Right: Yours"])
                self.assertEqual(self.result_lines()[1:3], ["<<<<<<< Mine", "BETA mine"])
                steps = [
                    # keys, Ctrl held, the first conflict's lines in the result, what is left
                    ("1", False, ["BETA mine", "gr\u00fc\u00dfe"], "1 of 2 conflicts left"),
                    ("2", False, ["beta theirs", "gr\u00fc\u00dfe"], "1 of 2 conflicts left"),
                    ("z", True, ["BETA mine", "gr\u00fc\u00dfe"], "1 of 2 conflicts left"),
                    ("n3", False, ["BETA mine", "gr\u00fc\u00dfe"], "All 2 conflicts resolved"),
                ]
                for keys, ctrl, lines, left in steps:
                    self.keys(keys, ctrl=ctrl)
                    self.assertEqual(self.result_lines()[1:3], lines, keys)
                    self.assertEqual(self.remaining(), left, keys)
                self.assertEqual(self.result_lines()[7:9], ["THETA mine", "theta theirs"])
                # Another request is answered while the page waits.
                self.box.write("a.txt", "a\n")
                self.assertEqual(self.box.trelmerge(["a.txt", "a.txt"], timeout=30).returncode, 0)
                # A clean line edited, the typing undone and redone in the text.
                ActionChains(self.browser).click(self.result_line("delta")).send_keys(
                    Keys.END, " edited").perform()
                wait_for(lambda: "delta edited" in self.result_lines(), 5, "the typing")
                self.keys("z", ctrl=True)
                self.assertIn("delta", self.result_lines())
                self.keys("z", ctrl=True, shift=True)
                self.assertIn("delta edited", self.result_lines())
                self.assertTrue(self.save_enabled())
                self.keys("s", ctrl=True)
                self.assertEqual(self.finished(child, 30), 0, self.box.client_log())
                self.assertEqual(self.box.read("out-" + encoding), encoded(expected, encoding))
                self.assertFalse(os.path.exists(launcher), "the launcher is removed at the end")
                wait_for(lambda: self.browser.find_element(By.ID, "done-note").text, 10,
                         "the page to say it saved")
                self.assertTrue(self.browser.find_element(By.ID, "done-note").text.startswith(
                    "Saved "))

    def test_every_way_of_taking_sides_gives_its_bytes(self):
        take = {
            "right": "beta theirs\n",
            "left-right": "BETA mine\nbeta theirs\n",
            "right-left": "beta theirs\nBETA mine\n",
            "base": "beta\n",
        }
        for choice, first_conflict in take.items():
            with self.subTest(choice=choice):
                child, url, _ = self.start_merge(out="out-" + choice)
                self.open_page(url)
                button = lambda name: self.browser.find_element(
                    By.CSS_SELECTOR, "#choices button[data-take='%s']" % name)
                button(choice).click()
                self.assertEqual(self.browser.find_element(By.ID, "conflict-state").text,
                                 {"right": "right taken", "left-right": "left, then right",
                                  "right-left": "right, then left", "base": "base taken"}[choice])
                self.assertIn("chosen", button(choice).get_attribute("class"))
                self.assertEqual("\n".join(self.result_lines()[1:]).split("gr\u00fc")[0],
                                 first_conflict)
                self.browser.find_element(By.ID, "next").click()
                button("left").click()
                self.browser.find_element(By.ID, "save").click()
                self.assertEqual(self.finished(child, 30), 0, self.box.client_log())
                self.assertEqual(self.box.read("out-" + choice).decode(),
                                 "alpha\n" + first_conflict + "gr\u00fc\u00dfe\ndelta\nepsilon\n"
                                 "zeta\neta\nTHETA mine\niota\nkappa\n")

    def test_the_sides_show_their_line_numbers_and_what_changed_in_their_lines(self):
        base = "one\ntwo\nalpha beta gamma\nfour\n"
        child, url, _ = self.start_merge(texts=(
            base, base.replace("beta", "BETA"), "zero\n" + base.replace("gamma", "GAMMA")))
        self.open_page(url)
        self.assertEqual(self.side("left"), ["3", "|", "alpha BETA gamma"])
        self.assertEqual(self.side("base"), ["3", "|", "alpha beta gamma"])
        self.assertEqual(self.side("right"), ["4", "|", "alpha beta GAMMA"])
        self.assertEqual(self.marks("left"), ["BETA"])
        self.assertEqual(self.marks("base"), ["beta", "gamma"])
        self.assertEqual(self.marks("right"), ["GAMMA"])
        self.browser.find_element(By.ID, "cancel").click()
        self.assertEqual(self.finished(child, 30), FAILED)

    def test_a_merge_without_a_base_offers_the_two_sides_only(self):
        self.box.write("one.txt", "same\nmine\nend\n")
        self.box.write("two.txt", "same\nyours\nend\n")
        seen = len(recorded_urls(self.box.root))
        child = self.box.start_trelmerge(["one.txt", "two.txt", "-out", "two-way.txt",
                                          "-fname", "One", "-fname", "Two"])
        launcher = wait_for(lambda: recorded_urls(self.box.root)[seen:], 60, "the page")[0]
        self.open_page(page_url(launcher))
        self.assertEqual([h.text for h in self.browser.find_elements(By.CSS_SELECTOR,
                                                                     "div.side h3")],
                         ["Left: One", "Right: Two"])
        self.assertEqual([b.get_attribute("data-take") for b in
                          self.browser.find_elements(By.CSS_SELECTOR, "#choices button")],
                         ["left", "right", "left-right", "right-left"])
        self.keys("0")  # no base to take
        self.assertEqual(self.remaining(), "1 of 1 conflict left")
        self.browser.find_element(By.CSS_SELECTOR, "button[data-take=right-left]").click()
        self.assertEqual(self.remaining(), "The conflict is resolved")
        self.browser.find_element(By.ID, "save").click()
        self.assertEqual(self.finished(child, 30), 0, self.box.client_log())
        self.assertEqual(self.box.read("two-way.txt"), b"same\nyours\nmine\nend\n")

    def test_bytes_that_are_not_utf8_come_back_as_they_were_after_typing(self):
        # Read as bytes (no encoding named, no byte-order mark): E9 is Latin-1's e acute.
        base = b"start\ncaf\xe9 one\nend\n"
        ours = b"start\ncaf\xe9 two\nend\n"
        theirs = b"start\ncaf\xe9 three \xff\nend\n"
        child, url, _ = self.start_merge(encoding=None, texts=(base, ours, theirs))
        self.open_page(url)
        self.assertEqual(self.side("right")[-1], "caf\u2039E9\u203a three \u2039FF\u203a")
        self.keys("2")
        line = self.result_line("caf\u2039E9\u203a three \u2039FF\u203a")
        ActionChains(self.browser).click(line).send_keys(Keys.END, " four").perform()
        wait_for(lambda: self.remaining() == "The conflict is resolved", 5, "the edit")
        self.assertEqual(self.browser.find_element(By.ID, "conflict-state").text, "edited")
        # U+1F480 is written as a surrogate pair whose second half (DC80) looks like a byte.
        # Typed as an input method types it (ChromeDriver's keys stop at U+FFFF).
        ActionChains(self.browser).click(self.result_line("end")).send_keys(Keys.END).perform()
        self.browser.execute_script("document.execCommand('insertText', false, arguments[0])",
                                    " \U0001F480")
        self.keys("s", ctrl=True)
        self.assertEqual(self.finished(child, 30), 0, self.box.client_log())
        self.assertEqual(self.box.read("out.txt"),
                         b"start\ncaf\xe9 three \xff four\nend \xf0\x9f\x92\x80\n")

    def test_a_result_with_a_marker_line_is_saved_only_when_confirmed(self):
        child, url, _ = self.start_merge()
        self.open_page(url)
        self.keys("1n")
        # The second conflict edited by hand, its markers left in place.
        ActionChains(self.browser).click(self.result_line("THETA mine")).send_keys(
            Keys.END, "!").perform()
        wait_for(lambda: self.remaining() == "All 2 conflicts resolved", 5, "the edit")
        dialog = self.browser.find_element(By.ID, "confirm-markers")
        self.keys("s", ctrl=True)
        wait_for(dialog.is_displayed, 5, "the question")
        dialog.find_element(By.CSS_SELECTOR, "button[value=back]").click()
        self.assertFalse(dialog.is_displayed())
        self.assertIsNone(child.poll(), "nothing is saved without a yes")
        self.browser.find_element(By.ID, "save").click()
        wait_for(dialog.is_displayed, 5, "the question again")
        dialog.find_element(By.CSS_SELECTOR, "button[value=save]").click()
        self.assertEqual(self.finished(child, 30), 0, self.box.client_log())
        self.assertEqual(self.box.read("out.txt").decode(),
                         "alpha\nBETA mine\ngr\u00fc\u00dfe\ndelta\nepsilon\nzeta\neta\n"
                         "<<<<<<< Mine\nTHETA mine!\n||||||| Base\ntheta\n=======\n"
                         "theta theirs\n>>>>>>> Yours\niota\nkappa\n")

    def test_every_key_has_a_button_and_the_question_mark_lists_them(self):
        child, url, _ = self.start_merge()
        self.open_page(url)
        overlay = self.browser.find_element(By.ID, "keys")
        self.assertFalse(overlay.is_displayed())
        self.keys("?")
        wait_for(overlay.is_displayed, 5, "the list of keys")
        listed = [k.text for k in overlay.find_elements(By.CSS_SELECTOR, "td kbd")]
        self.assertEqual(listed, ["n", "p", "1", "2", "3", "4", "0", "Ctrl+Z", "Ctrl+Shift+Z",
                                  "Ctrl+Y", "Ctrl+F", "Ctrl+S", "Esc", "?"])
        on_buttons = {k.text for k in self.browser.find_elements(By.CSS_SELECTOR,
                                                                 "#toolbar button kbd")}
        # Esc only leaves the text, and Ctrl+Y is Ctrl+Shift+Z's other name.
        self.assertEqual(set(listed) - on_buttons, {"Esc", "Ctrl+Y"})
        self.keys(Keys.ESCAPE)
        self.assertFalse(overlay.is_displayed())
        self.browser.find_element(By.ID, "show-keys").click()
        self.assertTrue(overlay.is_displayed())
        self.keys(Keys.ESCAPE)
        self.browser.find_element(By.ID, "cancel").click()
        self.assertEqual(self.finished(child, 30), FAILED)

    def test_text_and_marks_keep_their_contrast_in_light_and_dark(self):
        selectors = ["#toolbar b", "#output small", "#remaining", "#toolbar button:enabled",
                     "#toolbar kbd", "#sides h2 span", "div.side h3", ".cm-gutterElement",
                     "#result .cm-line", "div.side .cm-line", ".cm-word", "#result-box h2 small"]
        backgrounds = {}
        for scheme in ("light", "dark"):
            with self.subTest(scheme=scheme):
                emulate_colour_scheme(self.browser, scheme)
                child, url, _ = self.start_merge(out="out-" + scheme)
                self.open_page(url)
                self.keys("2")  # a resolved conflict and a chosen button, beside an open one
                ratios = contrast_ratios(self.browser, selectors)
                self.assertGreater(len(ratios), 40)
                self.assertTrue({r[0] for r in ratios} >= {".cm-word", ".cm-gutterElement"})
                self.assertEqual([r for r in ratios if r[2] < 4.5], [])
                backgrounds[scheme] = self.browser.execute_script(
                    "return getComputedStyle(document.body).backgroundColor")
                self.browser.find_element(By.ID, "cancel").click()
                self.assertEqual(self.finished(child, 30), FAILED)
        self.assertNotEqual(backgrounds["light"], backgrounds["dark"])

    def tokens(self, pane):
        """[class, text] of each coloured piece in a pane ("#result" or "div.side.left")."""
        return self.browser.execute_script(
            "return [...document.querySelectorAll(arguments[0] + ' .cm-line [class*=tok-]')]"
            ".map(e => [e.className.match(/tok-\\w+/)[0], e.textContent])", pane)

    def test_a_named_language_is_coloured_and_an_unknown_one_loads_no_language_code(self):
        base = C_SOURCE
        ours = base.replace("count = 1;", "count = 2; /* mine */")
        theirs = base.replace("count = 1;", "count = 3;")
        cases = [
            # output file, scheme, coloured
            ("out.c", "light", True),
            ("out.c", "dark", True),
            ("out.q9z", "light", False),
        ]
        for out, scheme, coloured in cases:
            with self.subTest(out=out, scheme=scheme):
                emulate_colour_scheme(self.browser, scheme)
                child, url, _ = self.start_merge(out=out, texts=(base, ours, theirs))
                self.open_page(url)
                loaded = self.browser.execute_script(
                    "return performance.getEntriesByType('resource')"
                    ".map(e => e.name.split('/').pop())")
                status = self.browser.execute_async_script(
                    "fetch('syntax.js').then(r => arguments[0](r.status))")
                self.assertEqual((status, "syntax.js" in loaded), (200, True) if coloured
                                 else (404, False))
                result, left = self.tokens("#result"), self.tokens("div.side.left")
                if coloured:
                    for expected in (["tok-meta", "#include <stdio.h>"],
                                     ["tok-comment", "/* how many */"], ["tok-keyword", "static"],
                                     ["tok-type", "int"], ["tok-number", "2"],
                                     ["tok-definition", "main"], ["tok-string", '"%d\\n"'],
                                     ["tok-keyword", "return"]):
                        self.assertIn(expected, result)
                    self.assertIn(["tok-comment", "/* mine */"], left)
                    # Marker lines stay plain, and the colouring goes on after them.
                    self.assertEqual(self.browser.execute_script(
                        "return [...document.querySelectorAll('#result .cm-line')]"
                        ".filter(l => /^(<{7}|={7}|>{7}|[|]{7})/.test(l.textContent))"
                        ".map(l => l.querySelectorAll('[class*=tok-]').length)"), [0, 0, 0, 0])
                    self.assertIn(["tok-number", "3"], result)
                    ratios = contrast_ratios(self.browser, ["#result [class*=tok-]",
                                                            "div.side [class*=tok-]"])
                    self.assertGreater(len(ratios), 10)
                    self.assertEqual([r for r in ratios if r[2] < 4.5], [])
                else:
                    self.assertEqual((result, left), ([], []))
                    self.assertIsNone(self.browser.execute_script(
                        "return document.getElementById('syntax-colours')"))
                self.browser.find_element(By.ID, "cancel").click()
                self.assertEqual(self.finished(child, 30), FAILED)

    def test_a_large_merge_stays_small(self):
        lines = ["static int line_%d = %d; /* of a settings file */\n" % (i, i) for i in range(2000)]
        base, ours, theirs = list(lines), list(lines), list(lines)
        for k in range(20):
            at = 50 + k * 100
            ours[at] = "static int mine_%d = 1;\n" % k
            theirs[at] = "static int theirs_%d = 2;\n" % k
        # Plain, and coloured by the output's name: what colours costs shows beside it.
        for out in ("out.txt", "out.c"):
            with self.subTest(out=out):
                child, url, _ = self.start_merge(
                    out=out, texts=("".join(base), "".join(ours), "".join(theirs)))
                self.open_page(url)
                self.assertEqual(self.remaining(), "20 of 20 conflicts left")
                sizes = self.browser.execute_script(
                    "return [performance.getEntriesByType('navigation')[0]]"
                    ".concat(performance.getEntriesByType('resource'))"
                    ".map(e => [e.name.split('/').pop(), e.encodedBodySize, e.decodedBodySize])")
                page = next(s for s in sizes if s[0] == "")
                script = next(s for s in sizes if s[0] == "merge_page.js")
                colours = next((s for s in sizes if s[0] == "syntax.js"), ["", 0, 0])
                self.assertEqual(colours[2] > 0, out == "out.c")
                self.assertLess(page[2], 300 * 1024, "the page alone")
                self.assertLess(page[1] + script[1] + colours[1], 300 * 1024,
                                "the page, its editor and its colours as sent")
                timings = {}
                for key in ("n", "1", "p"):
                    timings[key] = self.browser.execute_async_script(
                        "const done = arguments[1], t0 = performance.now();"
                        "document.body.dispatchEvent(new KeyboardEvent('keydown', "
                        "{key: arguments[0], bubbles: true}));"
                        "requestAnimationFrame(() => requestAnimationFrame("
                        "() => done(performance.now() - t0)));", key)
                self.assertEqual(self.remaining(), "19 of 20 conflicts left")
                print("\n2000-line merge to %s, 20 conflicts: page %d bytes (%d sent), editor %d "
                      "bytes (%d sent), colours %d bytes (%d sent); key to next frame: %s" % (
                          out, page[2], page[1], script[2], script[1], colours[2], colours[1],
                          ", ".join("%s %.1f ms" % kv for kv in timings.items())))
                self.browser.find_element(By.ID, "cancel").click()
                self.assertEqual(self.finished(child, 30), FAILED)

    def test_cancel_answers_false_and_leaves_the_output_as_it_was(self):
        self.box.write("out.txt", "what was there before\n")
        child, url, _ = self.start_merge()
        self.open_page(url)
        self.keys("1")
        self.browser.find_element(By.ID, "cancel").click()
        self.assertEqual(self.finished(child, 30), FAILED)
        self.assertEqual(self.box.read("out.txt"), b"what was there before\n")
        self.assertIn("cancelled on the merge page", self.box.client_log())

    def test_a_closed_page_answers_false_within_the_heartbeat_limit(self):
        child, url, _ = self.start_merge()
        first = self.browser.current_window_handle
        self.browser.switch_to.new_window("tab")
        self.open_page(url)
        self.keys("1")
        self.browser.close()
        self.browser.switch_to.window(first)
        closed = time.monotonic()
        self.assertEqual(self.finished(child, HEARTBEAT_MS / 1000 + 10), FAILED)
        self.assertLess(time.monotonic() - closed, HEARTBEAT_MS / 1000 + 5)
        self.assertFalse(os.path.exists(os.path.join(self.box.files, "out.txt")))
        self.assertIn("the merge page stopped reporting", self.box.client_log())

    def test_requests_without_the_token_or_from_a_foreign_host_are_refused(self):
        child, url, _ = self.start_merge()
        parts = urllib.parse.urlsplit(url)
        own_host = parts.netloc

        def status(method, path, host=own_host):
            connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=10)
            connection.putrequest(method, path, skip_host=True)
            connection.putheader("Host", host)
            connection.putheader("Content-Length", "0")
            connection.endheaders()
            code = connection.getresponse().status
            connection.close()
            return code

        cases = [
            ("GET", "/", own_host, 403),
            ("GET", "/" + "0" * 32 + "/", own_host, 403),
            ("GET", parts.path, "evil.example:%d" % parts.port, 403),
            ("GET", parts.path, "localhost:%d" % parts.port, 403),
            ("POST", parts.path + "cancel", "evil.example", 403),
            ("POST", "/cancel", own_host, 403),
            ("GET", parts.path, own_host, 200),
            ("GET", parts.path + "merge_page.js", own_host, 200),
            ("GET", parts.path + "other", own_host, 404),
        ]
        for method, path, host, expected in cases:
            with self.subTest(method=method, path=path, host=host):
                self.assertEqual(status(method, path, host), expected)
        self.assertIsNone(child.poll(), "a refused cancel must not end the merge")
        self.assertEqual(status("POST", parts.path + "cancel"), 200)
        self.assertEqual(self.finished(child, 30), FAILED)


class MergePageOpeningTest(BrowserTest):
    """A page is open once its script reports, and silence counts only while the client
    runs; a short heartbeat keeps these quick."""

    HEARTBEAT_MS = 1000

    def setUp(self):
        super().setUp()
        self.box.env.update(recorder_env(self.box.root, {
            "ZORV_MERGE_HEARTBEAT_MS": str(self.HEARTBEAT_MS)}))
        for name, text in (("base.txt", BASE), ("ours.txt", OURS), ("theirs.txt", THEIRS)):
            self.box.write(name, text)
        self.child = self.box.start_trelmerge(["-base", "base.txt", "ours.txt", "theirs.txt",
                                               "-out", "out.txt"])
        self.url = page_url(wait_for(lambda: recorded_urls(self.box.root), 60, "the page")[0])

    def resolve_and_save(self):
        self.browser.get(self.url)
        wait_for(lambda: self.browser.find_element(By.ID, "remaining").text, 10, "the script")
        ActionChains(self.browser).send_keys("1n2").key_down(Keys.CONTROL).send_keys(
            "s").key_up(Keys.CONTROL).perform()
        self.child.wait(timeout=30)
        self.assertEqual(self.child.returncode, 0, self.box.client_log())
        self.assertEqual(self.box.read("out.txt").decode(),
                         OURS.replace("THETA mine", "theta theirs") + "kappa\n")

    def test_a_fetch_without_script_does_not_start_the_heartbeat(self):
        # A link preview, or curl: the page fetched, no script run.
        with urllib.request.urlopen(self.url, timeout=10) as response:
            self.assertEqual(response.status, 200)
        time.sleep(3 * self.HEARTBEAT_MS / 1000)
        self.assertIsNone(self.child.poll(), self.box.client_log())
        self.resolve_and_save()

    def test_a_client_held_up_longer_than_the_heartbeat_does_not_lose_the_page(self):
        self.browser.get(self.url)
        wait_for(lambda: self.browser.find_element(By.ID, "remaining").text, 10, "the script")
        [client] = self.box.product_pids("ZorvHome")
        # The whole client stopped (a machine under load, a debugger) while the page reports.
        os.kill(client, signal.SIGSTOP)
        try:
            time.sleep(3 * self.HEARTBEAT_MS / 1000)
        finally:
            os.kill(client, signal.SIGCONT)
        time.sleep(self.HEARTBEAT_MS / 1000 / 2)
        self.assertIsNone(self.child.poll(), self.box.client_log())
        self.resolve_and_save()


class MergeWithoutPageTest(unittest.TestCase):
    """When no page is shown the merge answers at once, as without a browser."""

    def test_no_page_for_a_clean_merge_or_when_turned_off(self):
        require_browser(self)
        cases = [
            # ZORV_MERGE_UI, a desktop session, conflicts, exit status, a page opened
            ("browser", "", False, 0, False),
            ("none", ":99", True, FAILED, False),
            ("", "", True, FAILED, False),
        ]
        for ui, display, conflicts, status, opened in cases:
            with self.subTest(ui=ui, display=display, conflicts=conflicts):
                box = Sandbox()
                self.addCleanup(box.close)
                box.env.update(recorder_env(box.root, {"ZORV_MERGE_UI": ui, "DISPLAY": display}))
                box.write("base.txt", BASE)
                box.write("ours.txt", OURS)
                box.write("theirs.txt", THEIRS if conflicts else BASE.replace("epsilon", "EPS"))
                result = box.trelmerge(["-base", "base.txt", "ours.txt", "theirs.txt",
                                        "-out", "out.txt"], timeout=60)
                self.assertEqual(result.returncode, status, box.client_log())
                self.assertEqual(bool(recorded_urls(box.root)), opened)
                self.assertEqual(b"<<<<<<<" in box.read("out.txt"), conflicts)


if __name__ == "__main__":
    unittest.main()
