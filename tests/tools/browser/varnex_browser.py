"""Test support for the browser tests: a private product tree with its own temporary and
pipe directories, the front end run from it, and headless Chromium driven by Selenium."""

import os
import pwd
import shutil
import signal
import subprocess
import tempfile
import time
import unittest

BIN_DIR = os.environ.get("VARNEX_BUILD_BIN_DIR", "")
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
CHROMEDRIVER = shutil.which("chromedriver") or "/usr/bin/chromedriver"

try:
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service
    HAVE_SELENIUM = True
except ImportError:
    HAVE_SELENIUM = False


def require_browser(case):
    """Skips with a clear line where Selenium or Chromium is missing."""
    if not HAVE_SELENIUM:
        case.skipTest("python3-selenium is not installed")
    for program in (CHROMIUM, CHROMEDRIVER):
        if not os.access(program, os.X_OK):
            case.skipTest(program + " is not installed")


def wait_for(cond, deadline, what):
    end = time.monotonic() + deadline
    while True:
        value = cond()
        if value:
            return value
        if time.monotonic() >= end:
            raise AssertionError("timed out after %ss waiting for %s" % (deadline, what))
        time.sleep(0.05)


class Sandbox:
    """Everything a test runs lives under one temporary root and ends with it."""

    def __init__(self, env=None):
        base = os.environ.get("VARNEX_TEST_ROOT") or "/tmp"
        self.root = tempfile.mkdtemp(prefix="varnex-browser-", dir=base)
        for sub in ("tmp", "pipes", "product", "files"):
            os.mkdir(os.path.join(self.root, sub), 0o700)
        self.files = os.path.join(self.root, "files")
        self.product = os.path.join(self.root, "product")
        self.env = dict(os.environ)
        self.env.update({
            "TMPDIR": os.path.join(self.root, "tmp"),
            "VARNEX_PIPE_DIR": os.path.join(self.root, "pipes"),
            "VARNEX_CONNECT_PAUSE_MS": "20",
            "HOME": self.root,
            "DISPLAY": "",
            "WAYLAND_DISPLAY": "",
        })
        self.env.update(env or {})
        for program, place in (("trelmerge", "bin"), ("zorv_service", "bin"),
                               ("trelmergeutf8", "bin"), ("zorvexplorer", "ZorvHome")):
            os.makedirs(os.path.join(self.product, place), exist_ok=True)
            dest = os.path.join(self.product, place, program)
            shutil.copy2(os.path.join(BIN_DIR, program), dest)
        self.children = []

    def close(self):
        for child in self.children:
            if child.poll() is None:
                child.kill()
                child.wait()
        self.kill_product_processes()
        if not os.environ.get("VARNEX_KEEP_TEST_ROOT"):
            shutil.rmtree(self.root, ignore_errors=True)

    def product_pids(self, under=""):
        """Every process whose executable lies in this product tree (under a folder of it)."""
        prefix = os.path.join(os.path.realpath(self.product), under, "")
        pids = []
        for pid in filter(str.isdigit, os.listdir("/proc")):
            try:
                exe = os.readlink("/proc/%s/exe" % pid)
            except OSError:
                continue
            if exe.startswith(prefix):
                pids.append(int(pid))
        return pids

    def kill_product_processes(self):
        # By pid, never by name.
        for pid in self.product_pids():
            try:
                os.kill(pid, signal.SIGKILL)
            except ProcessLookupError:
                pass

    def user_work_dir(self):
        login = pwd.getpwuid(os.geteuid()).pw_name
        return os.path.join(self.root, "tmp", login + ".trelmerge")

    def client_log(self):
        try:
            with open(os.path.join(self.user_work_dir(), "zorvexplorer.log")) as f:
                return f.read()
        except OSError:
            return ""

    def write(self, name, data):
        with open(os.path.join(self.files, name), "wb") as f:
            f.write(data.encode() if isinstance(data, str) else data)
        return name

    def read(self, name):
        with open(os.path.join(self.files, name), "rb") as f:
            return f.read()

    def trelmerge_argv(self, args):
        return [os.path.join(self.product, "bin", "trelmerge")] + list(args)

    def trelmerge(self, args, timeout=60):
        return subprocess.run(self.trelmerge_argv(args), cwd=self.files, env=self.env,
                              stdin=subprocess.DEVNULL, capture_output=True, timeout=timeout)

    def start_trelmerge(self, args):
        child = subprocess.Popen(self.trelmerge_argv(args), cwd=self.files, env=self.env,
                                 stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                 stderr=subprocess.PIPE)
        self.children.append(child)
        return child

    def compare_page(self, args):
        """Runs a compare and returns the path of the page the client wrote."""
        before = self.client_log().count("true: page ")
        result = self.trelmerge(args)
        if result.returncode != 0:
            raise AssertionError("compare failed: %r\n%s" % (result, self.client_log()))
        log = self.client_log()
        pages = [line.split("true: page ", 1)[1] for line in log.splitlines()
                 if "true: page " in line]
        if len(pages) <= before:
            raise AssertionError("no page in the client log:\n" + log)
        return pages[-1]


def relative_luminance(colour):
    """Of a CSS colour as computed styles give it: "rgb(r, g, b)" or "rgba(r, g, b, a)"."""
    values = colour[colour.index("(") + 1:colour.index(")")].split(",")
    channels = []
    for v in values[:3]:
        c = float(v) / 255
        channels.append(c / 12.92 if c <= 0.03928 else ((c + 0.055) / 1.055) ** 2.4)
    return 0.2126 * channels[0] + 0.7152 * channels[1] + 0.0722 * channels[2]


def contrast_ratio(foreground, background):
    """The contrast of two computed colours, from 1 to 21 (text wants at least 4.5)."""
    a, b = relative_luminance(foreground), relative_luminance(background)
    return (max(a, b) + 0.05) / (min(a, b) + 0.05)


# For each element matching a selector: its text colour and the first background colour
# that is not transparent on the way up from it.
COLOURS_SCRIPT = """
const out = [];
for (const e of document.querySelectorAll(arguments[0])) {
  let node = e, back = 'rgba(0, 0, 0, 0)';
  while (node && node.nodeType === 1) {
    const b = getComputedStyle(node).backgroundColor;
    if (b !== 'rgba(0, 0, 0, 0)' && b !== 'transparent') { back = b; break; }
    node = node.parentElement;
  }
  out.push([getComputedStyle(e).color, back]);
}
return out;
"""


def colours_of(browser, selector):
    """[(text colour, background colour)] of the elements that match selector."""
    return browser.execute_script(COLOURS_SCRIPT, selector)


def emulate_colour_scheme(browser, scheme):
    """Makes the page see prefers-color-scheme as scheme ("light" or "dark")."""
    browser.execute_cdp_cmd("Emulation.setEmulatedMedia", {
        "features": [{"name": "prefers-color-scheme", "value": scheme}]})


def start_chromium(root, width=1280, height=900):
    options = webdriver.ChromeOptions()
    options.binary_location = CHROMIUM
    for arg in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                "--disable-background-networking", "--disable-component-update",
                "--disable-sync", "--user-data-dir=" + os.path.join(root, "chromium-profile"),
                "--window-size=%d,%d" % (width, height)):
        options.add_argument(arg)
    service = Service(executable_path=CHROMEDRIVER, log_path=os.path.join(root, "chromedriver.log"))
    return webdriver.Chrome(service=service, options=options)


class BrowserTest(unittest.TestCase):
    """A sandbox and a browser for each test."""

    sandbox_env = None

    def setUp(self):
        require_browser(self)
        if not BIN_DIR:
            self.skipTest("VARNEX_BUILD_BIN_DIR is not set")
        self.box = Sandbox(self.sandbox_env)
        self.addCleanup(self.box.close)
        self.browser = start_chromium(self.box.root)
        self.addCleanup(self.browser.quit)


# ---- colours as the browser computes them

_CONTRAST_SCRIPT = r"""
const parse = s => {
  const m = s.match(/rgba?\(([^)]+)\)/);
  if (!m) return [0, 0, 0, 0];
  const v = m[1].split(/[ ,\/]+/).filter(Boolean).map(Number);
  return [v[0], v[1], v[2], v.length > 3 ? v[3] : 1];
};
const over = (top, below) => [0, 1, 2].map(i => top[i] * top[3] + below[i] * (1 - top[3]))
    .concat([1]);
// What stands behind el: its own and its ancestors' backgrounds, blended on the canvas.
const background = el => {
  const layers = [];
  for (let e = el; e; e = e.parentElement) {
    const c = parse(getComputedStyle(e).backgroundColor);
    if (c[3] > 0) layers.push(c);
    if (c[3] >= 1) break;
  }
  const dark = matchMedia('(prefers-color-scheme: dark)').matches;
  let result = dark ? [18, 18, 18, 1] : [255, 255, 255, 1];
  for (const c of layers.reverse()) result = over(c, result);
  return result;
};
const luminance = c => {
  const [r, g, b] = c.slice(0, 3).map(v => {
    v /= 255;
    return v <= 0.03928 ? v / 12.92 : Math.pow((v + 0.055) / 1.055, 2.4);
  });
  return 0.2126 * r + 0.7152 * g + 0.0722 * b;
};
const out = [];
for (const selector of arguments[0]) {
  for (const el of [...document.querySelectorAll(selector)].slice(0, 40)) {
    const text = el.textContent.trim();
    const box = el.getBoundingClientRect();
    if (!text || box.width === 0 || box.height === 0) continue;
    const bg = background(el);
    const fg = over(parse(getComputedStyle(el).color), bg);
    const [a, b] = [luminance(fg), luminance(bg)].sort((x, y) => y - x);
    out.push([selector, text.slice(0, 30), Math.round((a + 0.05) / (b + 0.05) * 100) / 100]);
  }
}
return out;
"""


def contrast_ratios(driver, selectors):
    """(selector, text, contrast ratio of its colour against what stands behind it) for each
    visible element with text that the selectors find (up to 40 each)."""
    return [tuple(r) for r in driver.execute_script(_CONTRAST_SCRIPT, list(selectors))]
