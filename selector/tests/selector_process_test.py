"""orvane-capture-selector run as the host runs it, on private X displays: with and without a
window manager (openbox), with and without a compositor (xcompmgr), on one and two monitors,
driven with xdotool and checked on its output and on screenshots of what it shows.

Each set-up is one test class sharing one display; its cases each run the selector once."""

import ctypes
import ctypes.util
import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "harness"))
import schemas  # noqa: E402
from xenv import XServer  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL, FIXTURE, WINDOW_LIST = programs(3)
BLUE = (0, 111, 255)
DESKTOP = "#4080c0"
OVERLAY_NAME = "orvane-capture-selector"


def veiled(rgb):
    return tuple(round(c * 0.72) for c in rgb)


def tinted(rgb, alpha):
    return tuple(round(c * (1 - alpha) + b * alpha) for c, b in zip(rgb, BLUE))


class Screenshot:
    """The root window's pixels, read once."""

    def __init__(self, x):
        out = subprocess.run(["import", "-window", "root", "-depth", "8", "rgb:-"], env=x.env(),
                             capture_output=True, timeout=30, check=True).stdout
        self.width, self.height = x.width, x.height
        self.data = out
        assert len(out) == self.width * self.height * 3, len(out)

    def at(self, px, py):
        i = (py * self.width + px) * 3
        return tuple(self.data[i:i + 3])

    def crop_png(self, path, left, top, width, height, grow=4):
        """A crop, enlarged and inverted, for text recognition of light text on dark."""
        rows = b"".join(self.data[((top + r) * self.width + left) * 3:
                                  ((top + r) * self.width + left + width) * 3]
                        for r in range(height))
        subprocess.run(["convert", "-size", "%dx%d" % (width, height), "-depth", "8", "rgb:-",
                        "-resize", "%d%%" % (grow * 100), "-negate", path],
                       input=rows, check=True, timeout=30)


class Selector:
    """One selector run: started, waited for until its overlays are shown."""

    def __init__(self, x, *args, monitors=1, stdout=subprocess.PIPE):
        self.x = x
        self.proc = subprocess.Popen([TOOL, "select", *args], env=x.env(),
                                     stdout=stdout, stderr=subprocess.PIPE)
        deadline = time.time() + 15
        while len(self.overlays()) < monitors:
            if self.proc.poll() is not None or time.time() > deadline:
                raise AssertionError("the overlays never appeared")
            time.sleep(0.05)

    def overlays(self):
        out = self.x.run("xdotool", "search", "--onlyvisible", "--name", "^%s$" % OVERLAY_NAME,
                         check=False).stdout
        return out.split()

    def xdo(self, *args):
        self.x.run("xdotool", *args)

    def result(self, timeout=10):
        out, err = self.proc.communicate(timeout=timeout)
        if out:
            schemas.loads("capture-selector-result", out)
        return out, err, self.proc.returncode

    def running_after(self, seconds=0.4):
        try:
            self.proc.wait(seconds)
        except subprocess.TimeoutExpired:
            return True
        return False

    def stop(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.communicate()


def selection_owned(display, name):
    """Whether a client owns the selection `name` (asked through Xlib)."""
    xlib = ctypes.CDLL(ctypes.util.find_library("X11"))
    xlib.XOpenDisplay.restype = ctypes.c_void_p
    xlib.XOpenDisplay.argtypes = [ctypes.c_char_p]
    xlib.XInternAtom.restype = ctypes.c_ulong
    xlib.XInternAtom.argtypes = [ctypes.c_void_p, ctypes.c_char_p, ctypes.c_int]
    xlib.XGetSelectionOwner.restype = ctypes.c_ulong
    xlib.XGetSelectionOwner.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
    xlib.XCloseDisplay.argtypes = [ctypes.c_void_p]
    d = xlib.XOpenDisplay(display.encode())
    if not d:
        return False
    try:
        return xlib.XGetSelectionOwner(d, xlib.XInternAtom(d, name.encode(), 0)) != 0
    finally:
        xlib.XCloseDisplay(d)


def close(a, b, tolerance=4):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def wait_for(predicate, timeout=8, interval=0.1):
    deadline = time.time() + timeout
    while True:
        value = predicate()
        if value or time.time() > deadline:
            return value
        time.sleep(interval)


class SetUp(unittest.TestCase):
    """A display shared by the cases of one class. Subclasses choose the set-up."""

    maxDiff = None
    WM = False
    COMPOSITOR = False
    MONITORS = None  # (name, w, h, x, y, primary) each; None: the screen is one monitor
    WIDTH, HEIGHT = 1280, 800
    DISABLE = ()  # X server extensions left out

    @classmethod
    def setUpClass(cls):
        cls.x = XServer(width=cls.WIDTH, height=cls.HEIGHT, monitors=cls.MONITORS, wm=cls.WM,
                        disable=cls.DISABLE)
        cls.x.start()
        cls.x.run("xsetroot", "-solid", DESKTOP)
        if cls.COMPOSITOR:
            comp = subprocess.Popen(["xcompmgr"], env=cls.x.env(), stdout=subprocess.DEVNULL,
                                    stderr=subprocess.DEVNULL)
            cls.x.procs.append(comp)
            if not wait_for(lambda: selection_owned(cls.x.display, "_NET_WM_CM_S0"), timeout=10):
                raise RuntimeError("the compositor never took its selection")
            time.sleep(0.2)  # its first frame
        cls.f = cls.x.fixture(FIXTURE)
        cls.tmp = tempfile.mkdtemp()

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()
        shutil.rmtree(cls.tmp, ignore_errors=True)

    def window(self, x, y, w, h, **options):
        wid = self.f.create(x, y, w, h, **options)
        self.x.wait_viewable(wid)
        self.addCleanup(lambda: self.f.send("destroy %d" % wid))
        return wid

    def display_id(self, name="screen"):
        out = self.x.run("xlsatoms", "-name", name).stdout.split()
        return int(out[0])

    def listed(self, wid):
        """The window as orvane-window-list prints it."""
        records = schemas.loads("window-list", self.x.run(WINDOW_LIST).stdout)
        return next(r for r in records if r["id"] == wid)

    def expected_window(self, wid, display):
        r = self.listed(wid)
        b = r["bounds"]
        text = json.dumps({"kind": "window", "windowId": wid, "ownerPid": r["ownerPid"],
                           "ownerName": r["ownerName"], "title": r["title"],
                           "displayId": display,
                           "bounds": {"x": b["x"], "y": b["y"], "width": b["width"],
                                      "height": b["height"]}},
                          separators=(",", ":"), ensure_ascii=False)
        return (text + "\n").encode()

    def run_selector(self, *args, monitors=None, stdout=subprocess.PIPE):
        s = Selector(self.x, *args, monitors=monitors or len(self.MONITORS or [1]), stdout=stdout)
        self.addCleanup(s.stop)
        return s

    def wait_pixel(self, px, py, rgb, timeout=8, tolerance=4):
        shot = wait_for(lambda: (lambda s: s if close(s.at(px, py), rgb, tolerance) else None)(
            Screenshot(self.x)), timeout=timeout)
        if not shot:
            self.fail("pixel (%d, %d) never became %r; it is %r"
                      % (px, py, rgb, Screenshot(self.x).at(px, py)))
        return shot

    def desktop_rgb(self):
        """The bare desktop's colour as the screen shows it (the compositor paints its own)."""
        return Screenshot(self.x).at(self.WIDTH - 5, 5)

    def settled_shot(self, lefts=(0,), width=None):
        """A screenshot once every display's pill is drawn and its fade and slide are over: the
        veil comes first, the pill once its fonts are loaded."""
        width = width or self.WIDTH
        drawn = wait_for(lambda: (lambda shot: all(self.pill_span(shot, left, width, self.HEIGHT)
                                                   for left in lefts))(Screenshot(self.x)))
        if not drawn:
            self.fail("no pill appeared at the bottom of every display")
        time.sleep(0.3)
        return Screenshot(self.x)

    def pill_span(self, shot, left, width, bottom):
        """First and last columns of the pill's dark body, on its middle row."""
        row = bottom - 28 - 19
        dark = [px for px in range(left, left + width) if max(shot.at(px, row)) < 60]
        return (dark[0], dark[-1]) if dark else None

    def read_pill(self, shot, left, width, bottom):
        span = self.pill_span(shot, left, width, bottom)
        self.assertIsNotNone(span, "no pill at the bottom of the display")
        path = os.path.join(self.tmp, "pill.png")
        shot.crop_png(path, span[0], bottom - 66, span[1] - span[0] + 1, 38)
        text = subprocess.run(["tesseract", path, "-", "--psm", "7"], capture_output=True,
                              text=True, timeout=60).stdout
        # Word gaps are what text recognition gets wrong most: compare without them.
        return text.replace(" ", "")

    def assert_result(self, s, expected):
        out, err, rc = s.result()
        self.assertEqual((out, rc), (expected, 0), err)


class Bare(SetUp):
    """No window manager, no compositor, one monitor: the overlay paints the screen as it was
    at launch under its veil."""

    def test_hover_and_click_gives_the_window_record(self):
        w = self.window(200, 150, 400, 300, title="Notes — shopping/list \"x\"",
                        **{"class": "Notes"})
        s = self.run_selector("--initial-mode", "window")
        s.xdo("mousemove", "300", "250")
        # The hovered window is cut out of the veil (tinted a tenth blue) and outlined.
        desktop = (0x40, 0x80, 0xc0)
        self.wait_pixel(400, 300, tinted((255, 255, 255), 0.1))
        shot = self.settled_shot()
        self.assertTrue(close(shot.at(1000, 100), veiled(desktop)), shot.at(1000, 100))
        self.assertTrue(close(shot.at(198, 300), BLUE, 2), shot.at(198, 300))
        self.assertTrue(close(shot.at(199, 300), BLUE, 2), shot.at(199, 300))
        self.assertTrue(close(shot.at(400, 148), BLUE, 2), shot.at(400, 148))
        self.assertTrue(close(shot.at(601, 300), BLUE, 2), shot.at(601, 300))
        self.assertTrue(close(shot.at(196, 300), veiled(desktop)), shot.at(196, 300))
        # The pill: centred near the bottom, dark, with the window's name and the actions.
        span = self.pill_span(shot, 0, self.WIDTH, self.HEIGHT)
        self.assertIsNotNone(span)
        self.assertLessEqual(abs((span[0] + span[1]) / 2 - self.WIDTH / 2), 2, span)
        words = self.read_pill(shot, 0, self.WIDTH, self.HEIGHT)
        for word in ("Notes", "Clicktorecord", "Entirescreen", "Cancel"):
            self.assertIn(word, words)
        s.xdo("click", "1")
        self.assert_result(s, self.expected_window(w, self.display_id()))

    def test_screen_mode_veil_pill_and_escape_twice(self):
        s = self.run_selector()
        desktop = (0x40, 0x80, 0xc0)
        s.xdo("mousemove", "640", "300")
        # The display under the pointer is tinted and framed, not veiled.
        self.wait_pixel(2, 300, BLUE, tolerance=2)
        shot = self.settled_shot()
        self.assertTrue(close(shot.at(640, 300), tinted(desktop, 0.08)), shot.at(640, 300))
        span = self.pill_span(shot, 0, self.WIDTH, self.HEIGHT)
        self.assertIsNotNone(span)
        # Its body: near-black grey (23, 23, 23) at 92 %, over the veiled desktop.
        body = shot.at(span[0] + 8, self.HEIGHT - 28 - 19)
        self.assertTrue(all(18 <= c <= 36 for c in body) and max(body) - min(body) <= 10, body)
        # The record glyph's dot, accent blue, 23 points into the pill.
        self.assertTrue(close(shot.at(span[0] + 23, self.HEIGHT - 66 + 19), BLUE, 30),
                        shot.at(span[0] + 23, self.HEIGHT - 66 + 19))
        words = self.read_pill(shot, 0, self.WIDTH, self.HEIGHT)
        for word in ("Entirescreen", "Record", "Recordawindow", "Cancel"):
            self.assertIn(word, words)
        s.xdo("key", "Escape")
        s.xdo("key", "Escape")
        self.assert_result(s, b'{"cancelled":true}\n')

    def test_keys_switch_modes_and_return_accepts(self):
        w = self.window(100, 100, 300, 200, title="Editor", **{"class": "Editor"})
        s = self.run_selector()
        s.xdo("mousemove", "200", "200")
        s.xdo("key", "shift+w")  # Shift does not matter
        self.wait_pixel(150, 200, tinted((255, 255, 255), 0.1))
        s.xdo("key", "f")
        self.wait_pixel(2, 400, BLUE, tolerance=2)
        s.xdo("key", "w")
        self.wait_pixel(150, 200, tinted((255, 255, 255), 0.1))
        # Control+F and Super+Return: only the latter is the selector's.
        s.xdo("key", "ctrl+f")
        s.xdo("mousemove", "210", "200")
        s.xdo("key", "super+Return")
        self.assert_result(s, self.expected_window(w, self.display_id()))

    def test_return_without_a_window_waits_then_a_click_accepts(self):
        w = self.window(700, 100, 300, 200, title="Later")
        s = self.run_selector("--initial-mode", "window")
        s.xdo("mousemove", "300", "600")
        s.xdo("key", "Return")
        s.xdo("click", "1")  # on the bare desktop: nothing
        self.assertTrue(s.running_after(0.5))
        s.xdo("mousemove", "800", "200", "click", "1")
        self.assert_result(s, self.expected_window(w, self.display_id()))

    def test_excluded_pid_and_owner_are_looked_through(self):
        back = self.window(100, 100, 500, 400, title="Back", **{"class": "Back"})
        other = subprocess.Popen([FIXTURE], env=self.x.env(), stdin=subprocess.PIPE,
                                 stdout=subprocess.PIPE, text=True, bufsize=1)
        self.addCleanup(lambda: (other.stdin.close(), other.wait(5), other.stdout.close()))
        other.stdin.write("create 150 150 200 200 class=Front\n")
        other.stdin.flush()
        front = int(other.stdout.readline())
        self.x.wait_viewable(front)
        middle = self.window(120, 120, 300, 300, title="Middle", **{"class": "Skip"})
        self.x.run("xdotool", "windowraise", str(front))
        s = self.run_selector("--initial-mode", "window", "--exclude-pid", str(other.pid),
                              "--exclude-owner", "Skip", "--exclude-pid", "12abc")
        s.xdo("mousemove", "200", "200", "click", "1")
        self.assert_result(s, self.expected_window(back, self.display_id()))
        del middle

    def test_termination_signal_ends_it_without_output(self):
        s = self.run_selector("--initial-mode", "window")
        s.xdo("mousemove", "640", "300")
        s.proc.send_signal(signal.SIGTERM)
        out, _, rc = s.result()
        self.assertEqual((out, rc), (b"", -signal.SIGTERM))
        self.assertEqual(wait_for(lambda: not s.overlays(), timeout=5), True)

    def test_warning_bubble_lets_the_click_through(self):
        s = self.run_selector("--warning", "Screen recording permission is missing")
        s.xdo("mousemove", "640", "300")
        self.wait_pixel(2, 300, BLUE, tolerance=2)
        shot = Screenshot(self.x)
        # The bubble: black, centred, its bottom 76 points above the display's bottom.
        self.assertTrue(close(shot.at(self.WIDTH // 2 - 60, self.HEIGHT - 76 - 3), (0, 0, 0), 6),
                        shot.at(self.WIDTH // 2 - 60, self.HEIGHT - 76 - 3))
        s.xdo("mousemove", str(self.WIDTH // 2 - 60), str(self.HEIGHT - 76 - 3), "click", "1")
        self.assert_result(s, b'{"kind":"screen","displayId":%d}\n' % self.display_id())


class Openbox(SetUp):
    """A window manager that frames its windows and keeps docks above them."""

    WM = True

    def test_click_matches_the_window_list_and_stays_above_docks(self):
        w = self.window(200, 150, 400, 300, title="Framed", **{"class": "Framed"})
        dock = self.window(0, 760, 1280, 40, title="Panel", type="dock")
        s = self.run_selector("--initial-mode", "window")
        # The dock, stacked above ordinary windows, is under the veil.
        s.xdo("mousemove", "300", "250")
        shot = self.wait_pixel(400, 300, tinted((255, 255, 255), 0.1))
        self.assertTrue(close(shot.at(5, 790), veiled((255, 255, 255))), shot.at(5, 790))
        # A window that appears, even one kept above others, stays under the overlays.
        late = self.window(900, 100, 200, 200, title="Late", above=1)
        time.sleep(0.3)
        self.assertTrue(close(Screenshot(self.x).at(1000, 200), veiled((0x40, 0x80, 0xc0))))
        del late
        s.xdo("click", "1")
        self.assert_result(s, self.expected_window(w, self.display_id()))
        del dock

    def test_a_window_moved_and_renamed_during_the_selection_is_the_one_clicked(self):
        below = self.window(200, 150, 400, 300, title="Below", **{"class": "Below"})
        moved = self.window(800, 150, 300, 300, title="Before", **{"class": "Moved"})
        s = self.run_selector("--initial-mode", "window")
        s.xdo("mousemove", "300", "250")
        self.wait_pixel(400, 300, tinted((255, 255, 255), 0.1))
        # The window list the selector hit-tests has been read; now the desktop changes under
        # the pointer, and the click must see the change, title included.
        self.f.send("move %d 250 200" % moved)
        self.f.send("title %d %s" % (moved, "After".encode().hex()))
        self.assertTrue(wait_for(lambda: (lambda r: r["title"] == "After" and
                                          r["bounds"]["x"] < 300)(self.listed(moved))))
        s.xdo("mousemove", "302", "252")
        s.xdo("click", "1")
        self.assert_result(s, self.expected_window(moved, self.display_id()))
        del below

    def pill_chips(self, expected):
        """The pill's key chips once its slide has settled, and the row through them."""
        time.sleep(0.35)
        shot = Screenshot(self.x)
        span = self.pill_span(shot, 0, self.WIDTH, self.HEIGHT)
        row = self.HEIGHT - 28 - 19
        chips = self.chip_columns(shot, span, row)
        self.assertEqual(len(chips), expected, chips)
        return span, chips, row

    def test_pill_actions(self):
        s = self.run_selector()
        s.xdo("mousemove", "640", "300")
        self.wait_pixel(2, 300, BLUE, tolerance=2)
        span, chips, row = self.pill_chips(3)  # ↵ Record, W Record a window, esc Cancel
        s.xdo("mousemove", str(chips[1] + 4), str(row), "mousedown", "1")
        s.xdo("mousemove", "640", "300", "mouseup", "1")  # released outside: nothing
        self.assertTrue(s.running_after(0.3))
        s.xdo("mousemove", str(chips[1] + 4), str(row), "click", "1")
        self.wait_pixel(640, 300, veiled(self.desktop_under()), tolerance=5)
        span, chips, row = self.pill_chips(2)  # F Entire screen, esc Cancel
        # A press on the pill's glyph is absorbed.
        s.xdo("mousemove", str(span[0] + 23), str(row), "click", "1")
        self.assertTrue(s.running_after(0.3))
        s.xdo("mousemove", str(chips[0] + 4), str(row), "click", "1")
        self.wait_pixel(2, 300, BLUE, tolerance=2)
        span, chips, row = self.pill_chips(3)
        s.xdo("mousemove", str(chips[0] + 4), str(row), "click", "1")
        self.assert_result(s, b'{"kind":"screen","displayId":%d}\n' % self.display_id())

    def test_pill_cancel(self):
        s = self.run_selector("--initial-mode", "window")
        s.xdo("mousemove", "640", "300")
        span, chips, row = self.pill_chips(2)
        s.xdo("mousemove", str(chips[1] + 4), str(row), "click", "1")
        self.assert_result(s, b'{"cancelled":true}\n')

    def desktop_under(self):
        return (0x40, 0x80, 0xc0)

    @staticmethod
    def chip_columns(shot, span, row):
        """Left edges of the key chips on a row through the pill."""
        starts, inside = [], False
        for px in range(span[0] + 36, span[1]):
            light = 50 <= max(shot.at(px, row)) <= 120 and max(shot.at(px, row - 6)) >= 50
            if light and not inside:
                starts.append(px)
            inside = light
        return [c for i, c in enumerate(starts) if i == 0 or c - starts[i - 1] > 20]


class Composited(SetUp):
    """xcompmgr without a window manager: the overlay is a translucent ARGB window."""

    COMPOSITOR = True

    def test_translucent_veil_and_window_click(self):
        w = self.window(200, 150, 400, 300, title="Seen through")
        desktop = self.desktop_rgb()
        s = self.run_selector("--initial-mode", "window")
        depth = self.x.run("xwininfo", "-id", s.overlays()[0]).stdout
        self.assertIn("Depth: 32", depth)
        s.xdo("mousemove", "300", "250")
        shot = self.wait_pixel(400, 300, tinted((255, 255, 255), 0.1))
        self.assertTrue(close(shot.at(1000, 100), veiled(desktop)), (shot.at(1000, 100), desktop))
        # What changes under the overlay shows through it.
        self.f.send("move %d 220 150" % w)
        self.wait_pixel(610, 400, veiled((255, 255, 255)))
        s.xdo("mousemove", "500", "250", "click", "1")
        self.assert_result(s, self.expected_window(w, self.display_id()))

    def test_return_in_screen_mode(self):
        s = self.run_selector()
        s.xdo("mousemove", "640", "300")
        self.wait_pixel(2, 300, BLUE, tolerance=2)
        s.xdo("key", "KP_Enter")
        self.assert_result(s, b'{"kind":"screen","displayId":%d}\n' % self.display_id())


class TwoMonitors(SetUp):
    """Two monitors, no window manager, no compositor; the primary one on the right."""

    MONITORS = [("RIGHT", 640, 800, 640, 0, True), ("LEFT", 640, 800, 0, 0, False)]

    def test_screen_mode_follows_the_pointer_across_displays(self):
        s = self.run_selector()
        s.xdo("mousemove", "300", "300")
        desktop = (0x40, 0x80, 0xc0)
        self.wait_pixel(2, 300, BLUE, tolerance=2)  # the left display is active
        shot = self.settled_shot(lefts=(0, 640), width=640)
        self.assertTrue(close(shot.at(900, 300), veiled(desktop)), shot.at(900, 300))
        self.assertTrue(close(shot.at(300, 300), tinted(desktop, 0.08)), shot.at(300, 300))
        # One pill per display, each centred on its own display.
        for left in (0, 640):
            span = self.pill_span(shot, left, 640, self.HEIGHT)
            self.assertIsNotNone(span, left)
            self.assertLessEqual(abs((span[0] + span[1]) / 2 - (left + 320)), 2, span)
        s.xdo("mousemove", "900", "300")
        self.wait_pixel(642, 300, BLUE, tolerance=2)
        s.xdo("mousemove", "300", "300")
        self.wait_pixel(2, 300, BLUE, tolerance=2)
        s.xdo("key", "Return")
        self.assert_result(s, b'{"kind":"screen","displayId":%d}\n' % self.display_id("LEFT"))

    def test_window_across_displays_is_outlined_on_both(self):
        w = self.window(500, 200, 300, 200, title="Spanning")
        s = self.run_selector("--initial-mode", "window")
        s.xdo("mousemove", "700", "300")
        shot = self.wait_pixel(550, 300, tinted((255, 255, 255), 0.1))
        self.assertTrue(close(shot.at(700, 300), tinted((255, 255, 255), 0.1)))
        self.assertTrue(close(shot.at(498, 300), BLUE, 2), shot.at(498, 300))
        self.assertTrue(close(shot.at(801, 300), BLUE, 2), shot.at(801, 300))
        s.xdo("click", "1")
        # More of it lies on the right (primary) display.
        self.assert_result(s, self.expected_window(w, self.display_id("RIGHT")))


class TwoMonitorsOpenboxComposited(SetUp):
    """Everything at once: a window manager, a compositor and two monitors."""

    WM = True
    COMPOSITOR = True
    MONITORS = [("MAIN", 640, 800, 0, 0, True), ("SIDE", 640, 800, 640, 0, False)]

    def test_window_on_the_second_display(self):
        w = self.window(800, 200, 300, 200, title="Side window", **{"class": "Side"})
        s = self.run_selector("--initial-mode", "window")
        s.xdo("mousemove", "900", "300")
        self.wait_pixel(950, 350, tinted((255, 255, 255), 0.1))
        s.xdo("click", "1")
        self.assert_result(s, self.expected_window(w, self.display_id("SIDE")))

    def test_escape_cancels_once(self):
        s = self.run_selector()
        s.xdo("mousemove", "900", "300")
        self.wait_pixel(642, 300, BLUE, tolerance=2)
        s.xdo("key", "Escape", "Escape")
        self.assert_result(s, b'{"cancelled":true}\n')


class Scaled(SetUp):
    """Xft.dpi 192: two pixels per point. Results are in points; drawing is sharp in pixels."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.x.run("xrdb", "-merge", input="Xft.dpi: 192\n")

    def test_window_in_points_and_outline_in_pixels(self):
        w = self.window(200, 150, 400, 300, title="Sharp", **{"class": "Sharp"})
        s = self.run_selector("--initial-mode", "window")
        s.xdo("mousemove", "300", "250")
        shot = self.wait_pixel(400, 300, tinted((255, 255, 255), 0.1))
        # The 2-point outline is 4 pixels wide, outside the window's edge.
        for px in (196, 197, 198, 199):
            self.assertTrue(close(shot.at(px, 300), BLUE, 2), (px, shot.at(px, 300)))
        self.assertTrue(close(shot.at(195, 300), veiled((0x40, 0x80, 0xc0))), shot.at(195, 300))
        # The pill: 38 points high is 76 pixels, its bottom 56 pixels above the display's.
        time.sleep(0.35)  # its slide to the new content
        shot = Screenshot(self.x)
        middle = self.HEIGHT - 56 - 38
        dark = [px for px in range(self.WIDTH) if max(shot.at(px, middle)) < 60]
        self.assertTrue(dark)
        edge = dark[0] + 40  # inside the pill, past its rounded corner
        self.assertLess(max(shot.at(edge, self.HEIGHT - 56 - 3)), 60)
        self.assertLess(max(shot.at(edge, self.HEIGHT - 56 - 73)), 60)
        self.assertGreater(max(shot.at(edge, self.HEIGHT - 56 + 3)), 70)
        self.assertGreater(max(shot.at(edge, self.HEIGHT - 56 - 79)), 70)
        s.xdo("click", "1")
        expected = self.expected_window(w, self.display_id())
        self.assertIn(b'"bounds":{"x":100,"y":75,"width":200,"height":150}', expected)
        self.assert_result(s, expected)


class WithoutRandr(SetUp):
    """An X server without RandR: the screen is the one display, number 1."""

    DISABLE = ("RANDR",)

    def test_screen_and_window_on_the_only_display(self):
        w = self.window(300, 200, 300, 200, title="Plain")
        s = self.run_selector()
        s.xdo("mousemove", "400", "300")
        self.wait_pixel(2, 300, BLUE, tolerance=2)
        s.xdo("key", "w")
        self.wait_pixel(450, 300, tinted((255, 255, 255), 0.1))
        s.xdo("click", "1")
        self.assert_result(s, self.expected_window(w, 1))


class HostileInput(SetUp):
    """Texts and hosts no careful host would hand the selector: it still shows at once, says
    nothing on standard error and ends with status 0."""

    def bubble_fits(self, shot):
        """The bubble's bottom is black and its top lies on the display: what is above it is
        the tinted desktop."""
        bottom = shot.at(self.WIDTH // 2, self.HEIGHT - 76 - 3)
        top = shot.at(self.WIDTH // 2, 20)
        return close(bottom, (0, 0, 0), 6) and close(top, tinted((0x40, 0x80, 0xc0), 0.08))

    def test_huge_labels_show_at_once(self):
        unbroken = "x" * (64 * 1024)  # no place to break a line but between letters
        marks = "a" + "\u0301" * 40000  # one letter under 40,000 accents
        for warning in (unbroken, marks):
            with self.subTest(length=len(warning)):
                # The overlays must appear within the harness's 15 s (the layout comes first).
                s = self.run_selector("--warning", warning)
                s.xdo("mousemove", "640", "300")
                self.wait_pixel(2, 300, BLUE, tolerance=2)
                self.assertTrue(wait_for(lambda: self.bubble_fits(Screenshot(self.x))))
                s.xdo("key", "Escape")
                self.assertEqual(s.result(timeout=10), (b'{"cancelled":true}\n', b"", 0))
        # A window's name is a label too.
        w = self.window(200, 150, 400, 300, title="T" + "\u0301" * 40000 + "itle " * 10000)
        s = self.run_selector("--initial-mode", "window")
        s.xdo("mousemove", "300", "250")
        self.wait_pixel(400, 300, tinted((255, 255, 255), 0.1))
        self.settled_shot()
        s.xdo("key", "Escape")
        self.assertEqual(s.result(timeout=10), (b'{"cancelled":true}\n', b"", 0))
        del w

    def test_invalid_utf8_is_shown_replaced_without_a_word_on_standard_error(self):
        w = self.window(200, 150, 400, 300, title=b"Bad \xff\xfe title \xc3")
        s = self.run_selector("--warning", b"Missing \xe2\x82 permission \xff",
                              "--mic-label", b"\xc0\xafMic", "--initial-mode", "window")
        s.xdo("mousemove", "300", "250")
        self.wait_pixel(400, 300, tinted((255, 255, 255), 0.1))
        shot = self.settled_shot()
        self.assertTrue(close(shot.at(self.WIDTH // 2, self.HEIGHT - 76 - 3), (0, 0, 0), 6))
        s.xdo("click", "1")
        out, err, rc = s.result()
        self.assertEqual((err, rc), (b"", 0))
        self.assertEqual(json.loads(out)["title"], "Bad \ufffd\ufffd title \ufffd")
        del w

    def test_a_host_that_stopped_reading_still_gets_status_0(self):
        read, write = os.pipe()
        os.close(read)
        try:
            s = self.run_selector(stdout=write)
            s.xdo("mousemove", "640", "300")
            self.wait_pixel(2, 300, BLUE, tolerance=2)
            s.xdo("key", "Escape")
            _, err, rc = s.result()
            self.assertEqual((rc, err), (0, b""))
            # The warm-up answer and the usage line, written to no one.
            for args, status in ((["--warm"], 0), (["Select"], 2), ([], 2)):
                with self.subTest(args=args):
                    r = subprocess.run([TOOL, *args], env=self.x.env(), stdout=write,
                                       stderr=write, timeout=10)
                    self.assertEqual(r.returncode, status)
        finally:
            os.close(write)


class FrenchLayout(SetUp):
    """AZERTY: W and F are the keys that type them, wherever they are; Escape, Return and
    keypad Enter are known by their place, as on macOS."""

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.x.run("setxkbmap", "fr")

    def test_letters_by_what_they_type_and_accept_and_cancel_by_their_keys(self):
        w = self.window(100, 100, 300, 200, title="Clavier", **{"class": "Clavier"})
        # The key in W's place types "z": not the selector's, screen mode stays.
        s = self.run_selector()
        s.xdo("mousemove", "200", "200")
        s.xdo("key", "z", "q")
        s.xdo("key", "Return")
        self.assert_result(s, b'{"kind":"screen","displayId":%d}\n' % self.display_id())
        # The key in Z's place types "w"; shifted, "W".
        s = self.run_selector()
        s.xdo("mousemove", "200", "200")
        s.xdo("key", "shift+w")
        self.wait_pixel(150, 200, tinted((255, 255, 255), 0.1))
        s.xdo("key", "f")
        self.wait_pixel(2, 400, BLUE, tolerance=2)
        s.xdo("key", "w")
        s.xdo("key", "KP_Enter")
        self.assert_result(s, self.expected_window(w, self.display_id()))
        s = self.run_selector()
        s.xdo("key", "Escape")
        self.assert_result(s, b'{"cancelled":true}\n')


class DisplayGoesAway(SetUp):
    def test_the_selection_ends_with_the_cancellation(self):
        s = self.run_selector()
        s.xdo("mousemove", "400", "300")
        self.wait_pixel(2, 300, BLUE, tolerance=2)
        self.x.procs[0].kill()  # the X server
        self.assert_result(s, b'{"cancelled":true}\n')


class NoDisplay(unittest.TestCase):
    def run_tool(self, *args):
        env = dict(os.environ)
        env["DISPLAY"] = ":9999"
        r = subprocess.run([TOOL, *args], env=env, capture_output=True, timeout=10)
        if r.returncode == 0:
            schemas.loads("capture-selector-result", r.stdout)
        return r.stdout, r.stderr, r.returncode

    def test_cancels_when_the_display_cannot_be_opened(self):
        self.assertEqual(self.run_tool("select"), (b'{"cancelled":true}\n', b"", 0))

    def test_warm_and_usage_need_no_display(self):
        self.assertEqual(self.run_tool("--warm", "select"), (b'{"warmed":true}\n', b"", 0))
        out, err, rc = self.run_tool("Select")
        self.assertEqual((out, rc), (b"", 2))
        self.assertTrue(err.startswith(b"Usage: orvane-capture-selector <select|--warm>"), err)


if __name__ == "__main__":
    main(3)
