#!/usr/bin/env python3
"""orvane-window-list against `wmctrl -lpG` on one private X display holding 200 fixture
windows under a window manager: the median wall time of each over the same number of runs,
and their ratio.

    bench/window_list_bench.py [BUILD_DIR] [RUNS]
"""

import os
import statistics
import subprocess
import sys
import time

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(top, "tests", "harness"))
from xenv import XServer  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "build")
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
tool = os.path.join(build, "window-list", "orvane-window-list")
fixture = os.path.join(build, "tests", "orvane-x-fixture")


def seconds(x, command):
    start = time.perf_counter()
    subprocess.run(command, env=x.env(), stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


with XServer(wm=True) as x:
    f = x.fixture(fixture)
    windows = [f.create(10 + i % 40 * 20, 10 + i // 40 * 60, 300, 200, title="window %d" % i,
                        **{"class": "Bench"}) for i in range(200)]
    x.wait_viewable(*windows)
    listed = subprocess.run([tool], env=x.env(), capture_output=True, text=True).stdout
    assert listed.count('"id":') == 200, "expected 200 windows listed"
    # Runs alternate, so that both commands see the same load of the machine.
    ours, theirs = [], []
    for _ in range(runs):
        ours.append(seconds(x, [tool]))
        theirs.append(seconds(x, ["wmctrl", "-lpG"]))
    a, b = statistics.median(ours), statistics.median(theirs)
    print("windows: 200 under openbox, runs: %d each" % runs)
    print("orvane-window-list median: %.2f ms" % (a * 1000))
    print("wmctrl -lpG median:        %.2f ms" % (b * 1000))
    print("ratio (ours / wmctrl):     %.3f" % (a / b))
