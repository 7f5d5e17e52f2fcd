"""The Windows zip as a user gets it, under wine, with the real client: compares, merges,
encodings, outputs that must be refused, and the merge page served by the Windows client and
driven from Linux by headless Chromium (wine shares 127.0.0.1 with Linux).

    python3 tests/wine/client_suite.py ZIP RECORD_ARGV_EXE

ZIP is the product zip of a cross build (its programs' machine picks wine or wine64);
RECORD_ARGV_EXE (tests/helpers) stands in for the browser. Each check prints "ok" or
"FAIL" and the last line counts them ("wine-client: N passed, N failed"). Every run has a
deadline; the service and the client end by pid.

Environment: VARNEX_WINE (the loader), VARNEX_WINEPREFIX (reuse a prefix; its TEMP is
pointed into the suite's folder), VARNEX_KEEP=1 keeps the suite's folder.
"""

import glob
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile
import time
import urllib.parse
import zipfile
import http.client

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tools", "browser"))

FAILED = 255  # -1 as Linux sees it
BASE = "alpha\nbeta\ngamma\ndelta\nepsilon\n"
MINE = "ALPHA mine\nbeta\ngamma\ndelta\nepsilon\n"
YOURS = "alpha\nbeta\ngamma\ndelta\nEPSILON yours\n"
CLEAN = "ALPHA mine\nbeta\ngamma\ndelta\nEPSILON yours\n"
THEIRS = "alpha theirs\nbeta\ngamma\ndelta\nepsilon\n"  # conflicts with MINE

checks = {"passed": 0, "failed": 0}


def check(name, ok, detail=""):
    checks["passed" if ok else "failed"] += 1
    print(("ok   " if ok else "FAIL ") + name)
    if not ok and detail:
        print("     " + detail.replace("\n", "\n     "))


def winpath(path):
    return "Z:" + path.replace("/", "\\")


def linux_path(windows):
    """A Z: path back as Linux sees it."""
    assert windows[:2].upper() == "Z:", windows
    return windows[2:].replace("\\", "/")


def is_64_bit(exe):
    with open(exe, "rb") as f:
        data = f.read(4096)
    offset = struct.unpack_from("<I", data, 60)[0]
    return struct.unpack_from("<H", data, offset + 4)[0] == 0x8664


def read_records(path):
    """The records of record_argv: its folder, then its argv."""
    try:
        with open(path, "rb") as f:
            data = f.read()
    except OSError:
        return []
    out = []
    while data:
        length, _, rest = data.partition(b":")
        n = int(length)
        out.append(rest[:n].decode("latin-1"))
        data = rest[n + 1:]
    return out


def wait_for(cond, deadline):
    end = time.monotonic() + deadline
    while True:
        value = cond()
        if value or time.monotonic() >= end:
            return value
        time.sleep(0.1)


class Suite:
    def __init__(self, zip_path, recorder):
        self.root = tempfile.mkdtemp(prefix="varnex-wine-client-", dir="/tmp")
        with zipfile.ZipFile(zip_path) as z:
            z.extractall(os.path.join(self.root, "unpacked"))
        (top,) = glob.glob(os.path.join(self.root, "unpacked", "varnex-*"))
        self.product = top
        for exe in glob.glob(os.path.join(top, "*", "*.exe")):
            os.chmod(exe, 0o755)
        self.recorder = os.path.join(self.root, "record_argv.exe")
        shutil.copy(recorder, self.recorder)
        for sub in ("tmp", "files"):
            os.mkdir(os.path.join(self.root, sub))
        self.files = os.path.join(self.root, "files")
        trelmerge = os.path.join(top, "bin", "trelmerge.exe")
        default = (shutil.which("wine64") or "/usr/lib/wine/wine64") if is_64_bit(trelmerge) \
            else shutil.which("wine")
        self.wine = os.environ.get("VARNEX_WINE") or default
        self.wineserver = shutil.which("wineserver") or "/usr/lib/wine/wineserver"
        self.own_prefix = not os.environ.get("VARNEX_WINEPREFIX")
        self.env = dict(os.environ)
        self.env.update({
            "WINEDEBUG": "-all",
            "WINEPREFIX": os.environ.get("VARNEX_WINEPREFIX") or os.path.join(self.root, "prefix"),
            "WINEDLLOVERRIDES": "mscoree,mshtml=",
            "VARNEX_CONNECT_PAUSE_MS": "100",
            "BROWSER": winpath(self.recorder),
        })
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "ZORV_MERGE_UI", "RECORD_ARGV_FILE"):
            self.env.pop(name, None)
        self.login = subprocess.run(["id", "-un"], capture_output=True, text=True).stdout.strip()
        self.work_dir = os.path.join(self.root, "tmp", self.login + ".trelmerge")

    def wine_run(self, args, timeout=120, **kwargs):
        # Output into a file, not a pipe: the service that a run starts keeps the run's
        # streams open for as long as it lives.
        with tempfile.TemporaryFile(dir=self.root) as out:
            return subprocess.run([self.wine] + args, env=self.env, stdin=subprocess.DEVNULL,
                                  stdout=out, stderr=subprocess.STDOUT, timeout=timeout,
                                  **kwargs)

    def start(self):
        if not os.path.isdir(os.path.join(self.env["WINEPREFIX"], "drive_c")):
            self.wine_run(["wineboot", "-i"], timeout=300)
        # wine takes TEMP from the prefix's registry, not from Linux.
        for name in ("TEMP", "TMP"):
            self.wine_run(["reg", "add", "HKCU\\Environment", "/v", name, "/t", "REG_SZ",
                           "/d", winpath(os.path.join(self.root, "tmp")), "/f"])

    def trelmerge(self, args, timeout=120):
        exe = os.path.join(self.product, "bin", "trelmerge.exe")
        try:
            return self.wine_run([exe] + list(args), timeout=timeout, cwd=self.files).returncode
        except subprocess.TimeoutExpired:
            return "timed out"

    def start_trelmerge(self, args):
        exe = os.path.join(self.product, "bin", "trelmerge.exe")
        return subprocess.Popen([self.wine, exe] + list(args), env=self.env, cwd=self.files,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                stderr=subprocess.DEVNULL)

    def write(self, name, data):
        path = os.path.join(self.files, name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        if os.path.exists(path):
            os.chmod(path, 0o644)
        with open(path, "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)
        return name

    def read(self, name):
        try:
            with open(os.path.join(self.files, name), "rb") as f:
                return f.read()
        except OSError:
            return None

    def log(self, name="zorvexplorer.log"):
        try:
            with open(os.path.join(self.work_dir, name), "rb") as f:
                return f.read().decode("latin-1")
        except OSError:
            return ""

    def stop_service(self):
        """Ends the service by pid; the client ends when its wrapper pipe breaks."""
        try:
            with open(os.path.join(self.work_dir, "zorv_service.pid")) as f:
                pid = f.read().strip()
        except OSError:
            return True
        self.wine_run(["taskkill", "/F", "/PID", pid], timeout=60)
        return wait_for(lambda: "the service has gone; quitting" in self.log(), 30)

    def close(self):
        self.stop_service()
        if self.own_prefix:
            subprocess.run([self.wineserver, "-k"], env=self.env, capture_output=True)
        if os.environ.get("VARNEX_KEEP") == "1":
            print("kept " + self.root)
        else:
            shutil.rmtree(self.root, ignore_errors=True)


def utf16le(text):
    return b"\xff\xfe" + text.encode("utf-16-le")


def without_page(s):
    """Compares and merges with no merge page (ZORV_MERGE_UI=none)."""
    s.env["ZORV_MERGE_UI"] = "none"
    s.env["RECORD_ARGV_FILE"] = winpath(os.path.join(s.root, "opened-compare.rec"))
    for name, text in (("a.txt", "one\ntwo\n"), ("b.txt", "one\nTWO\n"), ("base.txt", BASE),
                       ("mine.txt", MINE), ("yours.txt", YOURS), ("theirs.txt", THEIRS)):
        s.write(name, text)

    status = s.trelmerge(["a.txt", "b.txt"])
    check("the first compare in a fresh prefix starts service and client and exits 0 (got %s)"
          % status, status == 0, s.log("zorv_service.log"))
    pages = re.findall(r"true: page (\S+)", s.log())
    page = linux_path(pages[-1]) if pages else ""
    check("the compare page was written into the work directory's compare folder",
          os.path.dirname(page) == os.path.join(s.work_dir, "compare") and os.path.isfile(page),
          s.log())
    check("the page names both files",
          page != "" and all(w in open(page, encoding="utf-8", errors="replace").read()
                             for w in ("a.txt", "b.txt")))
    opened = wait_for(lambda: read_records(os.path.join(s.root, "opened-compare.rec")), 20)
    check("the page was handed to the browser that BROWSER names",
          opened[2:] == [pages[-1]] if pages else False, repr(opened))

    rows = [
        # what, files to write, arguments, status, output name, expected output (None: absent)
        ("a clean three-way merge is written byte-exact", {},
         ["-base", "base.txt", "mine.txt", "yours.txt", "-out", "clean.txt"], 0, "clean.txt",
         CLEAN.encode()),
        ("a conflicting merge without the merge page exits -1 with markers", {},
         ["-base", "base.txt", "mine.txt", "theirs.txt", "-out", "conflict.txt"], FAILED,
         "conflict.txt", lambda out: out.count(b"<<<<<<<") == 1 and b"alpha theirs" in out),
        ("UTF-16LE with a byte-order mark merges to UTF-16LE with its mark",
         {"b16.txt": utf16le(BASE), "m16.txt": utf16le(MINE), "y16.txt": utf16le(YOURS)},
         ["-encoding", "utf-16le", "-base", "b16.txt", "m16.txt", "y16.txt", "-out", "o16.txt"],
         0, "o16.txt", utf16le(CLEAN)),
        ("an output under a folder whose name is not ASCII", {"caf\u00e9 \u00c4/keep": ""},
         ["-base", "base.txt", "mine.txt", "yours.txt", "-out", "caf\u00e9 \u00c4/m\u00fc.txt"],
         0, "caf\u00e9 \u00c4/m\u00fc.txt", CLEAN.encode()),
        ("the device NUL is refused as an output", {},
         ["-base", "base.txt", "mine.txt", "yours.txt", "-out", "NUL"], FAILED, "NUL", None),
        ("a device name with an extension is refused as an output", {},
         ["-base", "base.txt", "mine.txt", "yours.txt", "-out", "con.txt"], FAILED, "con.txt",
         None),
        ("a read-only output is refused and left as it was", {"ro.txt": "read only\n"},
         ["-base", "base.txt", "mine.txt", "yours.txt", "-out", "ro.txt"], FAILED, "ro.txt",
         b"read only\n"),
    ]
    for what, files, args, want_status, out, want in rows:
        for name, data in files.items():
            s.write(name, data)
        if out == "ro.txt":
            os.chmod(os.path.join(s.files, out), 0o444)  # wine's read-only attribute
        status = s.trelmerge(args)
        got = s.read(out)
        ok = status == want_status and (want(got) if callable(want) else got == want)
        check("%s (status %s)" % (what, status), ok,
              "output %r\n%s" % (got, s.log().splitlines()[-1:]))
    log = s.log()
    check("the log names why the device and the read-only output were refused",
          "NUL: a device name" in log and "con.txt: a device name" in log
          and "ro.txt: read-only; left untouched" in log, log)


# The merge page's merge: two conflicts, the first and the last line.
PAGE_MINE = "ALPHA mine\nbeta\ngamma\ndelta\nEPSILON mine\n"
PAGE_THEIRS = "alpha theirs\nbeta\ngamma\ndelta\nepsilon theirs\n"


def merge_page(s):
    """The merge page of the Windows client, in Linux's headless Chromium, driven by its keys
    and buttons as a person would."""
    try:
        from varnex_browser import HAVE_SELENIUM, CHROMIUM, CHROMEDRIVER, start_chromium
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys
    except ImportError:
        HAVE_SELENIUM = False
    if not HAVE_SELENIUM or not all(os.access(p, os.X_OK) for p in (CHROMIUM, CHROMEDRIVER)):
        print("skipped the merge page: no python3-selenium, chromium or chromedriver")
        return
    # The client takes its settings when the service starts it.
    check("the service and client of the first part ended", s.stop_service())
    s.env["ZORV_MERGE_UI"] = "browser"
    s.env["ZORV_MERGE_HEARTBEAT_MS"] = "5000"
    record = os.path.join(s.root, "opened-merge.rec")
    s.env["RECORD_ARGV_FILE"] = winpath(record)
    s.write("page-mine.txt", PAGE_MINE)
    s.write("page-theirs.txt", PAGE_THEIRS)
    browser = None
    child = None

    def start_merge(out):
        """Starts a merge into out; the launcher's path and the page's URL, or empty texts."""
        if os.path.exists(record):
            os.remove(record)  # record_argv does not replace a record on Windows
        s.write(out, "before\n")
        started = s.start_trelmerge(["-base", "base.txt", "page-mine.txt", "page-theirs.txt",
                                     "-out", out, "-fname", "Base", "-fname", "M\u00eene",
                                     "-fname", "Th\u00e9irs"])
        opened = wait_for(lambda: read_records(record), 90)
        launcher = linux_path(opened[2]) if len(opened) == 3 else ""
        text = open(launcher).read() if os.path.isfile(launcher) else ""
        found = re.search(r'content="0;url=(http://127\.0\.0\.1:\d+/[0-9a-f]+/)"', text)
        return started, launcher, found.group(1) if found else "", opened, text

    def ended(process):
        try:
            return process.wait(timeout=60)
        except subprocess.TimeoutExpired:
            return "still running"

    def text_of(element_id):
        return browser.find_element(By.ID, element_id).text

    def keys(*pressed, ctrl=False):
        chain = ActionChains(browser)
        if ctrl:
            chain.key_down(Keys.CONTROL)
        chain.send_keys(*pressed)
        if ctrl:
            chain.key_up(Keys.CONTROL)
        chain.perform()

    def result_lines():
        """The result's lines, without the empty one behind the last line feed."""
        lines = browser.execute_script(
            "return [...document.querySelectorAll('#result .cm-line')].map(l => l.textContent)")
        return lines[:-1] if lines and lines[-1] == "" else lines

    def open_page(url):
        browser.get(url)
        return wait_for(lambda: text_of("remaining"), 20)

    try:
        child, launcher, url, opened, text = start_merge("page-out.txt")
        check("the merge page's launcher was handed to the browser from the work directory",
              os.path.dirname(launcher) == os.path.join(s.work_dir, "merge"), repr(opened))
        check("the launcher leads to the page on 127.0.0.1 under its token", url != "", text)
        if not url:
            return
        parts = urllib.parse.urlsplit(url)

        def status(path, host):
            connection = http.client.HTTPConnection(parts.hostname, parts.port, timeout=10)
            connection.putrequest("GET", path, skip_host=True)
            connection.putheader("Host", host)
            connection.endheaders()
            code = connection.getresponse().status
            connection.close()
            return code

        for what, path, host in (("without the token", "/", parts.netloc),
                                 ("under another token", "/" + "0" * 32 + "/", parts.netloc),
                                 ("for a foreign host", parts.path, "evil.example:%d" % parts.port)):
            code = status(path, host)
            check("a request %s is refused (%s)" % (what, code), code == 403)

        browser = start_chromium(s.root)
        check("the page's script runs and counts the conflicts",
              open_page(url) == "2 of 2 conflicts left", text_of("remaining") if browser else "")
        # Display names that are not ASCII reach the client in the code page and the page
        # in UTF-8.
        headings = [h.text for h in browser.find_elements(By.CSS_SELECTOR, "div.side h3")]
        check("the page shows the sides with the display names, not ASCII ones too",
              headings == ["Left: M\u00eene", "Base: Base", "Right: Th\u00e9irs"],
              repr(headings))
        markers = [line for line in result_lines() if line.startswith(("<<<", ">>>"))]
        check("the result's conflict markers carry the display names",
              markers[:2] == ["<<<<<<< M\u00eene", ">>>>>>> Th\u00e9irs"], repr(markers))
        check("nothing is saved while a conflict is open",
              not browser.find_element(By.ID, "save").is_enabled())
        steps = [
            # keys, the conflict shown, the result's first and last two lines, what is left
            ("1", "Conflict 1 of 2", ["ALPHA mine", "beta"], "1 of 2 conflicts left"),
            ("n", "Conflict 2 of 2", ["ALPHA mine", "beta"], "1 of 2 conflicts left"),
            ("3", "Conflict 2 of 2", ["ALPHA mine", "beta", "EPSILON mine", "epsilon theirs"],
             "All 2 conflicts resolved"),
            ("p", "Conflict 1 of 2", ["ALPHA mine", "beta"], "All 2 conflicts resolved"),
            ("2", "Conflict 1 of 2", ["alpha theirs", "beta"], "All 2 conflicts resolved"),
        ]
        for pressed, title, lines, left in steps:
            keys(pressed)
            got = (text_of("conflict-title"), result_lines(), text_of("remaining"))
            check("key %s: %s, %s" % (pressed, title, left),
                  got[0] == title and got[1][:len(lines[:2])] == lines[:2]
                  and (len(lines) == 2 or got[1][-len(lines[2:]):] == lines[2:])
                  and got[2] == left, repr(got))
        browser.save_screenshot(os.path.join(s.root, "merge-page.png"))
        browser.find_element(By.ID, "save").click()
        status_code = ended(child)
        check("the Save button ends trelmerge.exe with 0 (got %s)" % status_code,
              status_code == 0, s.log())
        check("the output holds the sides taken on the page",
              s.read("page-out.txt")
              == b"alpha theirs\nbeta\ngamma\ndelta\nEPSILON mine\nepsilon theirs\n",
              repr(s.read("page-out.txt")))
        check("the page says it saved", wait_for(
            lambda: text_of("done-note").startswith("Saved "), 10), text_of("done-note"))
        check("the launcher is removed when the merge ends", not os.path.exists(launcher))

        # The base on both conflicts by keys, saved with Ctrl+S.
        child, _, url, opened, text = start_merge("page-base.txt")
        check("a second merge page opens (%s)" % url,
              url != "" and open_page(url) == "2 of 2 conflicts left", text)
        keys("0", "n", "0")
        keys("s", ctrl=True)
        status_code = ended(child)
        check("taking the base by keys and Ctrl+S end trelmerge.exe with 0 (got %s)" % status_code,
              status_code == 0 and s.read("page-base.txt") == BASE.encode(),
              repr(s.read("page-base.txt")))

        # A page that stops reporting (its tab closed) ends the merge with -1, untouched.
        child, _, url, opened, text = start_merge("page-closed.txt")
        if url:
            first = browser.current_window_handle
            browser.switch_to.new_window("tab")
            # Closed once its script has reported: a page never opened waits longer.
            open_page(url)
            browser.close()
            browser.switch_to.window(first)
        closed = time.monotonic()
        status_code = ended(child)
        check("a closed page ends trelmerge.exe with -1 within the heartbeat's limit "
              "(%s after %.0f s)" % (status_code, time.monotonic() - closed),
              url != "" and status_code == FAILED and time.monotonic() - closed < 20, s.log())
        check("the output was left as it was", s.read("page-closed.txt") == b"before\n")
    finally:
        if browser is not None:
            browser.quit()
        if child is not None and child.poll() is None:
            child.kill()
            child.wait()


def main():
    if len(sys.argv) != 3:
        print(__doc__)
        return 2
    s = Suite(sys.argv[1], sys.argv[2])
    try:
        s.start()
        probe = s.wine_run([s.recorder], timeout=60)
        if probe.returncode != 0:
            print("%s cannot run %s on this machine; skipped" % (s.wine, s.recorder))
            return 77
        without_page(s)
        merge_page(s)
    finally:
        s.close()
    print("wine-client: %d passed, %d failed" % (checks["passed"], checks["failed"]))
    return 0 if checks["failed"] == 0 else 1


if __name__ == "__main__":
    sys.exit(main())
