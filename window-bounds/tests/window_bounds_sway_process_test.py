"""orvane-window-bounds on a real headless sway: a window followed through moves, a resize,
another output, a hidden workspace, `activate` and its end; the platform forced to Wayland
without sway."""

import os
import re
import shutil
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "harness"))
import clients  # noqa: E402
import schemas  # noqa: E402
import swayenv  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL, WINDOW_LIST, X_FIXTURE = programs(3)
LINE = re.compile(rb'^\{"atUnixMs":(\d+),(.*)\}\n$')


def check(raw):
    schemas.loads("window-bounds-line", raw)
    assert LINE.match(raw), raw


def Tool(env, window, poll_ms=20):
    """One running tool; its lines collected as they come."""
    return clients.ToolLines([TOOL, "--window-id", str(window), "--poll-ms", str(poll_ms)], env,
                             check=check, timeout=10)


def focused(tree):
    stack = [tree]
    while stack:
        node = stack.pop()
        if node.get("focused"):
            return node["id"]
        stack += node.get("nodes", []) + node.get("floating_nodes", [])
    return None


class WindowBoundsOnSway(unittest.TestCase):
    def follow(self, env, window):
        tool = Tool(env, window)
        # A failed check must not leave the tool running.
        self.addCleanup(lambda: tool.proc.poll() is None and tool.proc.kill())
        return tool

    def test_follows_a_window_through_its_life(self):
        with swayenv.Sway(outputs=[(1280, 720, 1.0), (1024, 768, 2.0)]) as s:
            s.msg("focus output HEADLESS-1")
            s.spawn(["foot", "-T", "Other"])
            other = s.wait_for(lambda n: n.get("name") == "Other")
            s.spawn(["foot", "-T", "Followed"])
            w = s.wait_for(lambda n: n.get("name") == "Followed")["id"]
            # A floating container's size and position are its frame's, title bar included:
            # as seen on screen, which is what the tool prints.
            # The client answers the float with a size of its own: resized once that is done.
            s.msg("[con_id=%d] floating enable" % w)
            s.wait_for(lambda n: n["id"] == w and n["type"] == "floating_con")
            time.sleep(0.5)
            s.msg("[con_id=%d] resize set 400 300, move position 100 50" % w)
            s.wait_for(lambda n: n["id"] == w and n["rect"]["width"] == 400)
            tool = self.follow(s.env(), w)
            first = tool.wait_for(lambda l: l.get("bounds", {}).get("width") == 400)
            main_display = first["displayId"]
            self.assertEqual((first["status"], first["bounds"], first["scaleFactor"],
                              first["windowId"]),
                             ("visible", {"x": 100, "y": 50, "width": 400, "height": 300}, 1, w))
            node = s.wait_for(lambda n: n["id"] == w and n["deco_rect"]["height"] > 0)
            self.assertEqual(node["rect"]["height"] + node["deco_rect"]["height"], 300, (node, tool.lines))

            s.msg("[con_id=%d] move position 220 140" % w)
            line = tool.wait_for(lambda l: l.get("bounds", {}).get("x") == 220)
            self.assertEqual((line["status"], line["bounds"]["y"]), ("visible", 140))
            s.msg("[con_id=%d] resize set 500 350" % w)
            line = tool.wait_for(lambda l: l.get("bounds", {}).get("width") == 500)
            self.assertEqual(line["bounds"]["height"], 350)

            # To the second output, at scale 2: another display and its scale factor.
            s.msg("[con_id=%d] move to output HEADLESS-2" % w)
            line = tool.wait_for(lambda l: l.get("scaleFactor") == 2)
            self.assertEqual(line["status"], "visible")
            self.assertNotEqual(line["displayId"], main_display)
            self.assertGreaterEqual(line["bounds"]["x"], 1280)
            s.msg("[con_id=%d] move to output HEADLESS-1" % w)
            tool.wait_for(lambda l: l.get("displayId") == main_display)

            # A workspace switch hides it; activate brings its workspace back and focuses it.
            s.msg("[con_id=%d] move to workspace 5" % w)
            line = tool.wait_for(lambda l: l["status"] == "unavailable")
            self.assertIn("bounds", line)
            s.msg("[con_id=%d] focus" % other["id"])
            tool.say("activate\n")
            tool.wait_for(lambda l: l["status"] == "visible")
            deadline = time.time() + 5
            while focused(s.query("get_tree")) != w and time.time() < deadline:
                time.sleep(0.05)
            self.assertEqual(focused(s.query("get_tree")), w)

            s.msg("[con_id=%d] kill" % w)
            line = tool.wait_for(lambda l: l["status"] == "closed")
            self.assertEqual(sorted(line), ["atUnixMs", "status", "windowId"])
            rc, err = tool.stop()
            self.assertEqual((rc, err), (0, b""))

    def test_activate_after_close_focuses_the_owners_front_window(self):
        with swayenv.Sway() as s:
            s.start_xwayland()
            fixture = s.spawn([X_FIXTURE])
            made, x_ids = [], []
            for title in ("first", "second"):
                fixture.stdin.write("create 10 10 300 200 title=%s\n" % title.encode().hex())
                fixture.stdin.flush()
                x_ids.append(int(fixture.stdout.readline()))
                made.append(s.wait_for(lambda n, t=title: n.get("name") == t)["id"])
            s.spawn(["foot", "-T", "Other"])
            other = s.wait_for(lambda n: n.get("name") == "Other")["id"]
            tool = self.follow(s.env(), made[0])
            tool.wait_for(lambda l: l["status"] == "visible")
            # Closed by its client: sway's kill would end a client that does not take
            # WM_DELETE_WINDOW, and its other window with it.
            fixture.stdin.write("destroy %d\n" % x_ids[0])
            fixture.stdin.flush()
            fixture.stdout.readline()
            tool.wait_for(lambda l: l["status"] == "closed")
            s.msg("[con_id=%d] focus" % other)
            tool.say("activate\n")
            deadline = time.time() + 5
            while focused(s.query("get_tree")) != made[1] and time.time() < deadline:
                time.sleep(0.05)
            self.assertEqual(focused(s.query("get_tree")), made[1])
            self.assertEqual(tool.stop(), (0, b""))

    def test_forced_wayland_without_sway_is_an_unreachable_window_server(self):
        runtime = tempfile.mkdtemp(prefix="orvane-nosway-")
        try:
            env = {k: v for k, v in os.environ.items()
                   if k not in ("SWAYSOCK", "I3SOCK", "DISPLAY")}
            env.update(ORVANE_PLATFORM="wayland", WAYLAND_DISPLAY="wayland-9",
                       XDG_RUNTIME_DIR=runtime)
            # As on X11 without a server: the window is never seen, "closed" on the third
            # poll, and the tool keeps going (and ignores activate).
            tool = self.follow(env, 12345)
            line = tool.wait_for(lambda l: True)
            tool.say("activate\n")
            time.sleep(0.2)
            self.assertIsNone(tool.proc.poll())
            self.assertEqual(tool.stop(), (0, b""))
            self.assertEqual(tool.lines, [line])
            self.assertEqual((line["status"], line["windowId"]), ("closed", 12345))
        finally:
            shutil.rmtree(runtime, ignore_errors=True)


if __name__ == "__main__":
    main(3, unavailable=swayenv.available())
