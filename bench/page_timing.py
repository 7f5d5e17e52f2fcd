"""Opens compare pages in headless Chromium and prints, per page, the milliseconds from the
page being opened to its first change drawn, and to the answer to n:
    python3 page_timing.py PAGE...  ->  one line per page: "<ready ms> <n ms>" or "- -"."""

import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "tools", "browser"))
from varnex_browser import start_chromium  # noqa: E402

WAIT = """
const done = arguments[0];
function measure() {
  const ready = +document.body.dataset.readyAt;
  const t0 = performance.now();
  document.dispatchEvent(new KeyboardEvent('keydown', {key: 'n'}));
  requestAnimationFrame(() => {
    const current = document.querySelector('tr.current');
    done([ready, performance.now() - t0, current ? current.id : '']);
  });
}
if (document.body.dataset.ready) measure();
else document.addEventListener('compare-ready', measure);
"""


def main(pages):
    root = tempfile.mkdtemp(prefix="page-timing-")
    browser = start_chromium(root)
    browser.set_script_timeout(120)
    try:
        # The first page a fresh browser opens pays for its start: open one before timing.
        if pages:
            browser.get("file://" + pages[0])
            browser.execute_async_script(WAIT)
        for page in pages:
            try:
                browser.get("file://" + page)
                ready, answer, current = browser.execute_async_script(WAIT)
                ok = current == "change-1"
                print("%.0f %.0f" % (ready, answer) if ok else "- -", flush=True)
            except Exception as e:  # a page that fails is reported, the rest still run
                print("- -  # %s" % str(e).splitlines()[0], flush=True)
    finally:
        browser.quit()


if __name__ == "__main__":
    main(sys.argv[1:])
