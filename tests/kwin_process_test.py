"""The tools on a real headless KWin (tests/harness/kwinenv.py), which they reach through a
script they load into it: window-list against KWin's own account of its windows (native and
XWayland windows, two outputs, a minimized window, another desktop), window-bounds through
move, resize, minimize, activate and close with window-list and sensors running beside it,
sensors' window lines, eventtap's refusal, the selector driven by KWin's fake input device,
without a compositor and losing it, scaled outputs, and a KWin that stops answering."""
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

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "eventtap", "tests"))
from eventlog_check import TAP_FAILED  # noqa: E402
import clients  # noqa: E402
import kwinenv  # noqa: E402
import schemas  # noqa: E402
from process_main import main, programs  # noqa: E402

WINDOW_LIST, WINDOW_BOUNDS, SENSORS, EVENTTAP, SELECTOR, INPUT = programs(6)
CLICK_TAP_UNAVAILABLE = b"[orvane/capture-sensors] click tap unavailable\n"
CANCELLED = b'{"cancelled":true}\n'


def Lines(args, env):
    return clients.ToolLines(args, env)


class OnKWin(unittest.TestCase):
    def setUp(self):
        self.data = tempfile.mkdtemp(prefix="orvane-xdg-")
        self.addCleanup(shutil.rmtree, self.data, True)
        os.makedirs(os.path.join(self.data, "applications"))
        with open(os.path.join(self.data, "applications", "named_fixture.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Named Fixture\nExec=true\n")

    def kwin(self, **options):
        k = kwinenv.KWin(**options)
        k.start()
        self.addCleanup(k.stop)
        return k

    def env(self, k):
        return dict(k.env(), XDG_DATA_HOME=self.data,
                    XDG_DATA_DIRS=os.path.join(self.data, "none"))

    def listing(self, k):
        r = subprocess.run([WINDOW_LIST], env=self.env(k), capture_output=True, text=True,
                           timeout=30)
        self.assertEqual((r.returncode, r.stderr), (0, ""))
        return schemas.loads("window-list", r.stdout)

    def follow(self, k, window):
        tool = Lines([WINDOW_BOUNDS, "--window-id", str(window), "--poll-ms", "50"], self.env(k))
        self.addCleanup(lambda: tool.proc.poll() is None and tool.proc.kill())
        return tool

    def test_window_list_and_window_bounds_follow_what_kwin_says(self):
        k = self.kwin(xwayland=True)
        native = k.gtk("Native", "wayland", "400x300+40+40", "--wm-class",
                       "named_fixture,Named_fixture")
        k.gtk("Second output", "wayland", "400x300+40+40")
        k.gtk("X window", "x11", "300x200+60+60", "--wm-class", "xfix,XFix")
        k.gtk("Minimized", "wayland")
        k.gtk("Elsewhere", "wayland")
        k.script("workspace.desktops = 2;")
        k.on_window("Second output", "c.frameGeometry = {x: 1400, y: 100, width: 400, "
                                     "height: 300};")
        k.on_window("Minimized", "c.minimized = true;")
        k.on_window("Elsewhere", "c.desktop = 2;")
        k.on_window("Native", "workspace.activeClient = c;")
        truth = k.wait_for(lambda w: w.get("Second output", {}).get("x") == 1400
                           and w.get("Minimized", {}).get("minimized"))
        # KWin's desktops are not in getWindowInfo's answer in a form worth reading: the
        # window on desktop 2 is known by its title.
        deadline = time.time() + 10
        while True:
            got = self.listing(k)
            titles = [w["title"] for w in got]
            if (sorted(titles) == ["Native", "Second output", "X window"]
                    and titles[0] == "Native") or time.time() > deadline:
                break
            time.sleep(0.1)
        self.assertEqual(titles[0], "Native", got)
        self.assertEqual(sorted(titles), ["Native", "Second output", "X window"])
        by_title = {w["title"]: w for w in got}
        for title, w in by_title.items():
            t = truth[title]
            self.assertEqual(w["bounds"], {"x": t["x"], "y": t["y"], "width": t["width"],
                                           "height": t["height"]}, title)
        self.assertEqual(by_title["Native"]["ownerPid"], native.pid)
        self.assertEqual(by_title["Native"]["ownerName"], "Named Fixture")
        # KWin gives XWayland windows' WM_CLASS class in lower case.
        self.assertEqual(by_title["X window"]["ownerName"], "xfix")
        self.assertEqual(len({w["id"] for w in got}), 3)

        # One window followed by window-bounds, with window-list runs and a second follower
        # beside it: every process loads a script of its own, and none unloads another's.
        wid = by_title["Second output"]["id"]
        tool = self.follow(k, wid)
        other = self.follow(k, by_title["Native"]["id"])
        first = tool.wait_for(lambda l: l["status"] == "visible")
        main_display = other.wait_for(lambda l: l["status"] == "visible")["displayId"]
        self.assertEqual(first["bounds"], {"x": 1400, "y": 100, "width": 400, "height": 300})
        self.assertNotEqual(first["displayId"], main_display)
        results = []
        runs = [threading.Thread(target=lambda: results.append(
            [w["id"] for w in self.listing(k)])) for _ in range(6)]
        for r in runs:
            r.start()
        k.on_window("Second output", "c.frameGeometry = {x: 200, y: 150, width: 400, "
                                     "height: 300};")
        line = tool.wait_for(lambda l: l.get("bounds", {}).get("x") == 200)
        self.assertEqual((line["status"], line["bounds"]["y"], line["displayId"]),
                         ("visible", 150, main_display))
        for r in runs:
            r.join(30)
        self.assertEqual([sorted(r) for r in results], [sorted(by_title[t]["id"]
                         for t in by_title)] * 6)
        # Every listing unloaded its script at its end: KWin holds the followers' and the test's.
        deadline = time.time() + 10
        while k.loaded_scripts() != k.scripts + 2 and time.time() < deadline:
            time.sleep(0.1)
        self.assertEqual(k.loaded_scripts(), k.scripts + 2)
        k.on_window("Second output", "c.frameGeometry = {x: 200, y: 150, width: 500, "
                                     "height: 350};")
        line = tool.wait_for(lambda l: l.get("bounds", {}).get("width") == 500)
        self.assertEqual(line["bounds"]["height"], 350)
        k.on_window("Second output", "c.minimized = true;")
        tool.wait_for(lambda l: l["status"] == "unavailable")
        tool.say("activate\n")
        tool.wait_for(lambda l: l["status"] == "visible")
        self.assertEqual(self.listing(k)[0]["id"], wid)
        self.assertFalse(k.windows()["Second output"]["minimized"])
        k.on_window("Second output", "c.closeWindow();")
        line = tool.wait_for(lambda l: l["status"] == "closed")
        self.assertEqual(sorted(line), ["atUnixMs", "status", "windowId"])
        for t in (tool, other):
            self.assertEqual(t.stop(), (0, b""))

    def test_sensors_window_lines_and_eventtaps_refusal(self):
        k = self.kwin()
        k.gtk("Editor", "wayland", "400x300+40+40", "--wm-class", "editor_fixture,Editor")
        notes = k.gtk("Notes/Draft", "wayland", "400x300+40+40", "--wm-class",
                      "notes_fixture,Notes")
        k.on_window("Editor", "workspace.activeClient = c;")
        tool = Lines([SENSORS, "--poll-ms", "100"], self.env(k))
        self.addCleanup(lambda: tool.proc.poll() is None and tool.proc.kill())

        def window(app, title):
            line = tool.wait_for(lambda l: l["type"] == "window" and l.get("title") == title)
            self.assertEqual((line["app"], line["bundleId"]), (app, app))

        window("editor_fixture", "Editor")
        k.on_window("Notes/Draft", "workspace.activeClient = c;")
        window("notes_fixture", "Notes/Draft")
        notes.stdin.write("title Notes/Final\n")
        notes.stdin.flush()
        window("notes_fixture", "Notes/Final")
        tool.wait_err(CLICK_TAP_UNAVAILABLE)
        self.assertEqual(tool.stop()[0], 0)

        p = subprocess.run([EVENTTAP, os.path.join(self.data, "log.json")], env=k.env(),
                           capture_output=True, timeout=20)
        self.assertEqual((p.returncode, p.stdout, p.stderr), (1, b"", TAP_FAILED))
        self.assertFalse(os.path.exists(os.path.join(self.data, "log.json")))

    def selector(self, k, *args):
        p = subprocess.Popen([SELECTOR, "select"] + list(args), env=self.env(k),
                             stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.addCleanup(lambda: p.poll() is None and p.kill())
        return p

    def until_it_ends(self, p, input, commands):
        """Gives the input fixture `commands` again and again until the selector ends: what
        comes before its overlay is up goes to the windows under it, which ignore it."""
        deadline = time.time() + 20
        while p.poll() is None and time.time() < deadline:
            for c in commands:
                input(c)
            try:
                p.wait(0.5)
            except subprocess.TimeoutExpired:
                pass
        out, err = p.communicate(timeout=10)
        self.assertEqual(p.returncode, 0, err)
        return json.loads(out)

    def test_selector_on_kwin(self):
        k = self.kwin()
        k.gtk("Picked", "wayland", "400x300+40+40")
        k.gtk("Right", "wayland", "400x300+40+40")
        k.on_window("Picked", "c.frameGeometry = {x: 300, y: 200, width: 400, height: 300};")
        k.on_window("Right", "c.frameGeometry = {x: 1500, y: 200, width: 400, height: 300};")
        k.wait_for(lambda w: w.get("Right", {}).get("x") == 1500
                   and w.get("Picked", {}).get("x") == 300)
        listed = {w["title"]: w for w in self.listing(k)}
        displays = {}
        for title in listed:
            bounds = self.follow(k, listed[title]["id"])
            displays[title] = bounds.wait_for(lambda l: l["status"] == "visible")["displayId"]
            bounds.stop()
        input_proc = subprocess.Popen([INPUT], env=k.env(), stdin=subprocess.PIPE,
                                      stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: input_proc.poll() is None and input_proc.kill())
        self.assertEqual(input_proc.stdout.readline().strip(), "ready")

        def input(command):
            input_proc.stdin.write(command + "\n")
            input_proc.stdin.flush()
            self.assertEqual(input_proc.stdout.readline().strip(), "ok")

        # A click on a window: its record, as window-list and window-bounds give it.
        got = self.until_it_ends(self.selector(k, "--initial-mode", "window"), input,
                                 ["move 500 351 2560 800", "move 500 350 2560 800", "click"])
        p = listed["Picked"]
        self.assertEqual(got, {"kind": "window", "windowId": p["id"], "ownerPid": p["ownerPid"],
                               "ownerName": p["ownerName"], "title": "Picked",
                               "displayId": displays["Picked"], "bounds": p["bounds"]})
        # Return in screen mode: the display under the pointer.
        got = self.until_it_ends(self.selector(k), input,
                                 ["move 1700 101 2560 800", "move 1700 100 2560 800",
                                  "key Return"])
        self.assertEqual(got, {"kind": "screen", "displayId": displays["Right"]})
        got = self.until_it_ends(self.selector(k), input, ["key Escape"])
        self.assertEqual(got, {"cancelled": True})
        input_proc.stdin.close()
        input_proc.wait(10)
        input_proc.stdout.close()

        # No display: cancelled at once. KWin killed under the overlay: cancelled too.
        env = dict(k.env(), ORVANE_PLATFORM="wayland", WAYLAND_DISPLAY="orvane-no-such-display")
        r = subprocess.run([SELECTOR, "select"], env=env, capture_output=True, timeout=30)
        self.assertEqual((r.stdout, r.returncode), (CANCELLED, 0), r.stderr)
        p = self.selector(k)
        time.sleep(1.5)
        self.assertIsNone(p.poll())
        k.kill()
        out, err = p.communicate(timeout=20)
        self.assertEqual((out, p.returncode), (CANCELLED, 0), err)


    def test_scaled_outputs_and_a_kwin_that_stops_answering(self):
        k = self.kwin(scale=1.5)
        k.gtk("Followed", "wayland")
        k.wait_for(lambda w: "Followed" in w)
        tool = self.follow(k, self.listing(k)[0]["id"])
        # The output's scale (a fractional one, which wl_output's integer scale rounds up).
        self.assertEqual(tool.wait_for(lambda l: l["status"] == "visible")["scaleFactor"], 1.5)
        os.killpg(k.proc.pid, signal.SIGSTOP)
        self.addCleanup(os.killpg, k.proc.pid, signal.SIGCONT)
        # As when the window server is gone: nothing listed, within the tools' deadlines.
        start = time.time()
        r = subprocess.run([WINDOW_LIST], env=self.env(k), capture_output=True, timeout=30)
        self.assertEqual((r.returncode, r.stdout), (0, b"[]\n"), r.stderr)
        self.assertLess(time.time() - start, 6)
        # The follower goes on and ends at once on SIGTERM.
        time.sleep(2)
        self.assertIsNone(tool.proc.poll())
        start = time.time()
        self.assertEqual(tool.stop()[0], 0)
        self.assertLess(time.time() - start, 2)


if __name__ == "__main__":
    main(6, unavailable=kwinenv.available())
