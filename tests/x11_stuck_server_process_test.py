"""An X server that stops answering (Xvfb stopped with SIGSTOP), before a tool starts and while
it runs. Every tool answers as it does without a display (window-list "[]", the selector its
cancellation, window-bounds "closed", the sensors their one message, eventtap its error), goes
on running where it polls, never takes a window it was following for closed, and ends at once on
SIGTERM, eventtap with its log written. A server that stalls while a tool starts is followed
once it answers again."""

import json
import os
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "harness"))
from process_main import main, programs  # noqa: E402
from atspi import AccessibilityBus, GtkFixture  # noqa: E402
from xenv import XServer, tool_available  # noqa: E402

WINDOW_LIST, WINDOW_BOUNDS, SELECTOR, SENSORS, EVENTTAP, FIXTURE = programs(6)
# Seconds. The tools' own deadlines add up to under 2.5; this leaves room for a loaded machine.
ANSWER = 6.0
# After SIGTERM; the tools aim at well under one second.
STOP = 3.0


def takes_sigterm(pid):
    """Whether the process handles SIGTERM itself: eventtap does once it is recording."""
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("SigCgt:"):
                return bool(int(line.split()[1], 16) & (1 << (signal.SIGTERM - 1)))
    return False


def first_line(proc, stream):
    got = []
    reader = threading.Thread(target=lambda: got.append(getattr(proc, stream).readline()),
                              daemon=True)
    reader.start()
    reader.join(ANSWER)
    return got[0] if got else None


class Tool:
    def __init__(self, test, command, env):
        self.test = test
        self.proc = subprocess.Popen(command, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        test.addCleanup(self.close)

    def line(self, stream="stdout"):
        line = first_line(self.proc, stream)
        self.test.assertIsNotNone(line, "no answer within %s s" % ANSWER)
        return line

    def terminate(self, status=0):
        self.test.assertIsNone(self.proc.poll(), "it stopped on its own")
        self.proc.send_signal(signal.SIGTERM)
        self.test.assertEqual(self.proc.wait(STOP), status)

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for s in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            s.close()


class StuckServer(unittest.TestCase):
    def setUp(self):
        self.x = XServer(wm=True)
        self.x.start()
        self.addCleanup(self.x.stop)
        self.env = self.x.env()
        self.env.pop("WAYLAND_DISPLAY", None)
        self.env["XDG_SESSION_TYPE"] = "x11"

    def stop_server(self):
        xvfb = self.x.procs[0]
        os.kill(xvfb.pid, signal.SIGSTOP)
        self.addCleanup(os.kill, xvfb.pid, signal.SIGCONT)

    def window_list_answers_empty(self):
        tool = Tool(self, [WINDOW_LIST], self.env)
        self.assertEqual(tool.line(), b"[]\n")
        self.assertEqual(tool.proc.wait(STOP), 0)

    def test_stopped_before_the_start(self):
        self.stop_server()
        with self.subTest("window-list"):
            self.window_list_answers_empty()
        with self.subTest("selector"):
            tool = Tool(self, [SELECTOR, "select"], self.env)
            self.assertEqual(json.loads(tool.line()), {"cancelled": True})
            self.assertEqual(tool.proc.wait(STOP), 0)
        with self.subTest("window-bounds"):
            tool = Tool(self, [WINDOW_BOUNDS, "--window-id", "100"], self.env)
            self.assertEqual(json.loads(tool.line())["status"], "closed")
            time.sleep(0.3)
            tool.terminate()
        with self.subTest("sensors"):
            tool = Tool(self, [SENSORS], self.env)
            self.assertEqual(tool.line("stderr"),
                             b"[orvane/capture-sensors] click tap unavailable\n")
            time.sleep(0.3)
            tool.terminate()
        with self.subTest("eventtap"), tempfile.TemporaryDirectory() as tmp:
            tool = Tool(self, [EVENTTAP, os.path.join(tmp, "log.json")], self.env)
            self.assertIn(b"could not create", tool.line("stderr"))
            self.assertEqual(tool.proc.wait(STOP), 1)

    def test_stalled_at_the_start_then_answering(self):
        # A server that stalls while a tool starts is followed once it answers again: the
        # window's status, and the sensors' window, click and element lines.
        with AccessibilityBus(self.env) as bus:
            app = GtkFixture(bus.env(), title="Stalled", button="Save",
                             geometry="400x300+50+50")
            self.addCleanup(app.close)
            self.x.wait_viewable(app.window)
            bx, by, bw, bh = app.where("button")
            self.stop_server()
            bounds = Tool(self, [WINDOW_BOUNDS, "--window-id", str(app.window),
                                 "--poll-ms", "100"], bus.env())
            sensors = Tool(self, [SENSORS, "--poll-ms", "100"], bus.env())
            self.assertEqual(json.loads(bounds.line())["status"], "closed")
            self.assertEqual(sensors.line("stderr"),
                             b"[orvane/capture-sensors] click tap unavailable\n")
            os.kill(self.x.procs[0].pid, signal.SIGCONT)
            self.assertEqual(json.loads(bounds.line())["status"], "visible")
            self.assertEqual(json.loads(sensors.line())["type"], "window")
            # The tap and the accessibility service are tried again once a second.
            time.sleep(1.5)
            self.x.run("xdotool", "mousemove", str(bx + bw // 2), str(by + bh // 2),
                       "click", "1")
            lines = []
            while not lines or lines[-1]["type"] != "clickUp":
                lines.append(json.loads(sensors.line()))
                self.assertLess(len(lines), 10, lines)
            self.assertEqual([(l["type"], l.get("label")) for l in lines[-3:]],
                             [("click", None), ("ax-element", "Save"), ("clickUp", None)])
            bounds.terminate()
            sensors.terminate()

    def test_stopped_while_running(self):
        fixture = self.x.fixture(FIXTURE)
        window = fixture.create(100, 100, 400, 300, title="Followed")
        self.x.wait_viewable(window)
        tmp = tempfile.mkdtemp()
        self.addCleanup(lambda: [os.remove(os.path.join(tmp, n)) for n in os.listdir(tmp)]
                        and os.rmdir(tmp))
        log = os.path.join(tmp, "log.json")
        bounds = Tool(self, [WINDOW_BOUNDS, "--window-id", str(window), "--poll-ms", "100"],
                      self.env)
        self.assertEqual(json.loads(bounds.line())["status"], "visible")
        sensors = Tool(self, [SENSORS, "--poll-ms", "100"], self.env)
        self.assertEqual(json.loads(sensors.line())["type"], "window")
        selector = Tool(self, [SELECTOR, "select"], self.env)
        recorder = Tool(self, [EVENTTAP, log], self.env)
        deadline = time.time() + 20
        while not takes_sigterm(recorder.proc.pid):
            self.assertLess(time.time(), deadline, "eventtap never started recording")
            time.sleep(0.02)
        time.sleep(0.5)
        self.stop_server()
        # Long enough for waits without a deadline to show, and for pollers to have given up
        # on several replies.
        time.sleep(2.0)
        with self.subTest("window-list"):
            self.window_list_answers_empty()
        with self.subTest("window-bounds"):
            bounds.terminate()
            self.assertEqual(bounds.proc.stdout.read(), b"", "a stopped server closed nothing")
        with self.subTest("sensors"):
            sensors.terminate()
        with self.subTest("selector"):
            selector.terminate(-signal.SIGTERM)  # taken away: no line
        with self.subTest("eventtap"):
            recorder.terminate()
            with open(log) as f:
                self.assertIn("durationMs", json.load(f))

    def test_stopped_during_the_start(self):
        # Each start-up step that waits on the server, or on a program that asks it (the
        # session bus looked up through the display), is met at one of these moments.
        with tempfile.TemporaryDirectory() as tmp:
            for delay in (0.01, 0.03, 0.05, 0.08, 0.15, 0.3):
                with self.subTest(delay=delay):
                    tool = Tool(self, [EVENTTAP, os.path.join(tmp, "log.json")], self.env)
                    time.sleep(delay)
                    os.kill(self.x.procs[0].pid, signal.SIGSTOP)
                    time.sleep(1.2)
                    if tool.proc.poll() is None:
                        # It ends on the signal with its log (0), or, when the stop cost the
                        # tap's setup its deadlines, says it has no tap (1) as without a
                        # display: both in time.
                        tool.proc.send_signal(signal.SIGTERM)
                        self.assertIn(tool.proc.wait(STOP), (0, 1))
                    os.kill(self.x.procs[0].pid, signal.SIGCONT)


if __name__ == "__main__":
    main(6, unavailable=None if tool_available("Xvfb") and tool_available("openbox")
         else "Xvfb and openbox are needed")
