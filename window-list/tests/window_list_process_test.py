"""orvane-window-list run as the host runs it, on a private X display with fixture windows."""

import json
import os
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "harness"))
import schemas  # noqa: E402
from xenv import XServer  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL, FIXTURE = programs(2)
USAGE = "Usage: orvane-window-list [--exclude-pid <pid>]* [--exclude-owner <name>]*\n"


def frame_extents(x, window):
    out = x.run("xprop", "-id", str(window), "_NET_FRAME_EXTENTS").stdout
    if "=" not in out:
        return (0, 0, 0, 0)
    return tuple(int(v) for v in out.split("=")[1].split(","))


def entry(x, window, pid, owner, title, bx, by, w, h):
    left, right, top, bottom = frame_extents(x, window)
    bounds = '{"x":%s,"y":%s,"width":%s,"height":%s}' % (bx, by, w + left + right, h + top + bottom)
    return '{"id":%d,"ownerPid":%d,"ownerName":%s,"title":%s,"bounds":%s}' % (
        window, pid, owner, title, bounds)


class WindowList(unittest.TestCase):
    def listing(self, x, *args):
        result = x.run(TOOL, *args, check=False)
        if result.returncode == 0:
            schemas.loads("window-list", result.stdout)
        return result

    def check_fixture_windows(self, wm):
        with XServer(wm=wm) as x:
            f = x.fixture(FIXTURE)
            g = x.fixture(FIXTURE)
            plain = f.create(40, 50, 300, 200, title='say "hi" \\ a/b', **{"class": "Fixture"})
            accents = f.create(60, 70, 320, 240, title="Ünïcødé – 日本", **{"class": "Fixture"})
            untitled = f.create(80, 90, 32, 32, **{"class": "Fixture"})
            bad = g.create(100, 110, 200, 100, title=b"bad\xff\xfeend", **{"class": "Other"})
            legacy = g.create(120, 130, 200, 100, wmname=b"caf\xe9", opacity="0.02")
            # Dropped: too narrow, too transparent, unmapped, dock, above, menu, desktop.
            f.create(10, 10, 20, 100, title="narrow")
            f.create(10, 10, 100, 100, title="clear", opacity="0.01")
            f.create(10, 10, 100, 100, title="hidden", map="0")
            f.create(0, 1040, 1920, 40, title="dock", type="dock")
            f.create(10, 10, 100, 100, title="above", above="1")
            f.create(10, 10, 100, 100, title="popup", override="1")
            f.create(0, 0, 1920, 1080, title="desktop", type="desktop")
            x.wait_viewable(plain, accents, untitled, bad, legacy)

            result = self.listing(x)
            self.assertEqual((result.returncode, result.stderr), (0, ""))
            fixture_name = '"orvane-x-fixture"'
            expected = [
                entry(x, legacy, g.pid, fixture_name, '"café"', 120, 130, 200, 100),
                entry(x, bad, g.pid, '"Other"', '"bad\ufffd\ufffdend"', 100, 110, 200, 100),
                entry(x, untitled, f.pid, '"Fixture"', '""', 80, 90, 32, 32),
                entry(x, accents, f.pid, '"Fixture"', '"Ünïcødé – 日本"', 60, 70, 320, 240),
                entry(x, plain, f.pid, '"Fixture"', r'"say \"hi\" \\ a\/b"', 40, 50, 300, 200),
            ]
            self.maxDiff = None
            self.assertEqual(result.stdout, "[" + ",".join(expected) + "]\n")

            # Exclusions: owner names in any letter case, never by substring; pids by number.
            ids = lambda *a: [w["id"] for w in json.loads(self.listing(x, *a).stdout)]
            self.assertEqual(ids("--exclude-owner", "FIXTURE"), [legacy, bad])
            self.assertEqual(ids("--exclude-owner", "fix", "--exclude-owner", "oth"),
                             [legacy, bad, untitled, accents, plain])
            self.assertEqual(ids("--exclude-pid", str(f.pid)), [legacy, bad])
            self.assertEqual(ids("--exclude-pid", "+%d" % g.pid, "--exclude-pid", "12abc",
                                 "--exclude-pid"), [untitled, accents, plain])

            # A window that is unmapped, minimized or moved to another desktop leaves the list.
            f.send("unmap %d" % plain)
            if wm:
                x.run("xdotool", "windowminimize", "--sync", str(accents))
                x.run("xdotool", "set_desktop_for_window", str(untitled), "1")
                f.send("sync")
                self.assertEqual(ids(), [legacy, bad])
            else:
                self.assertEqual(ids(), [legacy, bad, untitled, accents])

    def test_fixture_windows_without_window_manager(self):
        self.check_fixture_windows(wm=False)

    def test_fixture_windows_under_window_manager(self):
        self.check_fixture_windows(wm=True)

    def test_two_monitors_with_primary_on_the_right(self):
        # Global coordinates start at the primary monitor's top-left, here at root x 1920.
        monitors = [("L", 1920, 1080, 0, 0, False), ("R", 1920, 1080, 1920, 0, True)]
        for wm in (False, True):
            with XServer(width=3840, height=1080, monitors=monitors, wm=wm) as x:
                f = x.fixture(FIXTURE)
                left = f.create(100, 200, 400, 300, title="left", undecorated="1")
                right = f.create(2000, 10, 400, 300, title="right", undecorated="1")
                x.wait_viewable(left, right)
                windows = json.loads(self.listing(x).stdout)
                self.assertEqual([(w["id"], w["bounds"]["x"], w["bounds"]["y"]) for w in windows],
                                 [(right, 80, 10), (left, -1820, 200)])
                self.assertIn('"x":-1820,', self.listing(x).stdout)

    def test_points_at_a_scale_of_two(self):
        # Xft.dpi 192 makes two pixels one point; the primary monitor starts at pixel 200.
        with XServer(width=2200, height=1200,
                     monitors=[("P", 2000, 1200, 200, 0, True), ("Q", 200, 1200, 0, 0, False)]) as x:
            subprocess.run(["xrdb", "-nocpp", "-merge"], input="Xft.dpi: 192\n", env=x.env(),
                           text=True, check=True)
            f = x.fixture(FIXTURE)
            w = f.create(400, 100, 400, 300, title="hidpi")
            x.wait_viewable(w)
            self.assertIn('"bounds":{"x":100,"y":50,"width":200,"height":150}',
                          self.listing(x).stdout)

    def test_owner_pid_from_window_property_without_resource_extension(self):
        with XServer(disable=["X-Resource"]) as x:
            f = x.fixture(FIXTURE)
            claimed = f.create(10, 10, 100, 100, pid="31337", title="claimed")
            silent = f.create(10, 10, 100, 100, title="silent")
            x.wait_viewable(claimed, silent)
            windows = json.loads(self.listing(x).stdout)
            self.assertEqual([(w["id"], w["ownerPid"], w["ownerName"]) for w in windows],
                             [(silent, 0, ""), (claimed, 31337, "")])

    def test_empty_desktop_and_no_display(self):
        with XServer() as x:
            self.assertEqual(self.listing(x).stdout, "[]\n")
        env = dict(os.environ, DISPLAY=":65000")
        r = subprocess.run([TOOL], env=env, capture_output=True, text=True, timeout=30)
        schemas.loads("window-list", r.stdout)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "[]\n", ""))

    def test_a_wayland_session_without_sway_lists_the_x_windows(self):
        # GNOME Shell or KWin: no sway IPC answers, so the tool reads XWayland's X display.
        with XServer() as x:
            w = x.fixture(FIXTURE).create(40, 50, 300, 200, title="xwayland")
            x.wait_viewable(w)
            env = {k: v for k, v in x.env().items() if k not in ("SWAYSOCK", "ORVANE_PLATFORM")}
            env["WAYLAND_DISPLAY"] = "orvane-no-such-compositor"
            r = subprocess.run([TOOL], env=env, capture_output=True, text=True, timeout=30)
            self.assertEqual((r.returncode, [e["id"] for e in json.loads(r.stdout)], r.stderr),
                             (0, [w], ""))

    def test_misuse(self):
        with XServer() as x:
            for args in (["--help"], ["--exclude-pid", "1", "stray"], ["-h"], [""],
                         ["--exclude-owner", "a", "--exclude-pid", "2", "extra"]):
                r = self.listing(x, *args)
                self.assertEqual((r.returncode, r.stdout, r.stderr), (2, "", USAGE), args)
            for args in (["--exclude-pid"], ["--exclude-owner"], ["--exclude-owner", "--help"]):
                r = self.listing(x, *args)
                self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "[]\n", ""), args)


if __name__ == "__main__":
    main(2)
