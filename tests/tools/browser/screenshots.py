"""Takes the README's screenshots of the compare and merge pages into docs/:
    VARNEX_BUILD_BIN_DIR=build/bin python3 tests/tools/browser/screenshots.py docs"""

import os
import sys

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.keys import Keys

from varnex_browser import Sandbox, emulate_colour_scheme, start_chromium, wait_for
from test_merge_page import page_url, recorded_urls, recorder_env

SETTINGS = """# relay settings
[service]
name = relay
port = 7000
workers = 4
log_level = info
timeout = 30
retries = 3

[paths]
home = /srv/relay
cache = /var/cache/relay
logs = /var/log/relay

[limits]
max_message = 65536
max_pairs = 32
idle_seconds = 600
"""


def edited(text, replacements):
    for old, new in replacements:
        text = text.replace(old, new, 1)
    return text


def open_page(box, browser, args):
    browser.get("file://" + box.compare_page(args))
    wait_for(lambda: browser.execute_script("return document.body.dataset.ready"), 30,
             "the page to draw")


def compare_shots(box, browser, out_dir):
    base = SETTINGS
    mine = edited(base, [("workers = 4", "workers = 8"), ("timeout = 30\n", ""),
                         ("name = relay", "name  =  relay"),
                         ("home = /srv/relay", "home = /srv/relay-main"),
                         ("idle_seconds = 600", "idle_seconds = 900\nkeepalive = yes")])
    theirs = edited(base, [("log_level = info", "log_level = debug"),
                           ("idle_seconds = 600", "idle_seconds = 300")])
    for name, text in (("base.ini", base), ("mine.ini", mine), ("theirs.ini", theirs)):
        box.write(name, text)
    pair = ["base.ini", "mine.ini", "-fname", "base.ini", "-fname", "mine.ini"]
    for scheme, shot in (("light", "compare-page.png"), ("dark", "compare-page-dark.png")):
        emulate_colour_scheme(browser, scheme)
        open_page(box, browser, pair)
        browser.find_element("tag name", "body").send_keys("n")
        browser.save_screenshot(os.path.join(out_dir, shot))
    emulate_colour_scheme(browser, "light")
    open_page(box, browser, ["base.ini", "mine.ini", "theirs.ini", "-fname", "base.ini",
                             "-fname", "mine.ini", "-fname", "theirs.ini"])
    browser.save_screenshot(os.path.join(out_dir, "compare-three-files.png"))
    # A large compare: a million lines a side, a search far below the first screen.
    lines = "".join("%07d entry %d of the log\n" % (i, i * 7 % 1000) for i in range(1000000))
    box.write("big-a.log", lines)
    box.write("big-b.log", lines.replace("0654321 entry", "0654321 ENTRY").replace(
        "0000042 entry 294", "0000042 entry 295"))
    open_page(box, browser, ["big-a.log", "big-b.log"])
    search = browser.find_element("id", "search")
    search.send_keys("0654321\n")
    wait_for(lambda: browser.find_element("id", "search-status").text.startswith("hit"), 60,
             "the search")
    browser.save_screenshot(os.path.join(out_dir, "compare-large.png"))


def merge_shot(box, browser, out_dir):
    """The merge page in the light and the dark scheme, and its list of keys."""
    base = SETTINGS
    mine = edited(base, [("workers = 4", "workers = 8"), ("log_level = info", "log_level = warn"),
                         ("idle_seconds = 600", "idle_seconds = 900")])
    theirs = edited(base, [("workers = 4", "workers = 6"), ("retries = 3", "retries = 5"),
                           ("idle_seconds = 600", "idle_seconds = 300")])
    for name, text in (("base.ini", base), ("mine.ini", mine), ("theirs.ini", theirs)):
        box.write(name, text)
    child = box.start_trelmerge(["-base", "base.ini", "mine.ini", "theirs.ini", "-out",
                                 "merged.ini", "-fname", "base.ini", "-fname", "mine.ini",
                                 "-fname", "theirs.ini"])
    url = page_url(wait_for(lambda: recorded_urls(box.root), 60, "the merge page")[0])
    browser.set_window_size(1200, 820)
    for scheme, shot in (("light", "merge-page.png"), ("dark", "merge-page-dark.png")):
        emulate_colour_scheme(browser, scheme)
        browser.get(url)
        wait_for(lambda: browser.find_element("id", "remaining").text, 10, "the page's script")
        # The first conflict taken from the left; the second is the current one.
        ActionChains(browser).send_keys("1n").perform()
        browser.execute_script("document.querySelector('#result .cm-scroller').scrollTop = 0")
        browser.save_screenshot(os.path.join(out_dir, shot))
    emulate_colour_scheme(browser, "light")
    browser.get(url)
    wait_for(lambda: browser.find_element("id", "remaining").text, 10, "the page's script")
    ActionChains(browser).send_keys("?").perform()
    browser.save_screenshot(os.path.join(out_dir, "merge-page-keys.png"))
    ActionChains(browser).send_keys(Keys.ESCAPE).perform()
    browser.find_element("id", "cancel").click()
    child.wait(timeout=30)


def main():
    out_dir = os.path.abspath(sys.argv[1] if len(sys.argv) > 1 else "docs")
    box = Sandbox()
    box.env.update(recorder_env(box.root))
    browser = None
    try:
        browser = start_chromium(box.root, 1200, 700)
        compare_shots(box, browser, out_dir)
        merge_shot(box, browser, out_dir)
    finally:
        if browser:
            browser.quit()
        box.close()


if __name__ == "__main__":
    main()
