"""The tools on a real headless GNOME Shell with our extension: window-list against the shell's
own view (native and XWayland windows, two monitors, minimized, another workspace),
window-bounds through move, resize, minimize, activate and close, sensors' window lines on
focus and title changes, eventtap's refusal, the selector's overlay (by its pixels, over the
top bar too) with a click, Return and Escape, without a display and with the shell gone; and,
without the extension, the one line that says how to enable it and the fall-back to XWayland."""

import json
import os
import signal
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "eventtap", "tests"))
import clients  # noqa: E402
import gnomeenv  # noqa: E402
import schemas  # noqa: E402
from eventlog_check import TAP_FAILED  # noqa: E402
from process_main import main, programs  # noqa: E402

WINDOW_LIST, WINDOW_BOUNDS, SENSORS, EVENTTAP, SELECTOR, X_FIXTURE = programs(6)
GTK_FIXTURE = os.path.join(HERE, "fixtures", "gtk_fixture.py")
CLICK_TAP_UNAVAILABLE = b"[orvane/capture-sensors] click tap unavailable\n"
ENTRIES = {"org.orvane.Fixture": "Orvane Fixture"}
TIMEOUT = 20
BLUE = (0, 111, 255)
CANCELLED = b'{"cancelled":true}\n'


def veiled(rgb):
    return tuple(round(c * 0.72) for c in rgb)


def tinted(rgb, alpha):
    return tuple(round(c * (1 - alpha) + b * alpha) for c, b in zip(rgb, BLUE))


def close(a, b, tolerance=4):
    return all(abs(p - q) <= tolerance for p, q in zip(a, b))


def output_id(connector):
    value = 2166136261
    for c in connector.encode():
        value = ((value ^ c) * 16777619) & 0xFFFFFFFF
    return value or 1


def selector(test, gnome, *args, env=None):
    p = subprocess.Popen([SELECTOR, "select"] + list(args), env=env or gnome.env(),
                         stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    test.addCleanup(lambda: p.poll() is None and p.kill())
    return p


def overlays_up(gnome):
    """Waits until both monitors' overlays are placed, one of them with the focus."""
    gnome.wait(lambda: len([t for t in gnome.eval(
        "global.top_window_group.get_children().map(a => a.meta_window ? "
        "a.meta_window.get_title() : '')") or [] if t.startswith("orvane-capture-selector")]) == 2,
        "the overlays")
    # Keys go to the window with the focus: one of the overlays, once the shell has placed them.
    gnome.wait(lambda: (gnome.eval("global.display.focus_window ? "
                                   "global.display.focus_window.get_title() : ''") or "")
               .startswith("orvane-capture-selector"), "an overlay with the focus")


def result(p):
    out, err = p.communicate(timeout=TIMEOUT)
    return out, p.returncode, err


def Lines(test, env, args, schema):
    """A running tool whose lines are checked against `schema`, ended with the test."""
    tool = clients.ToolLines(args, env, check=lambda raw: schemas.loads(schema, raw),
                             timeout=TIMEOUT)
    test.addCleanup(tool.close)
    return tool


class OnGnomeShell(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.gnome = gnomeenv.Gnome(desktop_entries=ENTRIES)
        cls.gnome.start()

    @classmethod
    def tearDownClass(cls):
        cls.gnome.stop()

    def gtk(self, title, *args):
        p = self.gnome.spawn(["/usr/bin/python3", GTK_FIXTURE, "--title", title] + list(args),
                             GDK_BACKEND="wayland")
        self.addCleanup(p.kill)
        self.assertTrue(p.stdout.readline().startswith("ready"))
        self.gnome.window(title)
        return p

    def place(self, title, x, y, width, height):
        """Moves and resizes a window, asking again while a new client still settles its
        first size."""
        def placed():
            w = self.gnome.truth()[title]
            if (w["x"], w["y"], w["width"], w["height"]) == (x, y, width, height):
                return True
            self.gnome.act(title, "w.move_resize_frame(true, %d, %d, %d, %d)"
                           % (x, y, width, height))
            time.sleep(0.2)
            return False
        self.gnome.wait(placed, "%r at its place" % title)

    def close_all(self):
        self.gnome.eval("%s.forEach(w => w.delete(global.get_current_time()))"
                        % self.gnome.WINDOWS)
        self.gnome.wait(lambda: not self.gnome.truth(), "every window to close")

    def setUp(self):
        self.addCleanup(self.close_all)

    def test_window_list_is_what_the_shell_shows(self):
        g = self.gnome
        self.gtk("Native", "--app-id", "org.orvane.Fixture")
        self.gtk("On the second monitor")
        self.gtk("Minimized")
        self.gtk("Elsewhere")
        xfix = g.spawn([X_FIXTURE])
        xfix.stdin.write("create 10 10 300 200 title=%s class=XFixture\n"
                         % "X on GNOME".encode().hex())
        xfix.stdin.flush()
        xfix.stdout.readline()
        g.window("X on GNOME")
        g.act("On the second monitor", "w.move_frame(true, 1280 + 100, 60)")
        g.act("Minimized", "w.minimize()")
        # Workspaces come and go with their windows: a second one is made if there is none yet.
        # Only the primary monitor has workspaces: the window is put there first.
        g.wait(lambda: g.act("Elsewhere", "(w.move_to_monitor(0), "
                             "global.workspace_manager.get_n_workspaces() > 1 || "
                             "global.workspace_manager.append_new_workspace(false, 0), "
                             "w.change_workspace_by_index(1, false), w.get_workspace().index())")
               == 1, "a window on another workspace")
        names = {"Native": "Orvane Fixture", "X on GNOME": "XFixture"}

        def expected():
            shown = sorted((w for w in g.truth().values() if w["shown"]),
                           key=lambda w: w["order"])
            return [{"id": w["id"], "ownerPid": w["pid"],
                     "ownerName": names.get(w["title"], "gtk_fixture"), "title": w["title"],
                     "bounds": {k: w[k] for k in ("x", "y", "width", "height")}}
                    for w in shown]

        # Moves settle over a frame or two: compared once the shell and the tool agree.
        deadline = time.time() + TIMEOUT
        while True:
            want = expected()
            r = subprocess.run([WINDOW_LIST], env=g.env(), capture_output=True, timeout=30)
            got = schemas.loads("window-list", r.stdout) if r.returncode == 0 else None
            if got == want or time.time() > deadline:
                break
            time.sleep(0.2)
        self.maxDiff = None
        self.assertEqual((r.returncode, r.stderr), (0, b""))
        self.assertEqual(got, want)
        self.assertEqual(sorted(w["title"] for w in got),
                         ["Native", "On the second monitor", "X on GNOME"])
        second = next(w for w in got if w["title"] == "On the second monitor")
        self.assertEqual(second["bounds"]["x"], 1380)

    def test_window_bounds_follows_signals(self):
        g = self.gnome
        other = self.gtk("Other")
        followed = self.gtk("Followed")
        self.place("Followed", 100, 80, 400, 300)
        number = g.truth()["Followed"]["id"]
        # A long poll interval: lines that come sooner came from the shell's signals.
        tool = Lines(self, g.env(), [WINDOW_BOUNDS, "--window-id", str(number),
                                     "--poll-ms", "1000"], "window-bounds-line")
        first = tool.wait_for(lambda l: l.get("bounds", {}).get("width") == 400)
        self.assertEqual((first["status"], first["bounds"], first["windowId"]),
                         ("visible", {"x": 100, "y": 80, "width": 400, "height": 300}, number))
        main_display = first["displayId"]

        started = time.time()
        g.act("Followed", "w.move_frame(true, 220, 140)")
        line = tool.wait_for(lambda l: l.get("bounds", {}).get("x") == 220)
        self.assertLess(time.time() - started, 0.9)
        self.assertEqual(line["bounds"]["y"], 140)
        g.act("Followed", "w.move_resize_frame(true, 220, 140, 500, 350)")
        line = tool.wait_for(lambda l: l.get("bounds", {}).get("width") == 500)
        self.assertEqual(line["bounds"]["height"], 350)
        g.act("Followed", "w.move_frame(true, 1280 + 50, 50)")
        line = tool.wait_for(lambda l: l.get("displayId") not in (None, main_display))
        self.assertEqual(line["bounds"]["x"], 1330)

        # Minimized, then brought back and focused by `activate`.
        g.act("Followed", "w.minimize()")
        tool.wait_for(lambda l: l["status"] == "unavailable")
        g.act("Other", "Main.activateWindow(w)")
        tool.say("activate\n")
        tool.wait_for(lambda l: l["status"] == "visible")
        g.wait(lambda: g.truth()["Followed"]["focused"], "the window to be focused")

        followed.stdin.write("quit\n")
        followed.stdin.flush()
        line = tool.wait_for(lambda l: l["status"] == "closed")
        self.assertEqual(sorted(line), ["atUnixMs", "status", "windowId"])
        other.kill()

    def test_sensors_window_lines_and_eventtap_refusal(self):
        g = self.gnome
        self.gtk("Editor", "--app-id", "org.orvane.Fixture")
        notes = self.gtk("Notes/Draft")
        g.focus("Editor")
        tool = Lines(self, g.env(), [SENSORS, "--poll-ms", "1000"], "capture-sensors-line")
        window = lambda l: l["type"] == "window"  # noqa: E731
        line = tool.wait_for(window)
        self.assertEqual((line["app"], line["bundleId"], line["title"]),
                         ("Orvane Fixture", "org.orvane.Fixture", "Editor"))
        started = time.time()
        g.act("Notes/Draft", "Main.activateWindow(w)")
        line = tool.wait_for(window)
        self.assertEqual((line["app"], line["bundleId"], line["title"]),
                         ("gtk_fixture", "gtk_fixture", "Notes/Draft"))
        notes.stdin.write("title Notes/Final\n")
        notes.stdin.flush()
        line = tool.wait_for(window)
        self.assertEqual(line["title"], "Notes/Final")
        # Both came from the shell's signals, well inside one poll interval each.
        self.assertLess(time.time() - started, 1.8)
        rc, err = tool.stop()
        self.assertEqual((rc, err), (0, CLICK_TAP_UNAVAILABLE))
        self.assertEqual([l["type"] for l in tool.lines], ["window"] * 3)

        # No client of a Wayland session sees another's input: eventtap refuses at once.
        log = os.path.join(g.dir, "events.json")
        r = subprocess.run([EVENTTAP, log], env=g.env(), capture_output=True, timeout=20)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (1, b"", TAP_FAILED))
        self.assertFalse(os.path.exists(log))


    def wait_pixel(self, x, y, rgb, tolerance=4):
        deadline = time.time() + TIMEOUT
        while True:
            shot = self.gnome.screenshot()
            if close(shot.at(x, y), rgb, tolerance) or time.time() > deadline:
                break
            time.sleep(0.2)
        self.assertTrue(close(shot.at(x, y), rgb, tolerance), (x, y, shot.at(x, y), rgb))
        return shot

    def test_selector_overlay_by_pixel_click_return_and_escape(self):
        g = self.gnome
        self.gtk("Target")
        self.place("Target", 200, 150, 400, 300)
        target = g.truth()["Target"]
        g.move(900, 600)
        bare = g.screenshot()

        # Window mode: the window under the pointer cut out of the veil and outlined; the rest
        # veiled, the top bar and the other monitor included; a click gives its record.
        s = selector(self, g, "--initial-mode", "window")
        overlays_up(g)
        g.move(400, 300)
        shot = self.wait_pixel(300, 250, tinted(bare.at(300, 250), 0.1))
        for x, y in ((1000, 100), (640, 10), (1500, 400), (400, 600)):
            self.assertTrue(close(shot.at(x, y), veiled(bare.at(x, y))), (x, y, shot.at(x, y)))
        for x, y in ((198, 300), (199, 300), (600, 300), (601, 300), (400, 148), (400, 149)):
            self.assertTrue(close(shot.at(x, y), BLUE, 2), (x, y, shot.at(x, y)))
        g.click()
        out, rc, err = result(s)
        self.assertEqual(rc, 0, err)
        self.assertEqual(json.loads(out), {
            "kind": "window", "windowId": target["id"], "ownerPid": target["pid"],
            "ownerName": "gtk_fixture", "title": "Target", "displayId": output_id("Meta-0"),
            "bounds": {"x": 200, "y": 150, "width": 400, "height": 300}})

        # Screen mode: Return takes the monitor under the pointer, framed in blue.
        s = selector(self, g)
        overlays_up(g)
        g.move(1500, 400)
        shot = self.wait_pixel(1281, 400, BLUE, tolerance=6)
        self.assertTrue(close(shot.at(20, 400), veiled(bare.at(20, 400))), shot.at(20, 400))
        g.key("Return")
        self.assertEqual(result(s)[:2], (b'{"kind":"screen","displayId":%d}\n'
                                         % output_id("Meta-1"), 0))

        # Escape cancels; so does a session without a display.
        s = selector(self, g)
        overlays_up(g)
        g.key("Escape")
        self.assertEqual(result(s)[:2], (CANCELLED, 0))
        env = dict(g.env(), ORVANE_PLATFORM="wayland", WAYLAND_DISPLAY="orvane-no-such-display")
        self.assertEqual(result(selector(self, g, env=env))[:2], (CANCELLED, 0))


class ShellGoesAway(unittest.TestCase):
    def test_the_selector_cancels(self):
        with gnomeenv.Gnome() as g:
            s = selector(self, g)
            overlays_up(g)
            os.killpg(g.shell.pid, signal.SIGKILL)
            self.assertEqual(result(s)[:2], (CANCELLED, 0))


class WithoutTheExtension(unittest.TestCase):
    def test_one_line_names_the_extension_and_xwayland_is_listed(self):
        with gnomeenv.Gnome(extensions=("orvane-test@orvane.dev",)) as g:
            xfix = g.spawn([X_FIXTURE])
            xfix.stdin.write("create 10 10 300 200 title=%s class=XFixture\n"
                             % "X only".encode().hex())
            xfix.stdin.flush()
            x_window = int(xfix.stdout.readline())
            g.window("X only")
            r = subprocess.run([WINDOW_LIST], env=g.env(), capture_output=True, text=True,
                               timeout=30)
            self.assertEqual(r.returncode, 0)
            self.assertEqual([(w["id"], w["title"]) for w in json.loads(r.stdout)],
                             [(x_window, "X only")])
            lines = r.stderr.splitlines()
            self.assertEqual(len(lines), 1, r.stderr)
            self.assertIn("desktop-tools@orvane.dev", lines[0])
            self.assertIn("gnome-extensions enable desktop-tools@orvane.dev", lines[0])


if __name__ == "__main__":
    main(6, unavailable=gnomeenv.available())
