"""orvane-capture-sensors run as the host runs it: on a private X display with a window
manager, a private session bus and the accessibility bus, GTK 3 fixture applications in front,
clicks from xdotool, and one real browser."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "harness"))
from atspi import AccessibilityBus, GtkFixture, available, unreachable_env  # noqa: E402
import schemas  # noqa: E402
from xenv import XServer  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL = programs(1)[0]
CHROMIUM = shutil.which("chromium")
TIMEOUT = 30  # generous: the machine is shared and GTK or Chromium may start slowly


class Tool:
    """One running tool; its standard output collected line by line as it comes."""

    def __init__(self, env, *args):
        self.proc = subprocess.Popen([TOOL, "--poll-ms", "100"] + list(args), env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lines = []
        self.seen = 0  # lines already handed out by next()
        self.cond = threading.Condition()
        self.err = b""
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()
        self.err_reader = threading.Thread(target=self._read_err, daemon=True)
        self.err_reader.start()

    def _read(self):
        for raw in iter(self.proc.stdout.readline, b""):
            with self.cond:
                self.lines.append(raw)
                self.cond.notify_all()

    def _read_err(self):
        for raw in iter(self.proc.stderr.readline, b""):
            with self.cond:
                self.err += raw
                self.cond.notify_all()

    def wait_err(self, text, timeout=TIMEOUT):
        """Waits until standard error holds `text` (the click tap's message comes after the
        first lines, and a stop before it would end the tool without it)."""
        deadline = time.time() + timeout
        with self.cond:
            while text not in self.err:
                if not self.cond.wait(max(0, deadline - time.time())):
                    raise AssertionError("no %r on standard error within %ss" % (text, timeout))

    def next(self, predicate=lambda line: True, timeout=TIMEOUT):
        """The next line (bytes) after those handed out so far that satisfies `predicate` on
        its parsed form; the lines before it are passed over. Fails after `timeout`."""
        deadline = time.time() + timeout
        with self.cond:
            while True:
                while self.seen < len(self.lines):
                    raw = self.lines[self.seen]
                    self.seen += 1
                    if predicate(schemas.loads("capture-sensors-line", raw)):
                        return raw
                if not self.cond.wait(max(0, deadline - time.time())):
                    raise AssertionError("no such line within %ss; lines: %r"
                                         % (timeout, self.lines))

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        rc = self.proc.wait(10)
        self.reader.join(5)
        self.err_reader.join(5)
        err = self.err
        self.proc.stdout.close()
        self.proc.stderr.close()
        for raw in self.lines:
            schemas.loads("capture-sensors-line", raw)
        return rc, err


def rss_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmRSS:"):
                return int(line.split()[1])
    raise AssertionError("no VmRSS for %d" % pid)


def of_type(kind, **fields):
    return lambda line: line["type"] == kind and all(line.get(k) == v for k, v in fields.items())


def expected(template, line):
    """The exact bytes of a line whose "atUnixMs" is that of `line` (bytes)."""
    return (template % json.loads(line)["atUnixMs"]).encode() + b"\n"


def window_line(app, bundle, title=None):
    t = ',"title":%s' % json.dumps(title).replace("/", "\\/") if title is not None else ""
    return ('{"action":"focused","app":"%s","atUnixMs":%%d,"bundleId":"%s"%s,"type":"window"}'
            % (app, bundle, t))


@unittest.skipUnless(available(), "no dbus-daemon or AT-SPI bus launcher")
class WithAccessibility(unittest.TestCase):
    def setUp(self):
        self.x = XServer(width=1280, height=800, wm=True)
        self.x.start()
        self.bus = AccessibilityBus(self.x.env())
        self.bus.start()
        self.apps = []
        self.tools = []

    def tearDown(self):
        for tool in self.tools:
            if tool.proc.poll() is None:
                tool.stop(signal.SIGKILL)
        for app in self.apps:
            app.close()
        self.bus.stop()
        self.x.stop()

    def app(self, **options):
        app = GtkFixture(self.bus.env(), **options)
        self.apps.append(app)
        self.x.wait_viewable(app.window)
        return app

    def tool(self, *args, env=None):
        tool = Tool(env or self.bus.env(), *args)
        self.tools.append(tool)
        return tool

    def test_window_click_and_element_lines_then_sigterm(self):
        app = self.app(title="Editor", button="Save", password=True)
        tool = self.tool()
        line = tool.next(of_type("window", title="Editor"))
        self.assertEqual(line, expected(window_line("Gtk_fixture", "gtk_fixture", "Editor"), line))

        app.send("title Notes/Draft")
        line = tool.next(of_type("window"))
        self.assertEqual(line, expected(window_line("Gtk_fixture", "gtk_fixture", "Notes/Draft"),
                                        line))

        # A left click on the button: press, the button under it, release.
        bx, by, bw, bh = app.where("button")
        cx, cy = bx + bw // 2, by + bh // 2
        self.x.run("xdotool", "mousemove", str(cx), str(cy), "click", "1")
        click = tool.next(lambda line: line["type"] != "window")
        self.assertEqual(click, expected(
            '{"app":"Gtk_fixture","atUnixMs":%%d,"button":"left","type":"click",'
            '"xGlobal":%d,"yGlobal":%d}' % (cx, cy), click))
        # The release's line waits for the press's element line.
        element, up = (tool.next(lambda line: line["type"] != "window") for _ in range(2))
        self.assertEqual(element, expected(
            '{"app":"Gtk_fixture","atUnixMs":%%d,"hGlobal":%d,"label":"Save","role":"AXButton",'
            '"type":"ax-element","wGlobal":%d,"xGlobal":%d,"yGlobal":%d}' % (bh, bw, bx, by),
            element))
        self.assertEqual(json.loads(up)["type"], "clickUp")
        self.assertEqual(json.loads(up)["button"], "left")

        # Scrolling is never a click: the next line after the wheel is the middle press.
        self.x.run("xdotool", "click", "4", "click", "5", "click", "6", "click", "7")
        # Each press waits for the release line of the one before: a press that comes while
        # the one before is still looked up ends that lookup without its element line.
        px, py = app.center("password")
        self.x.run("xdotool", "mousemove", str(px), str(py), "click", "2")
        other = json.loads(tool.next(lambda line: line["type"] != "window"))
        self.assertEqual((other["type"], other["button"], other["xGlobal"], other["yGlobal"]),
                         ("click", "other", px, py))
        kinds = [(json.loads(tool.next(lambda line: line["type"] == "clickUp"))["button"])]
        self.x.run("xdotool", "click", "3")
        kinds += [(line["type"], line["button"]) for line in
                  (json.loads(tool.next(lambda line: line["type"] in ("click", "clickUp")))
                   for _ in range(2))]
        self.assertEqual(kinds, ["other", ("click", "right"), ("clickUp", "right")])
        # A password entry is a text field; its own name labels it.
        elements = [json.loads(line) for line in tool.lines
                    if json.loads(line)["type"] == "ax-element"]
        deadline = time.time() + TIMEOUT
        while len(elements) < 3 and time.time() < deadline:
            time.sleep(0.05)
            elements = [json.loads(line) for line in tool.lines
                        if json.loads(line)["type"] == "ax-element"]
        self.assertEqual([(e.get("role"), e.get("label")) for e in elements[1:]],
                         [("AXTextField", "Password")] * 2)

        rc, err = tool.stop(signal.SIGTERM)
        self.assertEqual(rc, 0)
        self.assertEqual(err, b"")

    def test_browser_address_from_its_address_bar(self):
        self.app(title="Example", wm_class="chromium,Chromium", address="example.org/path")
        tool = self.tool()
        window = tool.next(of_type("window"))
        self.assertEqual(window, expected(window_line("Chromium", "chromium", "Example"), window))
        url = tool.next(of_type("url"))
        self.assertEqual(url, expected(
            '{"app":"Chromium","atUnixMs":%d,"title":"Example","type":"url",'
            '"url":"https:\\/\\/example.org\\/path"}', url))
        rc, _ = tool.stop(signal.SIGINT)
        self.assertEqual(rc, 0)

    def test_a_host_that_stops_reading_costs_lines_not_memory(self):
        app = self.app(title="Start")
        proc = subprocess.Popen([TOOL, "--poll-ms", "5"], env=self.bus.env(),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            first = proc.stdout.readline()
            self.assertEqual(json.loads(first)["title"], "Start")
            time.sleep(0.5)
            before = rss_kib(proc.pid)
            # The host reads nothing more while the title changes on and on: each change is a
            # line of about 64 KiB, far more than a pipe holds.
            sent = 0
            deadline = time.time() + 8
            while time.time() < deadline:
                app.send("title %d %s" % (sent, "x" * 65536))
                sent += 1
            time.sleep(0.5)
            grown = rss_kib(proc.pid) - before
            sys.stderr.write("\n  %d titles of 64 KiB unread; memory grew by %d KiB\n"
                             % (sent, grown))
            self.assertGreater(sent * 64, 24 * 1024, "too few titles to fill any queue")
            # What is queued for the host is bounded (4 MiB); a tool that kept the unread lines,
            # or the accessibility events of each change, would hold far more.
            self.assertLess(grown, 12 * 1024, "memory grew by %d KiB" % grown)
            # The host reads again: what was kept, then the lines of later changes.
            reader = threading.Thread(target=lambda: [None for _ in iter(proc.stdout.readline, b"")],
                                      daemon=True)
            reader.start()
            time.sleep(0.5)
            app.send("title after")
            # SIGTERM ends it at once, whatever is queued.
            time.sleep(0.5)
            began = time.time()
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(10), 0)
            self.assertLess(time.time() - began, 2)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()

    def test_sigterm_ends_a_tool_whose_host_stopped_reading(self):
        app = self.app(title="Start")
        proc = subprocess.Popen([TOOL, "--poll-ms", "5"], env=self.bus.env(),
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            proc.stdout.readline()
            for i in range(40):
                app.send("title %d %s" % (i, "y" * 65536))
            began = time.time()
            proc.send_signal(signal.SIGTERM)
            self.assertEqual(proc.wait(10), 0)
            self.assertLess(time.time() - began, 2)
        finally:
            if proc.poll() is None:
                proc.kill()
                proc.wait()
            proc.stdout.close()

    def test_click_and_window_lines_with_an_application_that_does_not_answer(self):
        other = self.app(title="Other", geometry="300x200+900+500")
        app = self.app(title="Frozen", button="Save", geometry="600x400+40+40")
        self.x.run("xdotool", "windowactivate", "--sync", str(app.window))
        tool = self.tool()
        tool.next(of_type("window", title="Frozen"))
        wx, wy, ww, wh = app.where("window")
        os.kill(app.pid, signal.SIGSTOP)
        try:
            lags = []
            for i in range(10):
                x, y = wx + 20 + 50 * i, wy + 40 + 30 * (i % 5)
                self.x.run("xdotool", "mousemove", str(x), str(y))
                before = int(time.time() * 1000)
                self.x.run("xdotool", "click", "1")
                click = json.loads(tool.next(of_type("click")))
                lags.append(click["atUnixMs"] - before)
                self.assertEqual((click["xGlobal"], click["yGlobal"], click["app"]),
                                 (x, y, "Gtk_fixture"))
                # The release's line follows its press's, whose element line never comes.
                up = json.loads(tool.next(lambda line: line["type"] != "window"))
                self.assertEqual((up["type"], up["xGlobal"], up["yGlobal"]), ("clickUp", x, y))
                if i == 1:
                    # Another application in front: its window line comes within a few
                    # intervals, and none comes for the one that does not answer.
                    began = time.time()
                    self.x.run("xdotool", "windowactivate", str(other.window))
                    line = json.loads(tool.next(of_type("window")))
                    lag = time.time() - began
                    self.assertEqual(line.get("title"), "Other")
                    self.assertLess(lag, 0.8)  # generous: the goal is 1.5 intervals (0.15 s)
                time.sleep(0.3)
            sys.stderr.write("\n  press -> click line with the application stopped, ms: %s; "
                             "activation -> window line: %.2f s\n"
                             % (" ".join(str(v) for v in lags), lag))
            # Generous: the goal is 50 ms; an application that does not answer costs 800 ms a call.
            self.assertLess(max(lags), 500, lags)
            rc, _ = tool.stop()
            self.assertEqual(rc, 0)
        finally:
            os.kill(app.pid, signal.SIGCONT)

    def test_a_huge_tree_holds_up_no_window_line(self):
        huge = self.app(title="Huge", widgets=10000, geometry="1200x700+0+0", timeout=300)
        other = self.app(title="Other", geometry="300x200+900+500")
        tool = self.tool("--poll-ms", "500")
        # GTK may be too busy with so many widgets to tell its title in time.
        not_other = lambda line: line["type"] == "window" and line.get("title") != "Other"
        self.x.run("xdotool", "windowactivate", str(huge.window))
        tool.next(not_other)
        lags = []
        for round_ in range(3):
            # A press in the middle of the grid, then at once the other application in front.
            self.x.run("xdotool", "mousemove", "600", "400", "click", "1")
            tool.next(of_type("click"))
            # From the moment the window manager has made it active: what the window manager
            # takes on a loaded machine is not the tool's.
            self.x.run("xdotool", "windowactivate", "--sync", str(other.window))
            before = time.time()
            tool.next(of_type("window", title="Other"))
            lags.append(time.time() - before)
            self.x.run("xdotool", "windowactivate", str(huge.window))
            tool.next(not_other)
        sys.stderr.write("\n  press on 10,000 widgets, then another application in front -> "
                         "its window line, s: %s\n" % " ".join("%.2f" % v for v in lags))
        # Generous: the goal is 1.5 intervals (0.75 s).
        self.assertLess(max(lags), 1.25, lags)

    def test_ignored_process_in_front(self):
        self.app(title="Behind", geometry="300x200+600+300")
        self.app(title="Front", geometry="300x200+40+40", wm_class="recorder,Recorder")
        front_pid = self.apps[-1].pid
        tool = self.tool("--ignore-pid", str(front_pid))
        line = tool.next(of_type("window"))
        self.assertEqual(json.loads(line)["title"], "Behind")


@unittest.skipUnless(available(), "no dbus-daemon or AT-SPI bus launcher")
class WithoutAccessibility(unittest.TestCase):
    def test_window_lines_without_the_accessibility_bus(self):
        with XServer(width=1024, height=768, wm=True) as x:
            for label, make_env in (("no accessibility bus", None),
                                    ("no session bus", unreachable_env)):
                with self.subTest(label), AccessibilityBus(x.env(), accessibility=False) as bus:
                    env = make_env(x.env()) if make_env else bus.env()
                    app = GtkFixture(bus.env(), title="Plain")
                    try:
                        x.wait_viewable(app.window)
                        tool = Tool(env)
                        # The title is the window server's.
                        line = tool.next(of_type("window"))
                        self.assertEqual(line, expected(
                            window_line("Gtk_fixture", "gtk_fixture", "Plain"), line))
                        rc, err = tool.stop()
                        self.assertEqual(rc, 0)
                        self.assertEqual(err, b"")
                    finally:
                        app.close()


@unittest.skipUnless(available(), "no dbus-daemon or AT-SPI bus launcher")
class RealBrowser(unittest.TestCase):
    def test_chromium_page_address(self):
        self.assertIsNotNone(CHROMIUM, "chromium is one of the project's dependencies")
        profile = tempfile.mkdtemp(prefix="orvane-chromium-")
        page = os.path.join(profile, "page.html")
        with open(page, "w") as f:
            f.write("<!doctype html><title>Orvane page</title><p>Hello</p>")
        with XServer(width=1280, height=800, wm=True) as x, AccessibilityBus(x.env()) as bus:
            # Chromium joins the accessibility bus only when accessibility is on for the
            # session when it starts, as a screen reader would have it.
            bus.call("--dest=org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set",
                     "string:org.a11y.Status", "string:IsEnabled", "variant:boolean:true",
                     check=True)
            browser = subprocess.Popen(
                [CHROMIUM, "--no-sandbox", "--user-data-dir=" + profile, "--no-first-run",
                 "--no-default-browser-check", "--disable-gpu", "--force-renderer-accessibility",
                 "--disable-features=Translate", "--window-position=0,0",
                 "--window-size=1000,700", "file://" + page],
                env=bus.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            tool = None
            try:
                tool = Tool(bus.env())
                # Before the page has loaded the address bar may answer first: with the same
                # address, so that one line is all there is.
                url = tool.next(of_type("url"), timeout=90)
                self.assertEqual(json.loads(url)["url"], "file://" + page)
                self.assertEqual(json.loads(url)["app"], "Chromium")
                # The page's title may have come before its address (a tick prints the window
                # line first) or come later.
                tool.seen = 0
                tool.next(of_type("window", title="Orvane page - Chromium"), timeout=30)
                time.sleep(1)
                self.assertEqual([l for l in tool.lines if json.loads(l)["type"] == "url"], [url])
                rc, _ = tool.stop()
                self.assertEqual(rc, 0)
            finally:
                if tool and tool.proc.poll() is None:
                    tool.stop(signal.SIGKILL)
                browser.terminate()
                try:
                    browser.wait(10)
                except subprocess.TimeoutExpired:
                    browser.kill()
                    browser.wait()
                shutil.rmtree(profile, ignore_errors=True)


if __name__ == "__main__":
    main(1)
