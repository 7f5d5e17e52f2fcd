"""Merges with conflicts resolved on the merge page, through the whole system: the front
end, the relay service, the client and its page in headless Chromium."""

import http.client
import os
import re
import stat
import time
import unittest
import urllib.parse

from selenium.webdriver.common.by import By

from varnex_browser import BrowserTest, Sandbox, require_browser, wait_for

HEARTBEAT_MS = 3000
FAILED = 255  # the front end's -1

BASE = "alpha\nbeta\ngr\u00fc\u00dfe\ndelta\nepsilon\nzeta\neta\ntheta\niota\n"
OURS = "alpha\nBETA mine\ngr\u00fc\u00dfe\ndelta\nepsilon\nzeta\neta\nTHETA mine\niota\n"
THEIRS = "alpha\nbeta theirs\ngr\u00fc\u00dfe\ndelta\nepsilon\nzeta\neta\ntheta theirs\niota\nkappa\n"


def encoded(text, encoding):
    if encoding == "utf-16le":
        return b"\xff\xfe" + text.encode("utf-16-le")
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

    def start_merge(self, encoding="utf-8", out="out.txt"):
        for name, text in (("base.txt", BASE), ("ours.txt", OURS), ("theirs.txt", THEIRS)):
            self.box.write(name, encoded(text, encoding))
        seen = len(recorded_urls(self.box.root))
        child = self.box.start_trelmerge(
            ["-base", "base.txt", "ours.txt", "theirs.txt", "-out", out, "-encoding", encoding,
             "-fname", "Base", "-fname", "Mine", "-fname", "Yours"])
        launcher = wait_for(lambda: recorded_urls(self.box.root)[seen:], 60,
                            "the merge page's launcher\n" + self.box.client_log())[0]
        # The token stays off the browser's command line: it is given a private file.
        self.assertEqual(os.path.dirname(launcher), os.path.join(self.box.user_work_dir(), "merge"))
        return child, page_url(launcher), launcher

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

    def test_two_conflicts_resolved_and_saved_give_the_chosen_bytes(self):
        expected = ("alpha\nBETA mine\ngr\u00fc\u00dfe\ndelta\nepsilon\nzeta\neta\n"
                    "theta by hand\nand a line more\niota\nkappa\n")
        for encoding in ("utf-8", "utf-16le"):
            with self.subTest(encoding=encoding):
                child, url, launcher = self.start_merge(encoding, out="out-" + encoding)
                self.browser.get("file://" + launcher)
                wait_for(lambda: self.browser.current_url == url, 10, "the launcher to lead on")
                self.assertEqual(self.remaining(), "2 of 2 conflicts left")
                self.assertFalse(self.save_enabled())
                first = self.browser.find_element(By.ID, "conflict-1")
                self.assertEqual([h.text for h in first.find_elements(By.TAG_NAME, "h3")],
                                 ["Left: Mine", "Base: Base", "Right: Yours"])
                first.find_element(By.CSS_SELECTOR, "button[data-take=left]").click()
                self.assertEqual(self.remaining(), "1 of 2 conflicts left")
                self.assertFalse(self.save_enabled())
                # Another request is answered while the page waits.
                self.box.write("a.txt", "a\n")
                self.assertEqual(self.box.trelmerge(["a.txt", "a.txt"], timeout=30).returncode, 0)
                second = self.browser.find_element(By.CSS_SELECTOR, "#conflict-2 textarea")
                second.send_keys("theta by hand\nand a line more")
                self.assertEqual(self.remaining(), "All 2 conflicts resolved")
                self.browser.find_element(By.ID, "save").click()
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
                self.browser.get(url)
                self.browser.find_element(
                    By.CSS_SELECTOR, "#conflict-1 button[data-take='%s']" % choice).click()
                self.browser.find_element(
                    By.CSS_SELECTOR, "#conflict-2 button[data-take=left]").click()
                self.assertEqual(self.browser.find_element(
                    By.CSS_SELECTOR, "#conflict-1 textarea").get_property("value"),
                    first_conflict)
                self.browser.find_element(By.ID, "save").click()
                self.assertEqual(self.finished(child, 30), 0, self.box.client_log())
                self.assertEqual(self.box.read("out-" + choice).decode(),
                                 "alpha\n" + first_conflict + "gr\u00fc\u00dfe\ndelta\nepsilon\n"
                                 "zeta\neta\nTHETA mine\niota\nkappa\n")

    def test_a_merge_without_a_base_offers_the_two_sides_only(self):
        self.box.write("one.txt", "same\nmine\nend\n")
        self.box.write("two.txt", "same\nyours\nend\n")
        seen = len(recorded_urls(self.box.root))
        child = self.box.start_trelmerge(["one.txt", "two.txt", "-out", "two-way.txt",
                                          "-fname", "One", "-fname", "Two"])
        launcher = wait_for(lambda: recorded_urls(self.box.root)[seen:], 60, "the page")[0]
        self.browser.get(page_url(launcher))
        conflict = self.browser.find_element(By.ID, "conflict-1")
        self.assertEqual([h.text for h in conflict.find_elements(By.TAG_NAME, "h3")],
                         ["Left: One", "Right: Two"])
        self.assertEqual([b.get_attribute("data-take") for b in
                          conflict.find_elements(By.CSS_SELECTOR, "div.choices button")],
                         ["left", "right", "left-right", "right-left"])
        conflict.find_element(By.CSS_SELECTOR, "button[data-take=right-left]").click()
        self.browser.find_element(By.ID, "save").click()
        self.assertEqual(self.finished(child, 30), 0, self.box.client_log())
        self.assertEqual(self.box.read("two-way.txt"), b"same\nyours\nmine\nend\n")

    def test_cancel_answers_false_and_leaves_the_output_as_it_was(self):
        self.box.write("out.txt", "what was there before\n")
        child, url, _ = self.start_merge()
        self.browser.get(url)
        self.browser.find_element(By.CSS_SELECTOR, "#conflict-1 button[data-take=left]").click()
        self.browser.find_element(By.ID, "cancel").click()
        self.assertEqual(self.finished(child, 30), FAILED)
        self.assertEqual(self.box.read("out.txt"), b"what was there before\n")
        self.assertIn("cancelled on the merge page", self.box.client_log())

    def test_a_closed_page_answers_false_within_the_heartbeat_limit(self):
        child, url, _ = self.start_merge()
        first = self.browser.current_window_handle
        self.browser.switch_to.new_window("tab")
        self.browser.get(url)
        self.browser.find_element(By.CSS_SELECTOR, "#conflict-1 button[data-take=left]").click()
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
        ]
        for method, path, host, expected in cases:
            with self.subTest(method=method, path=path, host=host):
                self.assertEqual(status(method, path, host), expected)
        self.assertIsNone(child.poll(), "a refused cancel must not end the merge")
        self.assertEqual(status("POST", parts.path + "cancel"), 200)
        self.assertEqual(self.finished(child, 30), FAILED)


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
