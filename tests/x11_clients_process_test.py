"""Each desktop tool talks to the X server over one connection, whatever backends it uses;
a tool that records pointer positions keeps one more for the RECORD stream, which the server
answers on nothing else."""

import os
import subprocess
import sys
import tempfile
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "harness"))
from process_main import main, programs  # noqa: E402
from xclients import can_trace, server_clients, traced, x_connects  # noqa: E402
from xenv import XServer  # noqa: E402

WINDOW_LIST, WINDOW_BOUNDS, SELECTOR, EVENTTAP, FIXTURE = programs(5)


class OneConnectionPerTool(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.x = XServer(wm=True)
        cls.x.start()
        cls.fixture = cls.x.fixture(FIXTURE)
        cls.window = cls.fixture.create(100, 100, 400, 300, title="Followed")
        cls.x.wait_viewable(cls.window)

    @classmethod
    def tearDownClass(cls):
        cls.x.stop()

    def settled_clients(self, args, stdin=b"", ready=None):
        """The X server's clients of a running tool once it has done its first work."""
        proc = subprocess.Popen(args, env=self.x.env(), stdin=subprocess.PIPE,
                                stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        try:
            if stdin:
                proc.stdin.write(stdin)
                proc.stdin.flush()
            if ready:
                ready(proc)
            # Connections are made at start or on the first use of a backend: whatever is open
            # now stays open.
            deadline = time.time() + 5
            count = server_clients(self.x.display, proc.pid)
            while count == 0 and time.time() < deadline:
                time.sleep(0.05)
                count = server_clients(self.x.display, proc.pid)
            time.sleep(1)
            return server_clients(self.x.display, proc.pid)
        finally:
            proc.terminate()
            proc.wait(10)
            proc.stdout.close()
            proc.stdin.close()

    def test_window_list_opens_one_connection(self):
        if not can_trace():
            self.skipTest("no strace")
        with tempfile.TemporaryDirectory() as tmp:
            trace = os.path.join(tmp, "trace")
            result = subprocess.run(traced([WINDOW_LIST], trace), env=self.x.env(),
                                    capture_output=True, text=True, timeout=60)
            self.assertEqual(result.returncode, 0)
            self.assertIn('"id":%d' % self.window, result.stdout)
            self.assertEqual(x_connects(trace, self.x.display), 1)

    def test_window_bounds_following_and_activating_holds_one(self):
        def first_line(proc):
            self.assertTrue(proc.stdout.readline())
        count = self.settled_clients([WINDOW_BOUNDS, "--window-id", str(self.window)],
                                     stdin=b"activate\n", ready=first_line)
        self.assertEqual(count, 1)

    def test_selector_overlays_and_window_list_share_one(self):
        # Window mode lists the windows under the pointer: the window server, its cache and the
        # overlays are all at work.
        count = self.settled_clients([SELECTOR, "select", "--initial-mode", "window"])
        self.assertEqual(count, 1)

    def test_eventtap_holds_one_besides_the_record_stream(self):
        with tempfile.TemporaryDirectory() as tmp:
            count = self.settled_clients([EVENTTAP, os.path.join(tmp, "log.json")])
        self.assertEqual(count, 2)


if __name__ == "__main__":
    main(5)
