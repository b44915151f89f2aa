"""orvane-eventtap run as the host runs it: on a private X display with a GTK 3 application on a
private accessibility bus, input from xdotool, stopped by a signal; the log checked byte by
byte."""

import os
import shutil
import signal
import stat
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "harness"))
from atspi import AccessibilityBus, GtkFixture, available, unreachable_env  # noqa: E402
from eventlog_check import (TAP_FAILED, USAGE, WRITE_FAILED, Recorder,  # noqa: E402
                            check_log)
from xenv import XServer  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL = os.path.abspath(programs(1)[0])
# How long a focus change takes to reach the recorder over the accessibility bus: GTK sends
# the focus event when the fixture answers, but the bus delivers it on its own time.
FOCUS_SETTLE = 1.0

# macOS virtual key codes of the keys typed below.
KVK = {"h": 4, "i": 34, "/": 44, "'": 39, "\\": 42, "p": 35, "w": 13, "Return": 36}
MODIFIER_KEYS = {56, 60, 59, 62, 58, 61, 55, 54}  # shift, control, option, command


class EventTap(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.x = XServer(width=1280, height=800)
        cls.x.start()
        cls.bus = AccessibilityBus(cls.x.env())
        cls.bus.start()
        cls.app = GtkFixture(cls.bus.env(), title="Editor", entry="", password=True,
                             button="Save", geometry="480x240+40+40")

    @classmethod
    def tearDownClass(cls):
        cls.app.close()
        cls.bus.stop()
        cls.x.stop()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="orvane-eventtap-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def xdo(self, *args):
        self.x.run("xdotool", *args)

    def start(self, *args, env=None, **popen):
        r = Recorder(TOOL, *args, env=env or self.bus.env(), **popen)
        self.addCleanup(r.kill)
        r.wait_ready()
        return r

    def focus(self, name):
        # A loaded fixture may handle input seconds after the display sent it, and a loaded
        # recorder read the field of a key late: the input typed so far goes where the test
        # sent it, and is recorded there, before focus moves.
        self.app.send("sync", timeout=120)
        time.sleep(FOCUS_SETTLE)
        self.app.send("focus " + name)
        time.sleep(FOCUS_SETTLE)

    def read(self, path):
        with open(path, "rb") as f:
            return f.read()

    def finished_log(self, recorder, sig=signal.SIGTERM):
        rc, out, err = recorder.stop(sig)
        self.assertEqual((rc, out, err), (0, b"", b""))
        return check_log(self, self.read(recorder.path))

    def keys(self, log):
        return [e for e in log["events"] if e["type"] == "keyDown"]

    # -- typing --------------------------------------------------------------------------

    def type_into_both_entries(self, recorder):
        self.focus("entry")
        self.xdo("type", "--delay", "30", "hi/\"\\")
        self.focus("password")
        self.xdo("type", "--delay", "30", "pw")
        self.xdo("key", "Return")
        return self.finished_log(recorder)

    def test_plain_mode_keeps_text_except_in_the_password_entry(self):
        r = self.start(os.path.join(self.dir, "log.json"), "plain")
        log = self.type_into_both_entries(r)
        self.assertFalse(log["redactionEnabled"])
        keys = self.keys(log)
        # Modifier keys are not key presses of their own; shift+' gives the quote.
        self.assertFalse([k for k in keys if k["keyCode"] in MODIFIER_KEYS], keys)
        self.assertEqual([(k["keyCode"], k["text"], k["redacted"]) for k in keys],
                         [(KVK["h"], "h", False), (KVK["i"], "i", False), (KVK["/"], "/", False),
                          (KVK["'"], "\"", False), (KVK["\\"], "\\", False),
                          (KVK["p"], "", True), (KVK["w"], "", True),
                          (KVK["Return"], "", True)])
        entry = {"role": "AXTextField", "subrole": "", "title": "", "description": "",
                 "secure": False}
        password = {"role": "AXTextField", "subrole": "AXSecureTextField", "title": "Password",
                    "description": "", "secure": True}
        self.assertEqual([k.get("field") for k in keys], [entry] * 5 + [password] * 3)
        # The escapes as they are in the file.
        raw = self.read(r.path)
        self.assertIn(b'"text":"\\/"', raw)
        self.assertIn(b'"text":"\\""', raw)
        self.assertIn(b'"text":"\\\\"', raw)

    def test_redact_mode_keeps_no_text_but_every_key_code(self):
        for mode in ([], ["redact"], ["Plain"], ["redact", "plain"]):
            with self.subTest(mode=mode):
                r = self.start(os.path.join(self.dir, "log-%d.json" % len(mode)), *mode)
                log = self.type_into_both_entries(r)
                self.assertTrue(log["redactionEnabled"])
                keys = self.keys(log)
                self.assertEqual([k["keyCode"] for k in keys],
                                 [KVK[c] for c in "hi/'\\pw"] + [KVK["Return"]])
                self.assertTrue(all(k["text"] == "" and k["redacted"] for k in keys), keys)
                self.assertEqual([k["field"]["secure"] for k in keys], [False] * 5 + [True] * 3)
                self.assertNotIn(b"hi", self.read(r.path))

    def test_the_field_follows_changes_of_the_focused_entry(self):
        # The focused element is read on every key; what it says must follow the application,
        # not a value from an earlier key: a new name and description, the entry turning into
        # a password entry and back, and focus moving away and back.
        self.addCleanup(self.app.send, "description entry ")
        self.addCleanup(self.app.send, "name entry ")
        self.addCleanup(self.app.send, "show entry")
        r = self.start(os.path.join(self.dir, "log.json"), "plain")

        def change(*commands):
            self.app.send("sync", timeout=120)
            for command in commands:
                self.app.send(command)
            time.sleep(FOCUS_SETTLE)

        def key(name):
            # The recorder reads the field once the key reaches it, which on a busy machine can
            # be after a change the test makes next; that read is left its time first.
            self.xdo("key", name)
            time.sleep(FOCUS_SETTLE)

        self.focus("entry")
        key("h")
        change("name entry Notes", "description entry Shopping list")
        key("i")
        change("hide entry")
        key("p")
        change("show entry", "name entry Todo")
        key("w")
        self.focus("password")
        self.xdo("key", "p")
        self.focus("entry")
        self.xdo("key", "h")
        keys = self.keys(self.finished_log(r))

        def field(title, description, secure=False):
            return {"role": "AXTextField", "subrole": "AXSecureTextField" if secure else "",
                    "title": title, "description": description, "secure": secure}
        self.assertEqual([(k["text"], k["redacted"], k.get("field")) for k in keys], [
            ("h", False, field("", "")),
            ("i", False, field("Notes", "Shopping list")),
            ("", True, field("Notes", "Shopping list", secure=True)),
            ("w", False, field("Todo", "Shopping list")),
            ("", True, field("Password", "", secure=True)),
            ("h", False, field("Todo", "Shopping list")),
        ])

    # -- pointer -------------------------------------------------------------------------

    def pointer_at(self):
        out = self.x.run("xdotool", "getmouselocation", "--shell").stdout
        values = dict(line.split("=", 1) for line in out.split())
        return int(values["X"]), int(values["Y"])

    def test_clicks_scrolls_and_moves(self):
        r = self.start(os.path.join(self.dir, "log.json"))
        self.focus("entry")
        bx, by = self.app.center("button")
        self.xdo("mousemove", str(bx), str(by))
        self.xdo("click", "1")
        self.xdo("mousemove", "700", "500")
        self.xdo("click", "3")
        self.xdo("key", "Escape")  # closes a context menu, should one have opened
        for button in ("4", "5", "6", "7", "2", "8", "9"):
            self.xdo("click", button)
        # A path of small relative moves, as a mouse makes them (XTest's absolute moves give
        # no raw motion), then a drag.
        self.xdo("mousemove", "300", "400")
        for i in range(60):
            self.xdo("mousemove_relative", "--", "1", str(i % 2))
        self.xdo("mousedown", "1")
        down = self.pointer_at()
        for i in range(20):
            self.xdo("mousemove_relative", "--", "2", "0")
        up = self.pointer_at()
        self.xdo("mouseup", "1")
        log = self.finished_log(r, signal.SIGINT)
        pointer = [(e["type"], e["x"], e["y"], e["deltaX"], e["deltaY"])
                   for e in log["events"] if e["type"] != "keyDown"]
        self.assertEqual(pointer, [
            ("leftMouseDown", bx, by, 0, 0), ("leftMouseUp", bx, by, 0, 0),
            ("rightMouseDown", 700, 500, 0, 0), ("rightMouseUp", 700, 500, 0, 0),
            ("scrollWheel", 700, 500, 0, 1), ("scrollWheel", 700, 500, 0, -1),
            ("scrollWheel", 700, 500, 1, 0), ("scrollWheel", 700, 500, -1, 0),
            ("leftMouseDown", down[0], down[1], 0, 0), ("leftMouseUp", up[0], up[1], 0, 0)])
        # Every event names the element with keyboard focus (the entry, or the button once a
        # click gave it focus), whatever is under the pointer.
        self.assertTrue(all(e.get("field", {}).get("role") in ("AXTextField", "AXButton")
                            for e in log["events"]), log["events"])
        path = log["cursorPath"]
        self.assertGreaterEqual(len(path), 3)
        self.assertLessEqual(len(path), 1 + log["durationMs"] // 50)
        self.assertTrue(all(300 < p["x"] <= up[0] and 400 <= p["y"] <= up[1] for p in path), path)
        # Drags are part of the path.
        self.assertTrue([p for p in path if p["x"] > down[0]], path)

    # -- the file ------------------------------------------------------------------------

    def test_private_file_in_directories_that_did_not_exist(self):
        path = os.path.join(self.dir, "a", "b", "c", "log.json")
        r = self.start(path, "plain", preexec_fn=lambda: os.umask(0))
        self.xdo("click", "1")
        log = self.finished_log(r)
        self.assertEqual(len(log["events"]), 2)
        self.assertEqual(stat.S_IMODE(os.stat(path).st_mode), 0o600)
        self.assertEqual(os.listdir(os.path.dirname(path)), ["log.json"])
        # An empty recording is a whole log too, and an existing log is replaced.
        r = self.start(path)
        log = self.finished_log(r)
        self.assertEqual((log["events"], log["cursorPath"]), ([], []))
        self.assertEqual(os.listdir(os.path.dirname(path)), ["log.json"])

    def check_failure(self, recorder, path, existing, reason):
        rc, out, err = recorder.stop()
        self.assertEqual((rc, out), (0, b""))
        self.assertTrue(err.startswith(WRITE_FAILED) and err.endswith(b"\n"), err)
        self.assertEqual(err.count(b"\n"), 1, err)
        self.assertIn(reason, err)
        directory = os.path.dirname(path)
        if os.path.isdir(directory):
            self.assertEqual(sorted(os.listdir(directory)), existing)

    def test_unwritable_directory(self):
        directory = os.path.join(self.dir, "locked")
        os.mkdir(directory, 0o555)
        reason = b"Permission denied"
        if os.geteuid() == 0:
            # Permissions do not hold the superuser back; a read-only file system does.
            if subprocess.run(["mount", "-t", "tmpfs", "-o", "ro,size=16k", "tmpfs", directory],
                              capture_output=True).returncode != 0:
                self.skipTest("this machine does not let us mount a file system")
            self.addCleanup(subprocess.run, ["umount", "-l", directory])
            reason = b"Read-only file system"
        path = os.path.join(directory, "log.json")
        r = self.start(path)
        self.xdo("click", "1")
        self.check_failure(r, path, [], reason)

    def test_full_disk(self):
        if os.geteuid() != 0:
            self.skipTest("mounting a small file system needs root")
        mount = os.path.join(self.dir, "small")
        os.mkdir(mount)
        if subprocess.run(["mount", "-t", "tmpfs", "-o", "size=64k", "tmpfs", mount],
                          capture_output=True).returncode != 0:
            self.skipTest("this machine does not let us mount a file system")
        self.addCleanup(subprocess.run, ["umount", "-l", mount])
        path = os.path.join(mount, "log.json")
        with open(path, "wb") as f:
            f.write(b"previous")
        # Fill the rest, then record more than fits.
        try:
            with open(os.path.join(mount, "filler"), "wb") as f:
                while True:
                    f.write(b"\0" * 4096)
                    f.flush()
        except OSError:
            pass
        r = self.start(path, "plain")
        self.xdo("click", "--repeat", "200", "--delay", "1", "1")
        self.check_failure(r, path, ["filler", "log.json"], b"No space left on device")
        self.assertEqual(self.read(path), b"previous")

    def test_a_directory_or_a_planted_link_is_not_written_through(self):
        taken = os.path.join(self.dir, "taken")
        os.mkdir(taken)
        r = self.start(taken)
        self.check_failure(r, taken, ["taken"], b"Is a directory")
        self.assertEqual(os.listdir(taken), [])

        path = os.path.join(self.dir, "log.json")
        target = os.path.join(self.dir, "elsewhere")
        with open(path, "wb") as f:
            f.write(b"previous")
        with open(target, "wb") as f:
            f.write(b"target")
        r = self.start(path, "plain")
        # Links at the names a temporary file could be guessed to have: the log is still
        # written, and nothing is written through them.
        planted = [".log.json.%d.tmp" % r.pid, ".log.json.tmp", ".log.json"]
        for name in planted:
            os.symlink(target, os.path.join(self.dir, name))
        self.xdo("type", "secret")
        log = self.finished_log(r)
        self.assertEqual([e["keyCode"] for e in log["events"]], [1, 14, 8, 15, 14, 17])
        self.assertEqual(sorted(os.listdir(self.dir)),
                         sorted(planted + ["elsewhere", "log.json", "taken"]))
        self.assertEqual(self.read(target), b"target")

    # -- start-up ------------------------------------------------------------------------

    def test_no_arguments(self):
        p = subprocess.run([TOOL], cwd=self.dir, env=self.bus.env(), capture_output=True,
                           timeout=20)
        self.assertEqual((p.returncode, p.stdout, p.stderr), (2, b"", USAGE))
        self.assertEqual(os.listdir(self.dir), [])

    def test_no_display(self):
        env = dict(self.bus.env())
        for display in (None, ":4095"):
            if display:
                env["DISPLAY"] = display
            else:
                env.pop("DISPLAY", None)
            path = os.path.join(self.dir, "log.json")
            p = subprocess.run([TOOL, path], env=env, capture_output=True, timeout=20)
            self.assertEqual((p.returncode, p.stdout, p.stderr), (1, b"", TAP_FAILED))
            self.assertEqual(os.listdir(self.dir), [])

    def test_without_an_accessibility_bus_everything_is_recorded_without_fields(self):
        # A display of its own: the accessibility bus launcher advertises its bus on the root
        # window of the display it runs on, where the AT-SPI library would find it.
        with XServer(width=640, height=480) as x:
            bare = AccessibilityBus(x.env(), accessibility=False)
            bare.start()
            self.addCleanup(bare.stop)
            for name, env in (("unreachable", unreachable_env(x.env())),
                              ("no launcher", bare.env())):
                with self.subTest(bus=name):
                    r = Recorder(TOOL, os.path.join(self.dir, "log.json"), "plain", env=env)
                    self.addCleanup(r.kill)
                    r.wait_ready()
                    x.run("xdotool", "type", "--delay", "20", "hi")
                    x.run("xdotool", "click", "1")
                    log = self.finished_log(r)
                    self.assertEqual([(e["type"], e["text"]) for e in log["events"]],
                                     [("keyDown", "h"), ("keyDown", "i"), ("leftMouseDown", ""),
                                      ("leftMouseUp", "")])
                    self.assertFalse([e for e in log["events"] if "field" in e])


if __name__ == "__main__":
    main(1, unavailable=None if available() else
         "no dbus-daemon, accessibility bus launcher or Xvfb")
