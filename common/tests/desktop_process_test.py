"""The X11 accessibility, workspace and event-tap backends, driven through orvane-desktop-probe
against GTK 3 fixture apps on a private X display and accessibility bus.

    desktop_process_test.py PROBE
"""

import json
import os
import select
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "harness"))
from atspi import AccessibilityBus, Chromium, GtkFixture, available, unreachable_env  # noqa: E402
from xenv import XServer  # noqa: E402
from process_main import main, programs  # noqa: E402

PROBE = programs(1)[0]

# The primary monitor sits to the right of the other one, so global points are root pixels
# moved 800 to the left.
MONITORS = [("LEFT", 800, 600, 0, 0, False), ("MAIN", 1120, 900, 800, 0, True)]
OFFSET_X = 800


class Probe:
    def __init__(self, env):
        self.proc = subprocess.Popen([PROBE], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.buffer = b""

    def line(self, timeout=20):
        deadline = time.time() + timeout
        while b"\n" not in self.buffer:
            left = deadline - time.time()
            if left <= 0 or not select.select([self.proc.stdout], [], [], left)[0]:
                raise AssertionError("the probe did not answer")
            chunk = os.read(self.proc.stdout.fileno(), 65536)
            if not chunk:
                raise AssertionError("the probe ended: %r" % self.proc.stderr.read())
            self.buffer += chunk
        line, self.buffer = self.buffer.split(b"\n", 1)
        return json.loads(line)

    def ask(self, command):
        self.proc.stdin.write((command + "\n").encode())
        self.proc.stdin.flush()
        return self.line()

    def until(self, command, predicate, timeout=20):
        """Asks again until the answer satisfies the predicate; returns the last answer."""
        deadline = time.time() + timeout
        while True:
            answer = self.ask(command)
            if predicate(answer) or time.time() > deadline:
                return answer
            time.sleep(0.1)

    def tree(self, pid):
        self.proc.stdin.write(("tree %d\n" % pid).encode())
        self.proc.stdin.flush()
        lines = []
        while True:
            line = self.line()
            if line.get("end"):
                return lines
            lines.append(line)

    def events(self, count, timeout=20):
        return [self.line(timeout) for _ in range(count)]

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            self.proc.wait(10)
        self.proc.stdin.close()
        self.proc.stdout.close()
        self.proc.stderr.close()


@unittest.skipUnless(available(), "no dbus-daemon, accessibility bus launcher or Xvfb")
class AccessibleFixture(unittest.TestCase):
    """One GTK app presenting itself as Chromium and one with an application id, under a window
    manager, with the primary monitor off the root's origin."""

    @classmethod
    def setUpClass(cls):
        cls.x = XServer(monitors=MONITORS, wm=True)
        cls.x.start()
        cls.bus = AccessibilityBus(cls.x.env())
        cls.bus.start()
        cls.other = GtkFixture(cls.bus.env(), title="Other", app_id="org.example.Other",
                               geometry="300x200+1500+300")
        cls.app = GtkFixture(cls.bus.env(), title="Browser-like", wm_class="chromium,Chromium",
                             button="Save", text_button="Go", entry="plain", password=True,
                             address="example.org/path", geometry="480x320+840+40")
        cls.x.run("xdotool", "windowactivate", "--sync", str(cls.app.window), check=False)
        cls.probe = Probe(cls.bus.env())

    @classmethod
    def tearDownClass(cls):
        cls.probe.close()
        cls.app.close()
        cls.other.close()
        cls.bus.stop()
        cls.x.stop()

    def activate(self, fixture):
        self.x.run("xdotool", "windowactivate", "--sync", str(fixture.window), check=False)
        return self.probe.until("front", lambda a: a.get("pid") == fixture.pid)

    def test_frontmost_application_by_wm_class_and_by_application_id(self):
        front = self.activate(self.app)
        self.assertEqual(front, {"pid": self.app.pid, "name": "Chromium", "bundleId": "chromium",
                                 "policy": 0})
        front = self.activate(self.other)
        self.assertEqual(front["pid"], self.other.pid)
        self.assertEqual(front["bundleId"], "org.example.Other")
        self.assertEqual(self.probe.ask("app %d" % self.app.pid)["name"], "Chromium")
        self.assertEqual(self.probe.ask("app 999999"), {"none": True})

    def test_focused_password_entry_is_a_secure_text_field(self):
        self.activate(self.app)
        self.app.send("focus password")
        focused = self.probe.until("focused", lambda a: a.get("AXTitle") == "Password")
        self.assertEqual(focused["AXRole"], "AXTextField")
        self.assertEqual(focused["AXSubrole"], "AXSecureTextField")
        self.app.send("focus entry")
        focused = self.probe.until("focused", lambda a: a.get("AXValue") == "plain")
        self.assertEqual(focused["AXRole"], "AXTextField")
        self.assertNotIn("AXSubrole", focused)

    def test_button_at_a_point_with_its_frame_in_global_points(self):
        x, y, w, h = self.app.where("button")
        hit = self.probe.ask("at %d %d" % (x - OFFSET_X + w // 2, y + h // 2))
        self.assertEqual(hit["AXRole"], "AXButton")
        self.assertEqual(hit["AXTitle"], "Save")
        self.assertEqual(hit["AXFrame"], [x - OFFSET_X, y, w, h])
        self.assertEqual(hit["AXPosition"], [x - OFFSET_X, y])
        self.assertEqual(hit["AXSize"], [w, h])
        self.assertEqual(hit["children"], 0)
        # A control whose name is its own text, as a browser's button: the control, not the text.
        x, y, w, h = self.app.where("text-button")
        hit = self.probe.ask("at %d %d" % (x - OFFSET_X + w // 2, y + h // 2))
        self.assertEqual((hit["AXRole"], hit["AXTitle"]), ("AXButton", "Go"))
        # Outside every window: nothing.
        self.assertEqual(self.probe.ask("at %d %d" % (-700, 580)), {"none": True})
        # Another application's window moved over the button answers there, and the button
        # again once that window has moved away: the window under the point decides, not the
        # frame found there before.
        x, y, w, h = self.app.where("button")
        at = "at %d %d" % (x - OFFSET_X + w // 2, y + h // 2)
        self.assertEqual(self.probe.ask(at)["AXTitle"], "Save")
        self.x.run("xdotool", "windowmove", "--sync", str(self.other.window), str(x - 20),
                   str(y - 20))
        self.activate(self.other)
        try:
            hit = self.probe.until(at, lambda a: a.get("AXTitle") != "Save")
            fx, fy, fw, fh = hit["AXFrame"]
            self.assertTrue(fx <= x - OFFSET_X + w // 2 < fx + fw and fy <= y + h // 2 < fy + fh,
                            hit)
        finally:
            self.x.run("xdotool", "windowmove", "--sync", str(self.other.window), "1500", "300")
            self.activate(self.app)
        self.assertEqual(self.probe.until(at, lambda a: a.get("AXTitle") == "Save")["AXFrame"],
                         [x - OFFSET_X, y, w, h])

    def test_address_bar_and_focused_window_title(self):
        x, y, w, h = self.app.where("address")
        hit = self.probe.ask("at %d %d" % (x - OFFSET_X + 5, y + h // 2))
        self.assertEqual(hit["AXTitle"], "Address and search bar")
        self.assertEqual(hit["AXValue"], "example.org/path")
        window = self.probe.ask("window %d" % self.app.pid)
        self.assertEqual(window["AXRole"], "AXWindow")
        self.assertEqual(window["AXTitle"], "Browser-like")
        self.app.send("title Renamed")
        window = self.probe.until("window %d" % self.app.pid,
                                  lambda a: a.get("AXTitle") == "Renamed")
        self.assertEqual(window["AXTitle"], "Renamed")
        self.app.send("title Browser-like")

    def test_switch_on_sets_the_accessibility_status(self):
        self.assertFalse(self.bus.is_enabled())
        self.assertEqual(self.probe.ask("switchon %d" % self.app.pid),
                         {"manual": True, "enhanced": True})
        self.assertTrue(self.bus.is_enabled())


@unittest.skipUnless(available(), "no dbus-daemon, accessibility bus launcher or Xvfb")
class ScaledDisplay(unittest.TestCase):
    def test_frames_and_points_follow_the_xft_dpi_scale(self):
        with XServer() as x, AccessibilityBus(x.env()) as bus:
            x.run("xrdb", "-merge", input="Xft.dpi: 192\n")
            fixture = GtkFixture(bus.env(), button="Save", geometry="400x300+100+60")
            self.addCleanup(fixture.close)
            px, py, w, h = fixture.where("button")
            probe = Probe(bus.env())
            self.addCleanup(probe.close)
            # Two pixels per point: the button's centre in points, its frame halved.
            hit = probe.ask("at %d %d" % ((px + w // 2) // 2, (py + h // 2) // 2))
            self.assertEqual(hit["AXRole"], "AXButton")
            self.assertEqual(hit["AXFrame"], [px / 2, py / 2, w / 2, h / 2])


@unittest.skipUnless(available(), "no dbus-daemon, accessibility bus launcher or Xvfb")
class WithoutAccessibilityBus(unittest.TestCase):
    def check_absent(self, env, fixture):
        probe = Probe(env)
        try:
            self.assertEqual(probe.ask("focused"), {"none": True})
            self.assertEqual(probe.ask("window %d" % fixture.pid), {"none": True})
            cx, cy = fixture.center("button")
            self.assertEqual(probe.ask("at %d %d" % (cx, cy)), {"none": True})
            self.assertEqual(probe.ask("switchon %d" % fixture.pid),
                             {"manual": False, "enhanced": False})
            # The workspace does not need the bus.
            self.assertEqual(probe.until("front", lambda a: "pid" in a)["pid"], fixture.pid)
            self.assertEqual(probe.ask("ping"), {"pong": True})
            self.assertIsNone(probe.proc.poll())
            probe.proc.terminate()
            probe.proc.wait(10)
            # libatspi, never reached, has nothing to warn about.
            self.assertEqual(probe.proc.stderr.read(), b"")
        finally:
            probe.close()

    def test_unreachable_session_bus_reads_nothing_and_does_not_abort(self):
        with XServer() as x:
            fixture = GtkFixture(unreachable_env(x.env()), button="Save")
            try:
                x.run("xdotool", "windowfocus", "--sync", str(fixture.window), check=False)
                self.check_absent(unreachable_env(x.env()), fixture)
            finally:
                fixture.close()

    def test_an_unreachable_at_spi_bus_address_reads_nothing_and_warns_nothing(self):
        # libatspi takes the variable before the bus the session offers.
        with XServer() as x, AccessibilityBus(x.env()) as bus:
            fixture = GtkFixture(bus.env(), button="Save")
            try:
                x.run("xdotool", "windowfocus", "--sync", str(fixture.window), check=False)
                env = dict(bus.env(), AT_SPI_BUS_ADDRESS="unix:path=/nonexistent/orvane-a11y")
                self.check_absent(env, fixture)
            finally:
                fixture.close()

    def test_session_bus_without_accessibility_bus(self):
        with XServer() as x, AccessibilityBus(x.env(), accessibility=False) as bus:
            fixture = GtkFixture(bus.env(), button="Save")
            try:
                x.run("xdotool", "windowfocus", "--sync", str(fixture.window), check=False)
                self.check_absent(bus.env(), fixture)
            finally:
                fixture.close()


@unittest.skipUnless(available(), "no Xvfb")
class Tap(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XServer(monitors=MONITORS)
        cls.x.start()

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()

    def tap(self, mask):
        probe = Probe(self.x.env())
        self.addCleanup(probe.close)
        self.assertEqual(probe.ask("tap %x" % mask), {"tap": True})
        return probe

    def test_click_mask_gets_clicks_only_and_wheel_buttons_never_click(self):
        probe = self.tap(0x0600001E)
        self.x.run("xdotool", "mousemove", "900", "100", "click", "1", "click", "4", "click", "3",
                   "mousemove_relative", "5", "5", "key", "a", "click", "2", "click", "8",
                   "click", "5")
        self.x.run("xdotool", "sleep", "0.1")
        types = [e["event"] for e in probe.events(8)]
        self.assertEqual(types, [1, 2, 3, 4, 25, 26, 25, 26])
        self.assertEqual(probe.ask("ping"), {"pong": True})  # nothing else arrived

    def test_recorder_mask_gets_moves_drags_scrolls_and_keys(self):
        probe = self.tap(0x4004FE)
        self.x.run("xdotool", "mousemove", "1000", "200")
        self.x.run("xdotool", "mousemove_relative", "3", "3")
        (moved,) = probe.events(1)
        self.assertEqual(moved["event"], 5)
        self.assertEqual((moved["x"], moved["y"]), (1003 - OFFSET_X, 203))
        self.x.run("xdotool", "mousedown", "1", "mousemove_relative", "2", "0", "mouseup", "1",
                   "mousedown", "3", "mousemove_relative", "2", "0", "mouseup", "3")
        self.assertEqual([e["event"] for e in probe.events(6)], [1, 6, 2, 3, 7, 4])
        self.x.run("xdotool", "click", "4", "click", "5", "click", "6", "click", "7")
        scrolls = probe.events(4)
        self.assertEqual([(e["event"], e["axis1"], e["axis2"]) for e in scrolls],
                         [(22, 1, 0), (22, -1, 0), (22, 0, 1), (22, 0, -1)])
        self.x.run("xdotool", "key", "a", "shift+b", "Return", "Left", "ctrl+c")
        keys = probe.events(5)
        self.assertEqual([(e["event"], e["keyCode"], e["text"]) for e in keys],
                         [(10, 0, "a"), (10, 11, "B"), (10, 36, "\r"), (10, 123, ""),
                          (10, 8, "\x03")])
        self.assertEqual(probe.ask("ping"), {"pong": True})

    def test_modifier_keys_are_flags_changed_events(self):
        probe = self.tap((1 << 10) | (1 << 11) | (1 << 12))
        self.x.run("xdotool", "keydown", "shift", "keydown", "x", "keyup", "x", "keyup", "shift")
        events = [(e["event"], e["keyCode"], e["text"]) for e in probe.events(4)]
        self.assertEqual(events, [(12, 0x38, ""), (10, 7, "X"), (11, 7, "X"), (12, 0x38, "")])


@unittest.skipUnless(available() and shutil.which("chromium"), "no Chromium")
class RealChromium(unittest.TestCase):
    def test_the_web_area_of_a_local_page_has_its_address(self):
        work = tempfile.mkdtemp(prefix="orvane-chromium-")
        self.addCleanup(shutil.rmtree, work, True)
        x = XServer(wm=True)
        x.start()
        self.addCleanup(x.stop)
        bus = AccessibilityBus(x.env())
        bus.start()
        self.addCleanup(bus.stop)
        page = os.path.join(work, "page.html")
        with open(page, "w") as f:
            f.write("<!doctype html><title>Local page</title><h1>Hello</h1><button>Go</button>")
        probe = Probe(bus.env())
        self.addCleanup(probe.close)
        # Chromium decides at start whether it joins the accessibility bus: switch it on
        # first, as the tools do, through any application element.
        self.assertEqual(probe.ask("switchon %d" % os.getpid()),
                         {"manual": True, "enhanced": True})
        browser = Chromium(bus.env(), "file://" + page, work)
        self.addCleanup(browser.close)
        front = probe.until("front", lambda a: a.get("name") == "Chromium", timeout=60)
        self.assertEqual(front["bundleId"], "chromium")
        deadline = time.time() + 60
        while True:
            tree = probe.tree(front["pid"])
            areas = [e for e in tree if e.get("AXRole") == "AXWebArea"]
            urls = [e.get("AXURL") for e in areas if e.get("AXURL")]
            if urls or time.time() > deadline:
                break
            time.sleep(0.5)
        self.assertEqual(urls, ["file://" + page])
        # The page's button, found again from its own centre: the descent through the
        # browser's answers ends at the button.
        (button,) = [e for e in tree if e.get("AXRole") == "AXButton" and e.get("AXTitle") == "Go"]
        bx, by, bw, bh = button["AXFrame"]
        hit = probe.ask("at %d %d" % (bx + bw / 2, by + bh / 2))
        self.assertEqual((hit.get("AXRole"), hit.get("AXTitle")), ("AXButton", "Go"))
        window = probe.ask("window %d" % front["pid"])
        self.assertEqual(window["AXTitle"], "Local page - Chromium")


if __name__ == "__main__":
    main(1)
