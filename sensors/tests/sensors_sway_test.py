"""orvane-capture-sensors in a sway session: a private headless sway, GTK 3 fixtures on Wayland
(and one through XWayland) on a private accessibility bus, foot, and Chromium on Wayland. The
application in front and its title come from sway's tree; the address from AT-SPI; there are no
click lines, since a Wayland client cannot see the pointer's buttons."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "harness"))
from atspi import AccessibilityBus, GtkFixture, available as atspi_available  # noqa: E402
import swayenv  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL = os.path.abspath(programs(1)[0])
import sensors_process_test as x11  # noqa: E402  (its Tool and line helpers; same TOOL)

CLICK_TAP_UNAVAILABLE = b"[orvane/capture-sensors] click tap unavailable\n"
TIMEOUT = x11.TIMEOUT
of_type, expected, window_line = x11.of_type, x11.expected, x11.window_line


def unavailable():
    return swayenv.available() or (None if atspi_available() else "no AT-SPI bus launcher")


class InSway(unittest.TestCase):
    def setUp(self):
        self.sway = swayenv.Sway()
        self.sway.start()
        self.addCleanup(self.sway.stop)
        # The accessibility bus gives its children an XDG_RUNTIME_DIR of its own, so the
        # compositor is named by its socket's full path.
        base = self.sway.env()
        base["WAYLAND_DISPLAY"] = os.path.join(self.sway.runtime, "wayland-1")
        self.bus = AccessibilityBus(base)
        self.bus.start()
        self.addCleanup(self.bus.stop)
        self.tools = []
        self.addCleanup(self.stop_tools)

    def stop_tools(self):
        for tool in self.tools:
            if tool.proc.poll() is None:
                tool.stop(signal.SIGKILL)

    def env(self, backend="wayland"):
        env = self.bus.env()
        env["GDK_BACKEND"] = backend
        if backend == "x11":
            env["DISPLAY"] = self.sway.start_xwayland()
        return env

    def gtk(self, wm_class, backend="wayland", **options):
        app = GtkFixture(self.env(backend), wm_class=wm_class, **options)
        self.addCleanup(app.close)
        self.sway.wait_for(lambda n: n.get("pid") == app.pid)
        return app

    def tool(self, *args):
        # Desktop entries of the test's own: the application names do not hang on what this
        # machine has installed.
        data = tempfile.mkdtemp(prefix="orvane-data-")
        self.addCleanup(shutil.rmtree, data, True)
        os.mkdir(os.path.join(data, "applications"))
        with open(os.path.join(data, "applications", "chromium.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=Example Browser\nExec=chromium\n")
        env = dict(self.env(), XDG_DATA_HOME=data, XDG_DATA_DIRS=data)
        tool = x11.Tool(env, *args)
        self.tools.append(tool)
        return tool

    def focus(self, pid):
        self.sway.msg("[pid=%d] focus" % pid)

    def test_window_lines_follow_sway_focus_and_titles(self):
        editor = self.gtk("editor_fixture,Editor_fixture", title="Editor", button="Save")
        notes = self.gtk("notes_fixture,Notes_fixture", title="Notes/Draft")
        # A client without accessibility: its title is sway's all the same.
        # Its shell sets the title it finds in `retitle` once that file appears.
        work = tempfile.mkdtemp(prefix="orvane-foot-")
        self.addCleanup(shutil.rmtree, work, True)
        retitle = os.path.join(work, "retitle")
        term = subprocess.Popen(
            ["foot", "--app-id", "orvane-term", "--title", "Shell", "sh", "-c",
             'while [ ! -e "$1" ]; do sleep 0.05; done; printf "\\033]2;%s\\007" "$(cat "$1")";'
             ' sleep 60', "sh", retitle],
            env=self.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.addCleanup(term.wait)
        self.addCleanup(term.kill)
        self.sway.wait_for(lambda n: n.get("app_id") == "orvane-term")
        self.focus(editor.pid)

        tool = self.tool()
        line = tool.next(of_type("window"))
        self.assertEqual(line, expected(
            window_line("editor_fixture", "editor_fixture", "Editor"), line))

        self.focus(notes.pid)
        line = tool.next(of_type("window"))
        self.assertEqual(line, expected(
            window_line("notes_fixture", "notes_fixture", "Notes/Draft"), line))
        notes.send("title Notes/Final")
        line = tool.next(of_type("window"))
        self.assertEqual(line, expected(
            window_line("notes_fixture", "notes_fixture", "Notes/Final"), line))

        self.focus(term.pid)
        line = tool.next(of_type("window"))
        self.assertEqual(line, expected(window_line("orvane-term", "orvane-term", "Shell"), line))
        with open(retitle + ".new", "w") as f:
            f.write("vim notes.txt")
        os.rename(retitle + ".new", retitle)
        line = tool.next(of_type("window"))
        self.assertEqual(line, expected(
            window_line("orvane-term", "orvane-term", "vim notes.txt"), line))

        # An empty workspace in front: no application, so no line and nothing forgotten;
        # back on the terminal, nothing changed.
        self.sway.msg("workspace 2")
        time.sleep(0.5)
        self.sway.msg("workspace 1")
        self.focus(editor.pid)
        line = tool.next(of_type("window"))
        self.assertEqual(json.loads(line)["title"], "Editor")
        time.sleep(0.5)

        rc, err = tool.stop(signal.SIGTERM)
        self.assertEqual(rc, 0)
        self.assertEqual(err, CLICK_TAP_UNAVAILABLE)
        kinds = [json.loads(raw)["type"] for raw in tool.lines]
        self.assertEqual(kinds, ["window"] * 6, tool.lines)

    def test_an_xwayland_window_is_named_by_its_class(self):
        app = self.gtk("legacy_fixture,Legacy", backend="x11", title="Old app")
        self.focus(app.pid)
        tool = self.tool()
        line = tool.next(of_type("window"))
        self.assertEqual(line, expected(window_line("Legacy", "legacy", "Old app"), line))
        tool.wait_err(CLICK_TAP_UNAVAILABLE)
        rc, err = tool.stop(signal.SIGINT)
        self.assertEqual((rc, err), (0, CLICK_TAP_UNAVAILABLE))

    def test_ignored_process_in_front(self):
        self.gtk("behind_fixture,Behind_fixture", title="Behind")
        front = self.gtk("recorder,Recorder", title="Front")
        # On another workspace: not on screen, so never the content application.
        self.sway.msg("workspace 2")
        self.gtk("hidden_fixture,Hidden_fixture", title="Hidden")
        self.sway.msg("workspace 1")
        self.focus(front.pid)
        tool = self.tool("--ignore-pid", str(front.pid))
        line = tool.next(of_type("window"))
        self.assertEqual(line, expected(
            window_line("behind_fixture", "behind_fixture", "Behind"), line))
        time.sleep(0.5)
        self.assertEqual(len(tool.lines), 1, tool.lines)

    def test_browser_address_from_the_accessibility_tree(self):
        self.gtk("chromium,Chromium", title="Example", address="example.org/path")
        tool = self.tool()
        url = tool.next(of_type("url"))
        self.assertEqual(url, expected(
            '{"app":"Example Browser","atUnixMs":%d,"title":"Example","type":"url",'
            '"url":"https:\\/\\/example.org\\/path"}', url))
        rc, _ = tool.stop()
        self.assertEqual(rc, 0)


class ChromiumOnWayland(unittest.TestCase):
    def test_chromium_page_address(self):
        chromium = shutil.which("chromium")
        self.assertIsNotNone(chromium, "chromium is one of the project's dependencies")
        profile = tempfile.mkdtemp(prefix="orvane-chromium-")
        self.addCleanup(shutil.rmtree, profile, True)
        page = os.path.join(profile, "page.html")
        with open(page, "w") as f:
            f.write("<!doctype html><title>Orvane page</title><p>Hello</p>")
        with swayenv.Sway() as sway:
            base = sway.env()
            base["WAYLAND_DISPLAY"] = os.path.join(sway.runtime, "wayland-1")
            with AccessibilityBus(base) as bus:
                # Chromium joins the accessibility bus only when accessibility is on for the
                # session when it starts.
                bus.set_enabled(True)
                browser = subprocess.Popen(
                    [chromium, "--ozone-platform=wayland", "--no-sandbox",
                     "--user-data-dir=" + profile, "--no-first-run",
                     "--no-default-browser-check", "--disable-gpu",
                     "--force-renderer-accessibility", "--disable-features=Translate",
                     "file://" + page],
                    env=bus.env(), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                tool = None
                try:
                    sway.wait_for(lambda n: n.get("app_id") == "chromium", timeout=60)
                    tool = x11.Tool(bus.env())
                    url = tool.next(of_type("url"), timeout=90)
                    self.assertEqual(json.loads(url)["url"], "file://" + page)
                    tool.seen = 0
                    window = json.loads(tool.next(
                        of_type("window", title="Orvane page - Chromium"), timeout=30))
                    self.assertEqual(window["bundleId"], "chromium")
                    self.assertEqual(json.loads(url)["app"], window["app"])
                    time.sleep(1)
                    self.assertEqual(
                        [l for l in tool.lines if json.loads(l)["type"] == "url"], [url])
                    rc, err = tool.stop()
                    self.assertEqual((rc, err), (0, CLICK_TAP_UNAVAILABLE))
                finally:
                    if tool and tool.proc.poll() is None:
                        tool.stop(signal.SIGKILL)
                    browser.terminate()
                    try:
                        browser.wait(10)
                    except subprocess.TimeoutExpired:
                        browser.kill()
                        browser.wait()


if __name__ == "__main__":
    main(1, unavailable=unavailable())
