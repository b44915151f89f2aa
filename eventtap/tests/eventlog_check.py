"""Helpers shared by the orvane-eventtap process tests and benchmark: the running recorder, and
the checks every event log must pass."""

import ctypes
import json
import math
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests",
                                "harness"))
import schemas  # noqa: E402

USAGE = b"Usage: orvane-eventtap <outputPath> [redact|plain]\n"
TAP_FAILED = b"Orvane could not create CGEventTap. Accessibility permission is required.\n"
WRITE_FAILED = b"Orvane event log write failed: "

HEADER_KEYS = ["version", "source", "startedAtUnixMs", "monotonicStartedAtSeconds",
               "durationMs", "redactionEnabled", "events", "cursorPath"]
EVENT_KEYS = ["type", "timestampMs", "x", "y", "button", "keyCode", "text", "redacted",
              "deltaX", "deltaY"]
FIELD_KEYS = ["role", "subrole", "title", "description", "secure"]
CURSOR_KEYS = ["timestampMs", "x", "y"]
TYPES = {"leftMouseDown": "left", "leftMouseUp": "left", "rightMouseDown": "right",
         "rightMouseUp": "right", "keyDown": "", "scrollWheel": ""}


def encode(value):
    """The bytes the recorder writes for a document: compact, keys in the order given, "/"
    escaped, whole numbers below 100000 without a fraction."""
    if isinstance(value, dict):
        return "{" + ",".join(encode(k) + ":" + encode(v) for k, v in value.items()) + "}"
    if isinstance(value, list):
        return "[" + ",".join(encode(v) for v in value) + "]"
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False).replace("/", "\\/")
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, int):
        return str(value)
    if isinstance(value, float):
        if value.is_integer() and abs(value) < 1e5:
            return "-0" if math.copysign(1, value) < 0 and value == 0 else str(int(value))
        return repr(value)
    raise TypeError("unexpected value in a log: %r" % (value,))


def check_log(test, raw):
    """Checks the bytes and invariants of one log; returns it parsed."""
    log = schemas.loads("eventtap-log", raw)
    test.assertEqual(encode(log).encode("utf-8"), raw, "the bytes are not the compact form")
    test.assertEqual(list(log), HEADER_KEYS)
    test.assertEqual(log["version"], 1)
    test.assertEqual(log["source"], "x11_xinput2")
    last = 0
    for e in log["events"]:
        keys = list(e)
        test.assertEqual(keys[:10], EVENT_KEYS, e)
        test.assertIn(keys[10:], ([], ["field"]), e)
        if "field" in e:
            test.assertEqual(list(e["field"]), FIELD_KEYS, e)
            secure = "secure" in (e["field"]["role"].lower() + " " + e["field"]["subrole"].lower())
            test.assertEqual(e["field"]["secure"], secure, e)
        test.assertIn(e["type"], TYPES)
        test.assertEqual(e["button"], TYPES[e["type"]], e)
        test.assertGreaterEqual(e["timestampMs"], last, "timestamps decrease")
        last = e["timestampMs"]
        if e["type"] == "keyDown":
            test.assertGreaterEqual(e["keyCode"], -1, e)
            if e["redacted"]:
                test.assertEqual(e["text"], "", e)
        else:
            test.assertEqual((e["keyCode"], e["text"], e["redacted"]), (-1, "", False), e)
        if e["type"] != "scrollWheel":
            test.assertEqual((e["deltaX"], e["deltaY"]), (0, 0), e)
        test.assertLessEqual(e["timestampMs"], log["durationMs"])
    previous = None
    for p in log["cursorPath"]:
        test.assertEqual(list(p), CURSOR_KEYS)
        if previous is not None:
            test.assertGreaterEqual(p["timestampMs"] - previous, 50, "cursor samples too close")
        previous = p["timestampMs"]
        test.assertLessEqual(p["timestampMs"], log["durationMs"])
    return log


def thread_state(pid):
    """The main thread's state letter and what it waits in."""
    try:
        with open("/proc/%d/stat" % pid) as f:
            state = f.read().rsplit(")", 1)[1].split()[0]
        with open("/proc/%d/wchan" % pid) as f:
            return state, f.read()
    except OSError:
        return "?", ""


def catches_sigterm(pid):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith("SigCgt:"):
                    return bool(int(line.split()[1], 16) & (1 << (signal.SIGTERM - 1)))
    except OSError:
        pass
    return False


class Recorder:
    """One running orvane-eventtap."""

    def __init__(self, tool, path, *rest, env=None, **popen):
        self.path = path
        self.proc = subprocess.Popen([tool, path] + list(rest), env=env,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE, **popen)

    @property
    def pid(self):
        return self.proc.pid

    def wait_signals(self, timeout=20):
        """Waits until a stop signal no longer kills the process outright."""
        deadline = time.time() + timeout
        while not catches_sigterm(self.pid):
            if self.proc.poll() is not None or time.time() > deadline:
                raise RuntimeError("the recorder never took over SIGTERM")
            time.sleep(0.005)

    def wait_ready(self, timeout=20, quiet=0.3):
        """Waits until start-up is over: the stop is in place and the main loop has been
        waiting for input, undisturbed, for `quiet` seconds."""
        self.wait_signals(timeout)
        deadline = time.time() + timeout
        since = None
        while True:
            if self.proc.poll() is not None:
                raise RuntimeError("the recorder ended during start-up")
            state, wchan = thread_state(self.pid)
            if state == "S" and "poll" in wchan:
                since = since or time.time()
                if time.time() - since >= quiet:
                    return
            else:
                since = None
            if time.time() > deadline:
                raise RuntimeError("the recorder never settled (%s %s)" % (state, wchan))
            time.sleep(0.02)

    def stop(self, sig=signal.SIGTERM, timeout=20):
        """Sends `sig` and returns (status, standard output, standard error)."""
        if self.proc.poll() is None:
            self.proc.send_signal(sig)
        out, err = self.proc.communicate(timeout=timeout)
        return self.proc.returncode, out, err

    def kill(self):
        if self.proc.poll() is None:
            self.proc.kill()
        self.proc.communicate()


class XTest:
    """Input through XTest on a connection of the test's own; sync() returns once the server
    has made every event asked for so far."""

    def __init__(self, display):
        self.x = ctypes.CDLL("libX11.so.6")
        self.t = ctypes.CDLL("libXtst.so.6")
        self.x.XOpenDisplay.restype = ctypes.c_void_p
        self.x.XOpenDisplay.argtypes = [ctypes.c_char_p]
        self.x.XStringToKeysym.restype = ctypes.c_ulong
        self.x.XStringToKeysym.argtypes = [ctypes.c_char_p]
        self.x.XKeysymToKeycode.restype = ctypes.c_ubyte
        self.x.XKeysymToKeycode.argtypes = [ctypes.c_void_p, ctypes.c_ulong]
        self.x.XSync.argtypes = [ctypes.c_void_p, ctypes.c_int]
        self.x.XCloseDisplay.argtypes = [ctypes.c_void_p]
        self.t.XTestFakeKeyEvent.argtypes = [ctypes.c_void_p, ctypes.c_uint, ctypes.c_int,
                                             ctypes.c_ulong]
        self.t.XTestFakeButtonEvent.argtypes = self.t.XTestFakeKeyEvent.argtypes
        self.t.XTestFakeMotionEvent.argtypes = [ctypes.c_void_p, ctypes.c_int, ctypes.c_int,
                                                ctypes.c_int, ctypes.c_ulong]
        self.d = self.x.XOpenDisplay(display.encode())
        if not self.d:
            raise RuntimeError("no display " + display)

    def key(self, name):
        code = self.x.XKeysymToKeycode(self.d, self.x.XStringToKeysym(name.encode()))
        self.t.XTestFakeKeyEvent(self.d, code, 1, 0)
        self.t.XTestFakeKeyEvent(self.d, code, 0, 0)

    def chord(self, *names):
        """Presses the keys in order, then releases them in reverse (Shift_L, Tab: Shift+Tab)."""
        codes = [self.x.XKeysymToKeycode(self.d, self.x.XStringToKeysym(n.encode()))
                 for n in names]
        for code in codes:
            self.t.XTestFakeKeyEvent(self.d, code, 1, 0)
        for code in reversed(codes):
            self.t.XTestFakeKeyEvent(self.d, code, 0, 0)

    def click(self, x, y, button=1):
        self.t.XTestFakeMotionEvent(self.d, -1, x, y, 0)
        self.t.XTestFakeButtonEvent(self.d, button, 1, 0)
        self.t.XTestFakeButtonEvent(self.d, button, 0, 0)

    def sync(self):
        self.x.XSync(self.d, 0)

    def close(self):
        self.x.XCloseDisplay(self.d)


# macOS virtual key code of Tab: the key that moves focus, never one of the letters typed.
TAB_KEY_CODE = 48


def letters_then_moves(xt, app, recorder, letters, start, move, pause=0.0, settle=0.15):
    """One trial per letter, with a GTK fixture holding an entry and a password entry: a click
    gives `start` ("entry" or "password") focus, the letter is typed and, after `pause`
    seconds (none: in the same burst), focus moves to the other entry by `move` ("tab", a
    Tab or Shift+Tab, or "click"). Returns, from the stopped recorder's log, the letters'
    key presses as (text, redacted) pairs, and the text each entry got, to show where the
    letters really went."""
    other = "entry" if start == "password" else "password"
    here, there = app.center(start), app.center(other)
    for letter in letters:
        xt.click(*here)
        xt.sync()
        time.sleep(settle)
        xt.key(letter)
        if pause:
            xt.sync()
            time.sleep(pause)
        if move == "click":
            xt.click(*there)
        elif other == "entry":  # the plain entry comes first
            xt.chord("Shift_L", "Tab")
        else:
            xt.key("Tab")
        xt.sync()
        time.sleep(0.05)
    status, _, err = recorder.stop()
    with open(recorder.path, "rb") as f:
        log = json.loads(f.read())
    keys = [(e["text"], e["redacted"]) for e in log["events"]
            if e["type"] == "keyDown" and e["keyCode"] != TAB_KEY_CODE]
    # NOTE: after a burst of typing, on a loaded machine, the fixture may handle input seconds
    # after the display sent it (each key goes through its accessibility bridge).
    app.send("sync", timeout=120)
    texts = {name: json.loads(app.send("text " + name).split(" ", 1)[1])
             for name in ("entry", "password")}
    for name in texts:
        app.send("clear " + name)
    return status, err, keys, texts
