"""A compositor that stops answering: sway stopped (SIGSTOP) with its IPC listen queue full, and
sockets that never accept or never answer. Every tool answers as it does when the window server
is gone (window-list "[]", the selector its cancellation, window-bounds "closed", the sensors
their one message), goes on running where it polls, and ends at once on SIGTERM."""

import json
import os
import signal
import subprocess
import sys
import threading
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "harness"))
import schemas  # noqa: E402
import swayenv  # noqa: E402
from process_main import main, programs  # noqa: E402

WINDOW_LIST, WINDOW_BOUNDS, SELECTOR, SENSORS = programs(4)
# Seconds: the tools' own deadlines add up to about one; this leaves room for a loaded machine.
ANSWER = 6.0


def closed(line):
    return schemas.loads("window-bounds-line", line)["status"] == "closed"


TOOLS = [
    ("window-list", [WINDOW_LIST], "stdout", lambda line: line == b"[]\n"),
    ("selector", [SELECTOR, "select"], "stdout",
     lambda line: json.loads(line) == {"cancelled": True}),
    ("window-bounds", [WINDOW_BOUNDS, "--window-id", "100"], "stdout", closed),
    ("sensors", [SENSORS], "stderr",
     lambda line: line == b"[orvane/capture-sensors] click tap unavailable\n"),
]


class StuckCompositor(unittest.TestCase):
    def answers(self, env):
        for name, command, stream, expected in TOOLS:
            with self.subTest(name):
                p = subprocess.Popen(command, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
                try:
                    got = []
                    reader = threading.Thread(
                        target=lambda: got.append(getattr(p, stream).readline()), daemon=True)
                    reader.start()
                    reader.join(ANSWER)
                    self.assertTrue(got, "%s gave no answer within %s s" % (name, ANSWER))
                    self.assertTrue(expected(got[0]), got[0])
                    if name in ("window-bounds", "sensors"):
                        time.sleep(0.3)
                        self.assertIsNone(p.poll(), "%s stopped polling" % name)
                        p.send_signal(signal.SIGTERM)
                    self.assertEqual(p.wait(2), 0)
                finally:
                    if p.poll() is None:
                        p.kill()
                        p.wait()
                    for s in (p.stdin, p.stdout, p.stderr):
                        s.close()

    def test_stopped_sway_with_a_full_queue(self):
        with swayenv.Sway() as sway:
            os.killpg(sway.proc.pid, signal.SIGSTOP)
            held = swayenv.fill_queue(sway.ipc)
            try:
                self.assertTrue(held)
                self.answers(sway.env())
            finally:
                for s in held:
                    s.close()
                os.killpg(sway.proc.pid, signal.SIGCONT)

    def test_sockets_that_never_accept_or_never_answer(self):
        for mode in ("never-accept", "silent"):
            with self.subTest(mode), swayenv.FakeIpc(mode) as fake:
                self.answers(fake.env())


if __name__ == "__main__":
    main(4, unavailable=swayenv.available())
