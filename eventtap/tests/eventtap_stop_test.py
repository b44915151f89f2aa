"""The stop of orvane-eventtap under load: 200 recorders, a few at a time, each stopped by
SIGTERM at a random moment while xdotool floods the display with key presses. Every log must
be whole and valid, hold the flood without a gap and in order, and hold every key press that
reached the display before the signal.

Which key press is which: the flood types a pseudo-random sequence in which every run of eight
characters occurs once, and `xinput test-xi2 --root` notes when each press reaches clients."""

import os
import random
import re
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "harness"))
from atspi import unreachable_env  # noqa: E402
from eventlog_check import Recorder, check_log  # noqa: E402
from xenv import XServer  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL = os.path.abspath(programs(1)[0])
STOPS = 200
AT_ONCE = 6
KEYS_PER_SECOND = 150
LONGEST_LIFE = 0.6  # seconds from the stop being in place to the signal
ALPHABET = "abcdefghijklmnopqrstuvwxyz0123456789"
WINDOW = 8


def sequence(length, seed=11):
    rng = random.Random(seed)
    return "".join(rng.choice(ALPHABET) for _ in range(length))


class Flood:
    """xdotool typing the sequence, one key press at a time, and an observer noting when each
    press reaches clients."""

    def __init__(self, x, text):
        self.x = x
        self.text = text
        self.seen = []  # arrival time of each press, in order
        self.lock = threading.Lock()
        self.stopping = False
        self.observer = subprocess.Popen(["stdbuf", "-oL", "xinput", "test-xi2", "--root"],
                                         env=x.env(), stdout=subprocess.PIPE, text=True)
        threading.Thread(target=self._observe, daemon=True).start()
        self.typist = subprocess.Popen(["xdotool", "-"], env=x.env(), stdin=subprocess.PIPE,
                                       text=True)
        # Warm-up presses until the observer sees one; the flood's presses come after them.
        deadline = time.time() + 20
        while not self.count():
            if time.time() > deadline:
                raise RuntimeError("xinput never saw a key press")
            self._type("F12")
            time.sleep(0.3)
        time.sleep(0.3)
        self.offset = self.count()
        self.writer = threading.Thread(target=self._write, daemon=True)
        self.writer.start()

    def _type(self, key):
        self.typist.stdin.write("key --delay 0 %s\n" % key)
        self.typist.stdin.flush()

    def _observe(self):
        for line in self.observer.stdout:
            if "(RawKeyPress)" in line:
                with self.lock:
                    self.seen.append(time.monotonic())

    def _write(self):
        start = time.monotonic()
        for i, ch in enumerate(self.text):
            if self.stopping:
                break
            self._type(ch)
            delay = start + (i + 1) / KEYS_PER_SECOND - time.monotonic()
            if delay > 0:
                time.sleep(delay)

    def count(self):
        with self.lock:
            return len(self.seen)

    def arrivals(self):
        with self.lock:
            return self.seen[self.offset:]

    def stop(self):
        self.stopping = True
        self.writer.join(10)
        self.typist.stdin.close()
        self.typist.wait(10)
        self.observer.terminate()
        self.observer.wait(10)


class Stop(unittest.TestCase):
    maxDiff = None

    def test_every_log_is_whole_and_holds_what_arrived_before_the_stop(self):
        work = tempfile.mkdtemp(prefix="orvane-eventtap-stop-")
        self.addCleanup(shutil.rmtree, work, True)
        rng = random.Random(5)
        text = sequence(KEYS_PER_SECOND * 600)
        with XServer(width=800, height=600) as x:
            env = unreachable_env(x.env())
            flood = Flood(x, text)
            try:
                runs = self.stop_many(env, work, rng)
            finally:
                flood.stop()
            arrivals = flood.arrivals()
        self.assertEqual(len(runs), STOPS)
        empty = 0
        for run in runs:
            with self.subTest(run=run["n"]):
                empty += self.check_run(run, text, arrivals)
        # Most recorders lived long enough to see some of the flood.
        self.assertLess(empty, STOPS // 4)

    def stop_many(self, env, work, rng):
        runs = []
        lock = threading.Lock()
        failures = []

        def slot():
            while True:
                with lock:
                    n = len(runs)
                    if n >= STOPS:
                        return
                    run = {"n": n, "path": os.path.join(work, "log-%03d.json" % n)}
                    runs.append(run)
                try:
                    run["started"] = time.monotonic()
                    r = Recorder(TOOL, run["path"], "plain", env=env)
                    r.wait_signals()
                    time.sleep(rng.uniform(0, LONGEST_LIFE))
                    run["signal"] = time.monotonic()
                    r.proc.send_signal(signal.SIGTERM)
                    if n % 4 == 0:
                        # More signals while the log is being written.
                        for _ in range(3):
                            time.sleep(rng.uniform(0, 0.003))
                            if r.proc.poll() is None:
                                r.proc.send_signal(signal.SIGTERM)
                    run["status"], run["out"], run["err"] = r.stop()
                except Exception as e:  # noqa: BLE001 - reported below
                    failures.append(e)
                    return

        threads = [threading.Thread(target=slot) for _ in range(AT_ONCE)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        if failures:
            raise failures[0]
        return runs

    def check_run(self, run, text, arrivals):
        """Checks one recorder's log; returns 1 when it holds no key press."""
        self.assertEqual((run["status"], run["out"], run["err"]), (0, b"", b""))
        with open(run["path"], "rb") as f:
            log = check_log(self, f.read())
        typed = "".join(e["text"] for e in log["events"] if e["type"] == "keyDown")
        self.assertEqual(len(typed), len(log["events"]), "every event is a typed character")
        if not typed:
            return 1
        # The first press the recorder can have seen reached the display after it started.
        earliest = next((i for i, t in enumerate(arrivals) if t >= run["started"]),
                        len(arrivals))
        first = text.find(typed[:WINDOW], max(0, earliest - KEYS_PER_SECOND))
        self.assertGreaterEqual(first, 0, typed[:40])
        # In order, without a gap.
        self.assertEqual(typed, text[first:first + len(typed)])
        # Nothing is missing at the end: the next press reached the display after the signal.
        # (A run of a few characters could also be found elsewhere; only longer ones say
        # exactly where the log ends.)
        following = first + len(typed)
        if len(typed) >= 4 and following < len(arrivals):
            self.assertGreater(arrivals[following], run["signal"],
                               "press %d arrived %.3f s before the signal but is not in the log"
                               % (following, run["signal"] - arrivals[following]))
        return 0


if __name__ == "__main__":
    main(1)
