#!/usr/bin/env python3
"""Runs orvane-haptic as the host does: lines on standard input, nothing back, status 0."""
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "harness"))
from process_main import main, programs  # noqa: E402

TOOL = programs(1)[0]


class HapticProcess(unittest.TestCase):
    def run_tool(self, data, args=()):
        return subprocess.run([TOOL, *args], input=data, capture_output=True, timeout=10)

    def assertSilentSuccess(self, result):
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, b"")
        self.assertEqual(result.stderr, b"")

    def test_patterns_and_ignored_arguments(self):
        self.assertSilentSuccess(self.run_tool(b"generic\nlevel-change\nother\n\nlast"))
        self.assertSilentSuccess(self.run_tool(b"generic\n", ["--help", "level-change", "-x"]))

    def test_empty_input_ends_at_once(self):
        self.assertSilentSuccess(self.run_tool(b""))
        result = subprocess.run([TOOL], stdin=subprocess.DEVNULL, capture_output=True, timeout=10)
        self.assertSilentSuccess(result)

    def test_lives_until_its_input_is_closed(self):
        process = subprocess.Popen([TOOL], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        process.stdin.write(b"generic\n")
        process.stdin.flush()
        time.sleep(0.3)
        self.assertIsNone(process.poll())
        process.stdin.write(b"level-change")
        process.stdin.close()
        self.assertEqual(process.wait(timeout=10), 0)
        self.assertEqual(process.stdout.read(), b"")
        self.assertEqual(process.stderr.read(), b"")
        process.stdout.close()
        process.stderr.close()

    def test_memory_stays_flat_on_an_endless_line(self):
        # 256 MB without a line break, then a name: the tool reads it all and keeps nothing.
        process = subprocess.Popen([TOOL], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                   stderr=subprocess.PIPE)
        block = b"x" * (1 << 20)
        for _ in range(256):
            process.stdin.write(block)
        process.stdin.write(b"\ngeneric\n")
        process.stdin.flush()
        time.sleep(0.2)  # the last line read; the tool waits for more
        with open("/proc/%d/status" % process.pid) as f:
            peak = next(int(line.split()[1]) for line in f if line.startswith("VmHWM:"))
        process.stdin.close()
        self.assertEqual(process.wait(timeout=10), 0)
        self.assertEqual(process.stdout.read(), b"")
        self.assertEqual(process.stderr.read(), b"")
        process.stdout.close()
        process.stderr.close()
        self.assertLess(peak, 8 * 1024, "peak resident KB")

if __name__ == "__main__":
    main(1)
