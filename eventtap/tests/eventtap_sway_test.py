"""orvane-eventtap in a sway session: a Wayland client cannot see other clients' input, so the
recorder cannot make its tap and ends at once with status 1 and its message, leaving no log."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "harness"))
from eventlog_check import TAP_FAILED  # noqa: E402
import swayenv  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL = os.path.abspath(programs(1)[0])


class InSway(unittest.TestCase):
    def test_no_tap_status_1_and_no_log(self):
        directory = tempfile.mkdtemp(prefix="orvane-eventtap-")
        self.addCleanup(shutil.rmtree, directory, True)
        with swayenv.Sway() as sway:
            native = sway.env()
            # XWayland's display beside it changes nothing: the session is Wayland's.
            with_x = dict(native, DISPLAY=sway.start_xwayland())
            for label, env in (("wayland", native), ("with XWayland", with_x)):
                with self.subTest(label):
                    path = os.path.join(directory, "log.json")
                    p = subprocess.run([TOOL, path], env=env, capture_output=True, timeout=20)
                    self.assertEqual((p.returncode, p.stdout, p.stderr), (1, b"", TAP_FAILED))
                    self.assertEqual(os.listdir(directory), [])


if __name__ == "__main__":
    main(1, unavailable=swayenv.available())
