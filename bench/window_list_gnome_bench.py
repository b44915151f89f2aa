#!/usr/bin/env python3
"""orvane-window-list on GNOME Shell (our extension) against one `gdbus call` to the shell's own
org.gnome.Shell.Introspect.GetWindows, on one private headless GNOME Shell holding 100 windows
(XWayland fixture windows): the median wall time of each over the same number of runs,
interleaved, and their ratio (goal: at most 1). Then orvane-capture-sensors left alone for a
while with a window in front: its CPU time over the wall time (goal: at most 0.1 % of a core,
which no polling meets).

    bench/window_list_gnome_bench.py [BUILD_DIR] [RUNS]

The test session opens Introspect to every caller (unsafe mode), which no real session does.
"""

import os
import statistics
import subprocess
import sys
import time

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(top, "tests", "harness"))
import gnomeenv  # noqa: E402

args = sys.argv[1:]
build = args[0] if args else os.path.join(top, "build")
runs = int(args[1]) if len(args) > 1 else 20
tool = os.path.join(build, "window-list", "orvane-window-list")
sensors = os.path.join(build, "sensors", "orvane-capture-sensors")
fixture = os.path.join(build, "tests", "orvane-x-fixture")
WINDOWS = 100
IDLE = 20  # seconds


def seconds(env, command):
    start = time.perf_counter()
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / os.sysconf("SC_CLK_TCK")


def main():
    why = gnomeenv.available()
    if why:
        sys.exit("GNOME Shell cannot run here: " + why)
    with gnomeenv.Gnome() as g:
        env = g.env()
        f = g.spawn([fixture])
        for i in range(WINDOWS):
            f.stdin.write("create %d %d 300 200 title=%s\n"
                          % (10 + 4 * i, 40 + 2 * i, ("window %d" % i).encode().hex()))
            f.stdin.flush()
            f.stdout.readline()
        g.wait(lambda: len(g.truth()) >= WINDOWS, "the windows", timeout=60)
        listed = subprocess.run([tool], env=env, capture_output=True, text=True).stdout
        peer = ["gdbus", "call", "--session", "--dest", "org.gnome.Shell", "--object-path",
                "/org/gnome/Shell/Introspect", "--method",
                "org.gnome.Shell.Introspect.GetWindows"]
        ours, theirs = [], []
        for _ in range(runs):
            ours.append(seconds(env, [tool]))
            theirs.append(seconds(env, peer))

        p = subprocess.Popen([sensors], env=env, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL)
        time.sleep(3)  # its start, and its first lines
        before, start = cpu_seconds(p.pid), time.perf_counter()
        time.sleep(IDLE)
        idle = (cpu_seconds(p.pid) - before) / (time.perf_counter() - start)
        p.terminate()
        p.wait(10)
    a, b = statistics.median(ours), statistics.median(theirs)
    print("GNOME Shell, %d windows, %d listed; %d runs each" % (WINDOWS, listed.count('"id"'), runs))
    print("%-44s %10.2f ms" % ("orvane-window-list (median)", a * 1000))
    print("%-44s %10.2f ms" % ("gdbus call Introspect.GetWindows (median)", b * 1000))
    print("ratio orvane-window-list / gdbus: %.2f (goal: at most 1: %s)"
          % (a / b, "met" if a <= b else "MISSED"))
    print("orvane-capture-sensors idle for %d s: %.3f %% of a core (goal: at most 0.1 %%: %s)"
          % (IDLE, idle * 100, "met" if idle <= 0.001 else "MISSED"))


if __name__ == "__main__":
    main()
