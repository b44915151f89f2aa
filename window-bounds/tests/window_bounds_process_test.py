"""orvane-window-bounds run as the host runs it, on a private X display with fixture windows,
with and without a window manager."""

import os
import re
import signal
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "harness"))
import schemas  # noqa: E402
from xenv import XServer  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL, FIXTURE = programs(2)
MISSING = "Missing --window-id\n"
LINE = re.compile(rb'^\{"atUnixMs":(\d+),(.*)\}\n$')


class Tool:
    """One running tool; its standard output collected line by line as it comes."""

    def __init__(self, x, window, poll_ms=20):
        self.started_ms = time.time() * 1000
        self.proc = subprocess.Popen([TOOL, "--window-id", str(window), "--poll-ms", str(poll_ms)],
                                     env=x.env(), stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=subprocess.PIPE)
        self.lines = []  # (arrival time, bytes)
        self.cond = threading.Condition()
        self.reader = threading.Thread(target=self._read, daemon=True)
        self.reader.start()

    def _read(self):
        for raw in iter(self.proc.stdout.readline, b""):
            with self.cond:
                self.lines.append((time.time(), raw))
                self.cond.notify_all()

    def wait_lines(self, count, timeout=5):
        with self.cond:
            self.cond.wait_for(lambda: len(self.lines) >= count, timeout)
            return [raw for _, raw in self.lines]

    def say(self, text):
        self.proc.stdin.write(text.encode())
        self.proc.stdin.flush()

    def stop(self, sig=signal.SIGTERM):
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        rc = self.proc.wait(5)
        self.reader.join(5)
        err = self.proc.stderr.read()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                stream.close()
            except BrokenPipeError:
                pass
        for _, raw in self.lines:
            schemas.loads("window-bounds-line", raw)
        return rc, err


def extents(x, window):
    out = x.run("xprop", "-id", str(window), "_NET_FRAME_EXTENTS").stdout
    if "=" not in out:
        return (0, 0, 0, 0)
    return tuple(int(v) for v in out.split("=")[1].split(","))


def num(v):
    return "%d" % v if v == int(v) else repr(v)


def body(x, window, status, frame=None, display=None, scale="1"):
    """The line after "atUnixMs", as the tool must print it. `frame` is the client's requested
    (x, y, w, h) in pixels; the window manager's frame around it is added, and the whole is
    given in points (pixels divided by the scale factor)."""
    parts = []
    if frame:
        left, right, top, bottom = extents(x, window)
        fx, fy, w, h = frame
        pp = float(scale)
        parts.append('"bounds":{"height":%s,"width":%s,"x":%s,"y":%s}' % (
            num((h + top + bottom) / pp), num((w + left + right) / pp), num(fx / pp), num(fy / pp)))
    if display is not None:
        parts.append('"displayId":%d,"scaleFactor":%s' % (display, scale))
    parts.append('"status":"%s","windowId":%d' % (status, window))
    return ",".join(parts).encode()


class WindowBounds(unittest.TestCase):
    maxDiff = None

    def split(self, tool, raw):
        """Checks the line's frame and clock; returns what follows "atUnixMs"."""
        m = LINE.match(raw)
        self.assertIsNotNone(m, raw)
        at = int(m.group(1))
        self.assertTrue(tool.started_ms - 1000 <= at <= time.time() * 1000 + 1000, raw)
        return m.group(2)

    def bodies(self, tool, count, timeout=5):
        return [self.split(tool, raw) for raw in tool.wait_lines(count, timeout)]

    def display_of(self, tool):
        m = re.search(rb'"displayId":(\d+)', tool.wait_lines(1)[0])
        self.assertIsNotNone(m)
        return int(m.group(1))

    def check_lifecycle(self, wm):
        with XServer(wm=wm) as x:
            f = x.fixture(FIXTURE)
            w = f.create(100, 120, 300, 200)
            x.wait_viewable(w)
            tool = Tool(x, w)
            try:
                # A window that stays still: exactly one line.
                time.sleep(0.25)
                first = self.bodies(tool, 1)
                display = self.display_of(tool)
                self.assertEqual(first, [body(x, w, "visible", (100, 120, 300, 200), display)])
                # Moved by one point.
                f.send("move %d 101 120" % w)
                self.assertEqual(self.bodies(tool, 2)[1:],
                                 [body(x, w, "visible", (101, 120, 300, 200), display)])
                # Nearly transparent, then opaque again.
                f.send("opacity %d 0.005" % w)
                f.send("sync")
                self.assertEqual(self.bodies(tool, 3)[2:],
                                 [body(x, w, "unavailable", (101, 120, 300, 200), display)])
                f.send("opacity %d 0.5" % w)
                self.assertEqual(self.bodies(tool, 4)[3:],
                                 [body(x, w, "visible", (101, 120, 300, 200), display)])
                # Unmapped: found, with its bounds, but not on screen.
                f.send("unmap %d" % w)
                got = self.bodies(tool, 5)[4:]
                self.assertEqual(len(got), 1)
                self.assertRegex(got[0], rb'^"bounds":\{"height":\d+,"width":\d+,"x":-?\d+,'
                                         rb'"y":-?\d+\},"displayId":\d+,"scaleFactor":1,'
                                         rb'"status":"unavailable","windowId":%d$' % w)
                # The end of standard input ends only the reading.
                tool.proc.stdin.close()
                f.send("map %d" % w)
                x.wait_viewable(w)
                # A window manager may show the window in steps (mapped, then framed and
                # placed), each a state of its own; the last one is visible.
                with tool.cond:
                    tool.cond.wait_for(lambda: len(tool.lines) >= 6 and
                                       b'"status":"visible"' in tool.lines[-1][1], 10)
                lines = tool.wait_lines(6)
                self.assertIn(b'"status":"visible"', lines[-1])
                self.assertLessEqual(len(lines), 6 if not wm else 8)
                # Destroyed: nothing for two ticks, then one "closed", then nothing more.
                time.sleep(0.2)
                count = len(tool.wait_lines(6))
                f.send("destroy %d" % w)
                gone = time.time()
                tool.wait_lines(count + 1)
                time.sleep(0.2)
                with tool.cond:
                    after = tool.lines[count:]
                self.assertEqual([self.split(tool, raw) for _, raw in after],
                                 [body(x, w, "closed")])
                self.assertGreaterEqual(after[0][0] - gone, 0.035)  # two polls of 20 ms
            finally:
                rc, err = tool.stop()
            self.assertEqual((rc, err), (0, b""))

    def test_lifecycle_without_window_manager(self):
        self.check_lifecycle(wm=False)

    def test_lifecycle_with_window_manager(self):
        self.check_lifecycle(wm=True)

    def test_minimized_and_other_desktop_are_unavailable(self):
        with XServer(wm=True) as x:
            f = x.fixture(FIXTURE)
            w = f.create(100, 120, 300, 200)
            x.wait_viewable(w)
            tool = Tool(x, w)
            try:
                display = self.display_of(tool)
                x.run("xdotool", "windowminimize", "--sync", str(w))
                self.assertEqual(self.bodies(tool, 2)[1:],
                                 [body(x, w, "unavailable", (100, 120, 300, 200), display)])
                x.run("xdotool", "windowactivate", "--sync", str(w))
                self.assertEqual(self.bodies(tool, 3)[2:],
                                 [body(x, w, "visible", (100, 120, 300, 200), display)])
                x.run("xdotool", "set_desktop_for_window", str(w), "1")
                got = self.bodies(tool, 4)[3:]
                self.assertEqual(len(got), 1)
                self.assertIn(b'"status":"unavailable","windowId"', got[0])
                self.assertIn(b'"bounds"', got[0])
            finally:
                rc, _ = tool.stop()
            self.assertEqual(rc, 0)

    def check_two_monitors(self, wm):
        # Two side by side; the primary one (first in the display list) on the left.
        monitors = [("LEFT", 1000, 800, 0, 0, True), ("RIGHT", 920, 800, 1000, 0, False)]
        with XServer(width=1920, height=800, monitors=monitors, wm=wm) as x:
            x.run("xrdb", "-merge", input="Xft.dpi: 192\n")
            f = x.fixture(FIXTURE)
            w = f.create(100, 100, 400, 200, undecorated=1)
            x.wait_viewable(w)
            tool = Tool(x, w)
            try:
                left = self.display_of(tool)
                frame = lambda fx: body(x, w, "visible", (fx, 100, 400, 200), display, "2")
                display = left
                self.assertEqual(self.bodies(tool, 1), [frame(100)])
                seen = 1
                for fx, on_left in ((700, True), (801, False), (800, True), (1200, False)):
                    f.send("move %d %d 100" % (w, fx))
                    got = self.bodies(tool, seen + 1)[seen:]
                    seen += 1
                    m = re.search(rb'"displayId":(\d+)', got[0])
                    self.assertIsNotNone(m, got)
                    self.assertEqual(int(m.group(1)) == left, on_left, (fx, got))
                    display = int(m.group(1))
                    self.assertEqual(got, [frame(fx)])
            finally:
                rc, _ = tool.stop()
            self.assertEqual(rc, 0)

    def test_two_monitors_without_window_manager(self):
        self.check_two_monitors(wm=False)

    def test_two_monitors_with_window_manager(self):
        self.check_two_monitors(wm=True)

    def check_activate(self, wm):
        with XServer(wm=wm) as x:
            f = x.fixture(FIXTURE)
            other = x.fixture(FIXTURE)
            followed = f.create(100, 100, 300, 200)
            sibling = f.create(150, 150, 300, 200)
            x.wait_viewable(followed, sibling)
            cover = other.create(120, 120, 300, 200)
            x.wait_viewable(cover)
            if not wm:
                x.run("xdotool", "windowfocus", "--sync", str(cover))

            def front():
                """The focused (active) window and the client stacking, top first."""
                if wm:
                    active = int(x.run("xdotool", "getactivewindow").stdout)
                else:
                    active = int(x.run("xdotool", "getwindowfocus").stdout)
                return active

            def wait_front(expected, timeout=3):
                deadline = time.time() + timeout
                while time.time() < deadline and front() != expected:
                    time.sleep(0.02)
                return front()

            def on_top(window):
                """Whether `window` is above every other client window."""
                if wm:
                    out = x.run("xprop", "-root", "_NET_CLIENT_LIST_STACKING").stdout
                    return int(out.split(",")[-1].split()[-1], 16) == window  # bottom to top
                tree = x.run("xwininfo", "-root", "-children").stdout
                ids = [int(m, 16) for m in re.findall(r"^\s+(0x[0-9a-f]+)", tree, re.M)]
                return ids[0] == window  # xwininfo lists the children top first

            tool = Tool(x, followed)
            try:
                tool.wait_lines(1)
                for ignored in ("Activate\n", " activate\n", "activate \n", "ACTIVATE\n"):
                    tool.say(ignored)
                time.sleep(0.2)
                self.assertEqual(front(), cover)
                tool.say("activate\n")
                self.assertEqual(wait_front(followed), followed)
                self.assertTrue(on_top(followed))
                # Closed: the owner's frontmost remaining window comes forward instead.
                f.send("destroy %d" % followed)
                tool.wait_lines(2)
                if wm:
                    x.run("xdotool", "windowactivate", "--sync", str(cover))
                else:
                    x.run("xdotool", "windowraise", str(cover))
                    x.run("xdotool", "windowfocus", "--sync", str(cover))
                tool.say("activate\n")
                self.assertEqual(wait_front(sibling), sibling)
                self.assertTrue(on_top(sibling))
            finally:
                rc, _ = tool.stop()
            self.assertEqual(rc, 0)

    def test_activate_without_window_manager(self):
        self.check_activate(wm=False)

    def test_activate_with_window_manager(self):
        self.check_activate(wm=True)

    def test_signals_end_with_status_zero(self):
        with XServer() as x:
            f = x.fixture(FIXTURE)
            w = f.create(10, 10, 100, 100)
            x.wait_viewable(w)
            for sig in (signal.SIGINT, signal.SIGTERM):
                tool = Tool(x, w)
                tool.wait_lines(1)
                begun = time.time()
                rc, err = tool.stop(sig)
                self.assertEqual((rc, err), (0, b""), sig)
                self.assertLess(time.time() - begun, 1)
            # A window that never existed: "closed" on the third poll, and the tool keeps going.
            tool = Tool(x, 12345)
            got = self.bodies(tool, 1)
            time.sleep(0.1)
            self.assertIsNone(tool.proc.poll())
            rc, _ = tool.stop()
            self.assertEqual((got, rc), ([b'"status":"closed","windowId":12345'], 0))
            # A host that stopped reading costs the lines, not the process.
            deaf = subprocess.Popen([TOOL, "--window-id", str(w), "--poll-ms", "16"], env=x.env(),
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE)
            deaf.stdout.close()
            f.send("move %d 40 40" % w)
            time.sleep(0.5)
            self.assertIsNone(deaf.poll())
            deaf.terminate()
            self.assertEqual(deaf.wait(5), 0)

    def test_misused_command_line(self):
        cases = [
            [], ["--window-id"], ["--window-id", "abc"], ["--window-id", "0"],
            ["--window-id", "-0"], ["--window-id", "-5"], ["--window-id", "4294967296"],
            ["--window-id", " 5"], ["--window-id", "5", "--window-id", "x"],
            ["--poll-ms", "50"], ["--window-id", "0x10"], ["--window", "5"],
        ]
        env = {k: v for k, v in os.environ.items() if k != "DISPLAY"}
        for args in cases:
            r = subprocess.run([TOOL] + args, capture_output=True, timeout=10, env=env,
                               stdin=subprocess.DEVNULL)
            self.assertEqual((r.returncode, r.stdout, r.stderr), (2, b"", MISSING.encode()), args)


if __name__ == "__main__":
    main(2)
