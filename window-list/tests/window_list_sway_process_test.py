"""orvane-window-list on a real headless sway: native (foot, GTK 3) and XWayland windows, two
outputs, a floating window, a hidden workspace and the scratchpad, checked against sway's own
`get_tree`; and the platform forced either way."""

import json
import os
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "harness"))
import schemas  # noqa: E402
import swayenv  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL, BOUNDS, X_FIXTURE = programs(3)
GTK_FIXTURE = os.path.join(os.path.dirname(__file__), "..", "..", "tests", "fixtures",
                           "gtk_fixture.py")


def expected_entries(tree, names):
    """What the tool must list, read from sway's tree on our own: visible views on the real
    outputs, floating before tiled per workspace, each group in focus order."""
    outputs = [o for o in tree["nodes"] if o["name"] != "__i3" and o.get("active")]
    main_output = next((o for o in outputs if o["rect"]["x"] == 0 and o["rect"]["y"] == 0),
                       outputs[0])
    ox, oy = main_output["rect"]["x"], main_output["rect"]["y"]

    def by_focus(node, children):
        order = {cid: i for i, cid in enumerate(node.get("focus", []))}
        return sorted(children, key=lambda c: order.get(c["id"], len(order)))

    def views(node):
        if node.get("pid"):
            return [node]
        out = []
        for child in by_focus(node, node.get("nodes", []) + node.get("floating_nodes", [])):
            out += views(child)
        return out

    entries = []
    for output in by_focus(tree, outputs):
        for ws in by_focus(output, output["nodes"]):
            floating = [v for c in by_focus(ws, ws.get("floating_nodes", [])) for v in views(c)]
            tiled = [v for c in by_focus(ws, ws.get("nodes", [])) for v in views(c)]
            for v in floating + tiled:
                if not v.get("visible"):
                    continue
                r, title = v["rect"], v["deco_rect"]["height"]
                if v.get("shell") == "xwayland":
                    owner = v["window_properties"]["class"]
                else:
                    owner = names.get(v["app_id"], v["app_id"])
                entries.append({"id": v["id"], "ownerPid": v["pid"], "ownerName": owner,
                                "title": v["name"],
                                "bounds": {"x": r["x"] - ox, "y": r["y"] - title - oy,
                                           "width": r["width"], "height": r["height"] + title}})
    return entries


class WindowListOnSway(unittest.TestCase):
    def setUp(self):
        self.data = tempfile.mkdtemp(prefix="orvane-xdg-")
        os.makedirs(os.path.join(self.data, "applications"))
        with open(os.path.join(self.data, "applications", "org.orvane.Term.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName[fr]=Terminal d'essai\n"
                    "Name=Orvane Test Terminal\nExec=foot\n")

    def tearDown(self):
        shutil.rmtree(self.data, ignore_errors=True)

    def foot(self, sway, title, app_id=None):
        sway.spawn(["foot", "-T", title] + (["-a", app_id] if app_id else []))
        return sway.wait_for(lambda n: n.get("name") == title)

    def listing(self, env, *args):
        r = subprocess.run([TOOL] + list(args), env=env, capture_output=True, text=True,
                           timeout=30)
        if r.returncode == 0:
            schemas.loads("window-list", r.stdout)
        return r

    def test_lists_what_sway_shows(self):
        with swayenv.Sway(outputs=[(1280, 720, 1.0), (1024, 768, 2.0)]) as s:
            s.msg("focus output HEADLESS-1")
            tiled = self.foot(s, "Tiled term", "org.orvane.Term")
            floating = self.foot(s, "Floating term")
            s.msg("[con_id=%d] floating enable, move position 300 200" % floating["id"])
            gtk = s.spawn(["/usr/bin/python3", GTK_FIXTURE, "--title", "GTK on Wayland"],
                          GDK_BACKEND="wayland")
            self.assertTrue(gtk.stdout.readline().startswith("ready"))
            native_gtk = s.wait_for(lambda n: n.get("name") == "GTK on Wayland")
            # A scratchpad window and one on a hidden workspace: neither is on screen.
            scratch = self.foot(s, "Scratch term")
            s.msg("[con_id=%d] move scratchpad" % scratch["id"])
            s.msg("workspace 7")
            hidden = self.foot(s, "Hidden term")
            s.msg("focus output HEADLESS-2")
            second = self.foot(s, "Second output term")
            s.msg("focus output HEADLESS-1")
            s.msg("workspace 1")
            s.start_xwayland()
            xfix = s.spawn([X_FIXTURE])
            xfix.stdin.write("create 10 10 300 200 title=%s class=XFixture\n"
                             % "X on sway".encode().hex())
            xfix.stdin.flush()
            x_window = int(xfix.stdout.readline())
            xw = s.wait_for(lambda n: n.get("shell") == "xwayland")

            # Desktop entries from our folders only: the machine's own (foot.desktop) would
            # name foot's windows "Foot".
            env = dict(s.env(), XDG_DATA_HOME=self.data,
                       XDG_DATA_DIRS=os.path.join(self.data, "none"))
            # Layout changes settle over a frame or two: compare once sway and the tool agree.
            deadline = time.time() + 10
            while True:
                tree = s.query("get_tree")
                r = self.listing(env)
                expected = expected_entries(tree, {"org.orvane.Term": "Orvane Test Terminal"})
                got = json.loads(r.stdout)
                if got == expected or time.time() > deadline:
                    break
                time.sleep(0.1)
            self.assertEqual((r.returncode, r.stderr), (0, ""))
            self.maxDiff = None
            self.assertEqual(got, expected)
            ids = [w["id"] for w in got]
            for view in (tiled, floating, native_gtk, second, xw):
                self.assertIn(view["id"], ids)
            for view in (scratch, hidden):
                self.assertNotIn(view["id"], ids)
            # Floating above tiled on the same workspace; the desktop entry names its app.
            self.assertLess(ids.index(floating["id"]), ids.index(tiled["id"]))
            by_id = {w["id"]: w for w in got}
            self.assertEqual(by_id[tiled["id"]]["ownerName"], "Orvane Test Terminal")
            self.assertEqual(by_id[xw["id"]]["ownerName"], "XFixture")
            self.assertEqual(by_id[native_gtk["id"]]["ownerPid"], gtk.pid)
            # The window on the second output (scale 2) in logical points beside the first.
            self.assertEqual(by_id[second["id"]]["bounds"],
                             {"x": 1280, "y": 0, "width": 512, "height": 384})
            self.assertEqual(by_id[floating["id"]]["bounds"]["x"], 300)
            self.assertEqual(by_id[floating["id"]]["bounds"]["y"], 200)

            # The same numbers follow in window-bounds, with the same frame.
            for w in got:
                b = subprocess.Popen([BOUNDS, "--window-id", str(w["id"])], env=env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
                line = json.loads(b.stdout.readline())
                b.terminate()
                b.wait(5)
                self.assertEqual((line["status"], line["bounds"], line["windowId"]),
                                 ("visible", w["bounds"], w["id"]), w)

            # Forced to X11 in the same session: XWayland's windows only, by their X ids.
            r = self.listing(dict(env, ORVANE_PLATFORM="x11"))
            self.assertEqual((r.returncode, r.stderr), (0, ""))
            self.assertEqual([(w["id"], w["ownerName"], w["title"]) for w in json.loads(r.stdout)],
                             [(x_window, "XFixture", "X on sway")])

    def test_hostile_desktop_entries_names_and_replies(self):
        apps = os.path.join(self.data, "applications")
        os.mkfifo(os.path.join(apps, "org.orvane.Fifo.desktop"))
        with open(os.path.join(apps, "org.orvane.Big.desktop"), "w") as f:
            f.write("[Desktop Entry]\nName=" + "n" * (1 << 20) + "\n")
        views = [{"app_id": "org.orvane.Fifo", "name": "t" * (1 << 20), "pid": 1}]
        views += [{"app_id": "org.orvane.Big", "name": "w%d" % i, "pid": 1} for i in range(200)]
        cut = 8192  # characters, as X11 cuts names and titles

        def run(fake):
            env = dict(fake.env(), XDG_DATA_HOME=self.data, XDG_DATA_DIRS=self.data)
            p = subprocess.Popen([TOOL], env=env, stdout=subprocess.PIPE)
            # Killed rather than waited for, so that a hang fails here rather than at ctest's
            # timeout; the peak is read from the process's own accounting.
            timer = threading.Timer(20, p.kill)
            timer.start()
            out = p.stdout.read()
            _, status, usage = os.wait4(p.pid, 0)
            timer.cancel()
            p.stdout.close()
            self.assertEqual(status, 0)
            return out, usage.ru_maxrss / 1024

        with swayenv.FakeIpc("tree", tree=swayenv.tree_of(views)) as fake:
            out, mib = run(fake)
        listed = schemas.loads("window-list", out)
        self.assertEqual(len(listed), 201)
        # A FIFO as the desktop entry is no entry: the window goes by its app_id.
        self.assertEqual((listed[0]["ownerName"], listed[0]["title"]),
                         ("org.orvane.Fifo", "t" * cut))
        self.assertEqual({w["ownerName"] for w in listed[1:]}, {"n" * cut})
        self.assertLess(mib, 256)
        # A reply header announcing 64 MiB, and nothing after it.
        with swayenv.FakeIpc("header") as fake:
            out, mib = run(fake)
        self.assertEqual(out, b"[]\n")
        self.assertLess(mib, 64)

    def test_forced_wayland_without_sway_is_an_unreachable_window_server(self):
        runtime = tempfile.mkdtemp(prefix="orvane-nosway-")
        try:
            env = {k: v for k, v in os.environ.items()
                   if k not in ("SWAYSOCK", "I3SOCK", "DISPLAY")}
            env.update(ORVANE_PLATFORM="wayland", WAYLAND_DISPLAY="wayland-9",
                       XDG_RUNTIME_DIR=runtime)
            r = self.listing(env)
            self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "[]\n", ""))
            # A socket path that nobody listens on is the same.
            r = self.listing(dict(env, SWAYSOCK=os.path.join(runtime, "gone.sock")))
            self.assertEqual((r.returncode, r.stdout, r.stderr), (0, "[]\n", ""))
        finally:
            shutil.rmtree(runtime, ignore_errors=True)


if __name__ == "__main__":
    main(3, unavailable=swayenv.available())
