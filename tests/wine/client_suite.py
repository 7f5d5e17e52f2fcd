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


def merge_page(s):
    """The merge page of the Windows client, in Linux's headless Chromium."""
    try:
        from varnex_browser import HAVE_SELENIUM, CHROMIUM, CHROMEDRIVER, start_chromium
        from selenium.webdriver.common.by import By
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
    s.write("page-out.txt", "before\n")
    child = s.start_trelmerge(["-base", "base.txt", "mine.txt", "theirs.txt", "-out",
                               "page-out.txt", "-fname", "Base", "-fname", "Mine",
                               "-fname", "Theirs"])
    browser = None
    try:
        opened = wait_for(lambda: read_records(record), 90)
        launcher = linux_path(opened[2]) if len(opened) == 3 else ""
        check("the merge page's launcher was handed to the browser from the work directory",
              os.path.dirname(launcher) == os.path.join(s.work_dir, "merge"), repr(opened))
        text = open(launcher).read() if os.path.isfile(launcher) else ""
        found = re.search(r'content="0;url=(http://127\.0\.0\.1:\d+/[0-9a-f]+/)"', text)
        check("the launcher leads to the page on 127.0.0.1 under its token", found, text)
        if not found:
            return
        url = found.group(1)
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
        browser.get(url)
        conflict = browser.find_element(By.ID, "conflict-1")
        check("the page shows the conflict with the display names",
              [h.text for h in conflict.find_elements(By.TAG_NAME, "h3")]
              == ["Left: Mine", "Base: Base", "Right: Theirs"])
        conflict.find_element(By.CSS_SELECTOR, "button[data-take=right]").click()
        browser.find_element(By.ID, "save").click()
        try:
            status = child.wait(timeout=60)
        except subprocess.TimeoutExpired:
            status = "still running"
        check("saving on the page ends trelmerge.exe with 0 (got %s)" % status, status == 0,
              s.log())
        check("the output holds the side taken on the page",
              s.read("page-out.txt") == THEIRS.encode(),
              repr(s.read("page-out.txt")))
        check("the launcher is removed when the merge ends", not os.path.exists(launcher))

        # A page that stops reporting (its tab closed) ends the merge with -1, untouched.
        os.remove(record)  # record_argv does not replace a record on Windows
        child = s.start_trelmerge(["-base", "base.txt", "mine.txt", "theirs.txt", "-out",
                                   "page-out.txt"])
        opened = wait_for(lambda: read_records(record), 90)
        text = open(linux_path(opened[2])).read() if len(opened) == 3 else ""
        found = re.search(r'content="0;url=(http://[^"]+)"', text)
        if found:
            first = browser.current_window_handle
            browser.switch_to.new_window("tab")
            browser.get(found.group(1))
            browser.close()
            browser.switch_to.window(first)
        closed = time.monotonic()
        try:
            status = child.wait(timeout=60)
        except subprocess.TimeoutExpired:
            status = "still running"
        check("a closed page ends trelmerge.exe with -1 within the heartbeat's limit "
              "(%s after %.0f s)" % (status, time.monotonic() - closed),
              found and status == FAILED and time.monotonic() - closed < 20, s.log())
        check("the output was left as it was", s.read("page-out.txt") == THEIRS.encode())
    finally:
        if browser is not None:
            browser.quit()
        if child.poll() is None:
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
