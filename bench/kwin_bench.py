#!/usr/bin/env python3
"""The tools on one private headless KWin (tests/harness/kwinenv.py) holding XWayland fixture
windows:
- orvane-window-list with 100 windows against one `gdbus call` to KWin's WindowsRunner Match
  "window" (what KWin answers without a script): median wall time over the same number of
  runs, interleaved, and their ratio (goal: at most 1);
- orvane-window-bounds polling every 50 ms with 50 windows, once through the compositor (the
  Wayland session) and once through the X11 backend on XWayland's display, following the same
  window for the same time: CPU seconds of each and their ratio (goal: at most 1).
    bench/kwin_bench.py [BUILD_DIR] [RUNS]
"""
import os
import signal
import statistics
import subprocess
import sys
import time

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(top, "tests", "harness"))
import kwinenv  # noqa: E402

args = sys.argv[1:]
build = args[0] if args else os.path.join(top, "build")
runs = int(args[1]) if len(args) > 1 else 20
window_list = os.path.join(build, "window-list", "orvane-window-list")
window_bounds = os.path.join(build, "window-bounds", "orvane-window-bounds")
fixture = os.path.join(build, "tests", "orvane-x-fixture")
FOLLOW_SECONDS = 10


def seconds(env, command):
    start = time.perf_counter()
    subprocess.run(command, env=env, stdout=subprocess.DEVNULL, check=True)
    return time.perf_counter() - start


def quartiles(samples):
    q = statistics.quantiles(samples, n=4)
    return "%.2f-%.2f" % (q[0] * 1000, q[2] * 1000)


def windows(k, f, count, made):
    for i in range(made, count):
        f.stdin.write("create %d %d 300 200 title=%s\n"
                      % (10 + 4 * i, 10 + 2 * i, ("window %d" % i).encode().hex()))
        f.stdin.flush()
        f.stdout.readline()
    deadline = time.time() + 60
    while len(k.windows()) < count and time.time() < deadline:
        time.sleep(0.2)


def cpu_seconds(env, command):
    """CPU seconds (user + system) of the command, ended by SIGTERM after FOLLOW_SECONDS."""
    p = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(FOLLOW_SECONDS)
    p.send_signal(signal.SIGTERM)
    _, _, usage = os.wait4(p.pid, 0)
    p.returncode = 0
    return usage.ru_utime + usage.ru_stime


def main():
    why = kwinenv.available()
    if why:
        sys.exit("KWin cannot run here: " + why)
    with kwinenv.KWin(xwayland=True) as k:
        env = k.env()
        f = subprocess.Popen([fixture], env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             text=True)
        try:
            windows(k, f, 50, 0)
            listed = subprocess.run([window_list], env=env, capture_output=True, text=True)
            first = listed.stdout.split('"id":')[1].split(",")[0]
            # The X11 backend reads XWayland's display as an X11 session does.
            x11 = dict(env, ORVANE_PLATFORM="x11")
            x_listed = subprocess.run([window_list], env=x11, capture_output=True, text=True)
            x_first = x_listed.stdout.split('"id":')[1].split(",")[0]
            ours = cpu_seconds(env, [window_bounds, "--window-id", first, "--poll-ms", "50"])
            theirs = cpu_seconds(x11, [window_bounds, "--window-id", x_first, "--poll-ms", "50"])
            print("KWin, 50 windows; window-bounds at 50 ms for %d s" % FOLLOW_SECONDS)
            print("%-44s %8.3f s CPU" % ("orvane-window-bounds, KWin", ours))
            print("%-44s %8.3f s CPU" % ("orvane-window-bounds, X11 on XWayland", theirs))
            print("ratio KWin / X11: %.2f (goal: at most 1: %s)"
                  % (ours / theirs, "met" if ours <= theirs else "MISSED"))

            windows(k, f, 100, 50)
            listed = subprocess.run([window_list], env=env, capture_output=True, text=True)
            match = ["gdbus", "call", "--session", "-d", "org.kde.KWin", "-o", "/WindowsRunner",
                     "-m", "org.kde.krunner1.Match", "window"]
            a_runs, b_runs = [], []
            for _ in range(runs):
                a_runs.append(seconds(env, [window_list]))
                b_runs.append(seconds(env, match))
        finally:
            f.kill()
            f.wait()
    a, b = statistics.median(a_runs), statistics.median(b_runs)
    print("KWin, 100 windows, %d listed; %d runs each; load average %.2f"
          % (listed.stdout.count('"id"'), runs, os.getloadavg()[0]))
    print("%-44s %8.2f ms (quartiles %s)" % ("orvane-window-list (median)", a * 1000,
                                             quartiles(a_runs)))
    print("%-44s %8.2f ms (quartiles %s)" % ("gdbus call WindowsRunner Match (median)",
                                             b * 1000, quartiles(b_runs)))
    print("ratio orvane-window-list / gdbus: %.2f (goal: at most 1: %s)"
          % (a / b, "met" if a <= b else "MISSED"))


if __name__ == "__main__":
    main()
