#!/usr/bin/env python3
"""orvane-window-list on sway against `swaymsg -t get_tree` on one private headless sway holding
200 windows (XWayland fixture windows, floating, on one workspace): the median wall time of
each over the same number of runs, interleaved, and their ratio (goal: at most 1).

    bench/window_list_wayland_bench.py [BUILD_DIR] [RUNS]
"""

import os
import statistics
import subprocess
import sys
import time

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(top, "tests", "harness"))
import swayenv  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "build")
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 20
tool = os.path.join(build, "window-list", "orvane-window-list")
fixture = os.path.join(build, "tests", "orvane-x-fixture")


def seconds(env, command):
    start = time.perf_counter()
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def main():
    why = swayenv.available()
    if why:
        sys.exit("sway cannot run here: " + why)
    with swayenv.Sway(config_extra='for_window [shell="xwayland"] floating enable\n') as s:
        s.start_xwayland()
        env = s.env()
        f = subprocess.Popen([fixture], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             text=True)
        for i in range(200):
            f.stdin.write("create %d %d 300 200 title=%s\n"
                          % (10 + 4 * i, 10 + 2 * i, ("window %d" % i).encode().hex()))
            f.stdin.flush()
            f.stdout.readline()
        deadline = time.time() + 30
        while len(s.windows()) < 200 and time.time() < deadline:
            time.sleep(0.2)
        listed = subprocess.run([tool], env=env, capture_output=True, text=True).stdout
        ours, theirs = [], []
        for _ in range(runs):
            ours.append(seconds(env, [tool]))
            theirs.append(seconds(env, ["swaymsg", "-s", s.ipc, "-t", "get_tree", "-r"]))
        f.kill()
        f.wait()
    a, b = statistics.median(ours), statistics.median(theirs)
    print("sway, 200 windows, %d listed; %d runs each" % (listed.count('"id"'), runs))
    print("%-36s %10.2f ms" % ("orvane-window-list (median)", a * 1000))
    print("%-36s %10.2f ms" % ("swaymsg -t get_tree -r (median)", b * 1000))
    print("ratio orvane-window-list / swaymsg: %.2f (goal: at most 1: %s)"
          % (a / b, "met" if a <= b else "MISSED"))


if __name__ == "__main__":
    main()
