#!/usr/bin/env python3
"""orvane-capture-selector against slop, the X11 selection tool, on one private X display
holding 200 fixture windows under a window manager. For each figure both tools are measured
in the same run, alternately, and the ratio (ours / slop) is printed:

- start-up: from starting the program to its overlay window being mapped (median);
- CPU time per pointer move, over 500 moves driven by xdotool (ours in screen mode and in
  window mode, where every move takes a window snapshot and repaints what changed);
- peak memory (VmHWM) after those moves.

Also `--warm` beside `true` (median wall time), and the p50/p99 of one window-mode update
(snapshot, hit test, repaint) from build/selector/selector_update_bench.

With "labels" as third argument, only the cost of hostile label texts: for each, the time from
starting the selector to its answer to an Escape pressed as soon as the overlay is mapped
(the label is laid out before the overlay is shown and drawn before the key is read), beside
the same for no label at all; then the layout and drawing of each label alone, timed from
inside by build/selector/selector_label_bench.

    bench/selector_bench.py [BUILD_DIR] [RUNS] [labels]
"""

import os
import statistics
import subprocess
import sys
import threading
import time

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(top, "tests", "harness"))
from xenv import XServer  # noqa: E402

build = sys.argv[1] if len(sys.argv) > 1 else os.path.join(top, "build")
runs = int(sys.argv[2]) if len(sys.argv) > 2 else 10
tool = os.path.join(build, "selector", "orvane-capture-selector")
update_bench = os.path.join(build, "selector", "selector_update_bench")
label_bench = os.path.join(build, "selector", "selector_label_bench")
fixture = os.path.join(build, "tests", "orvane-x-fixture")
for program in (update_bench, label_bench):
    if not os.access(program, os.X_OK):
        sys.exit(f"selector_bench: no {program}; the benchmark programs are built with "
                 "cmake -DORVANE_BENCH=ON")
MOVES = 500


class MapWatcher:
    """Root-window MapNotify events as xev reports them, each with its arrival time."""

    def __init__(self, x):
        self.proc = subprocess.Popen(["stdbuf", "-oL", "xev", "-root", "-event", "substructure"],
                                     env=x.env(), stdout=subprocess.PIPE, text=True)
        self.maps = []
        self.cond = threading.Condition()
        threading.Thread(target=self.read, daemon=True).start()
        time.sleep(0.3)

    def read(self):
        for line in self.proc.stdout:
            if line.startswith("MapNotify"):
                with self.cond:
                    self.maps.append(time.perf_counter())
                    self.cond.notify_all()

    def first_after(self, count, timeout=10):
        with self.cond:
            self.cond.wait_for(lambda: len(self.maps) > count, timeout)
            return self.maps[count] if len(self.maps) > count else None

    def stop(self):
        self.proc.kill()
        self.proc.wait()


def cpu_seconds(pid):
    """CPU time of all the process's threads, in seconds (nanosecond scheduler statistics)."""
    total = 0
    for task in os.listdir("/proc/%d/task" % pid):
        with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
            total += int(f.read().split()[0])
    return total / 1e9


def peak_kib(pid):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1])
    return 0


def start(x, watcher, command):
    seen = len(watcher.maps)
    began = time.perf_counter()
    proc = subprocess.Popen(command, env=x.env(), stdout=subprocess.DEVNULL,
                            stderr=subprocess.DEVNULL)
    mapped = watcher.first_after(seen)
    if mapped is None:
        proc.kill()
        raise RuntimeError("%s never mapped a window" % command[0])
    # Later maps (a second overlay) belong to the same start.
    time.sleep(0.3)
    return proc, mapped - began


def stop(proc):
    proc.kill()
    proc.wait()
    time.sleep(0.1)


def move_script(width, height):
    words = []
    for i in range(MOVES):
        words += ["mousemove", str(15 + (i * 97) % (width - 30)), str(15 + (i * 61) % (height - 30)),
                  "sleep", "0.004"]
    return words


def per_move(x, watcher, command):
    proc, _ = start(x, watcher, command)
    try:
        before = cpu_seconds(proc.pid)
        x.run("xdotool", *move_script(x.width, x.height))
        time.sleep(0.5)
        used = cpu_seconds(proc.pid) - before
        return used / MOVES, peak_kib(proc.pid)
    finally:
        stop(proc)


def wall(command, env, count):
    times = []
    for _ in range(count):
        began = time.perf_counter()
        subprocess.run(command, env=env, stdout=subprocess.DEVNULL, check=True)
        times.append(time.perf_counter() - began)
    return times


def ms(seconds):
    return "%.3f ms" % (seconds * 1000)


def answer_time(x, watcher, command, limit=600):
    """Seconds from start to the answer to an Escape pressed once the overlay is mapped."""
    seen = len(watcher.maps)
    began = time.perf_counter()
    proc = subprocess.Popen(command, env=x.env(), stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL)
    if watcher.first_after(seen, timeout=limit) is None:
        proc.kill()
        proc.wait()
        return None
    x.run("xdotool", "key", "Escape")
    try:
        out = proc.communicate(timeout=limit)[0]
    except subprocess.TimeoutExpired:
        proc.kill()
        proc.wait()
        return None
    took = time.perf_counter() - began
    time.sleep(0.2)
    return took if out == b'{"cancelled":true}\n' else None


def labels():
    words = "Screen recording permission is missing. "
    cases = [
        ("no label", [], None),
        ("--warning of 64 KiB of words", ["--warning", (words * 1700)[:64 * 1024]], None),
        ("--warning of 64 KiB without a space", ["--warning", "x" * (64 * 1024)], None),
        # The longest argument Linux passes: 128 KiB with its terminating zero.
        ("--warning of 128 KiB without a space", ["--warning", "x" * (128 * 1024 - 1)], None),
        ("--warning of 20,000 accents on one letter", ["--warning", "a" + "\u0301" * 20000],
         None),
        ("--warning of 20,000 accented letters", ["--warning", "e\u0301" * 20000], None),
        ("--mic-label of 64 KiB without a space", ["--mic-label", "x" * (64 * 1024)], None),
        ("window title of 64 KiB without a space, hovered", ["--initial-mode", "window"],
         "x" * (64 * 1024)),
        ("window title of 20,000 accents on one letter, hovered", ["--initial-mode", "window"],
         "T" + "\u0301" * 20000),
    ]
    with XServer(width=1280, height=800) as x:
        f = x.fixture(fixture)
        watcher = MapWatcher(x)
        print("display 1280x800, no window manager; start to the answer to Escape, median of "
              "%d runs (one for a case slower than 5 s)" % runs)
        for name, args, title in cases:
            window = None
            if title is not None:
                window = f.create(100, 100, 600, 400, title=title)
                x.wait_viewable(window)
                x.run("xdotool", "mousemove", "300", "300")
            times = []
            for _ in range(runs):
                took = answer_time(x, watcher, [tool, "select", *args])
                times.append(took)
                if took is None or took > 5:
                    break
            if window is not None:
                f.send("destroy %d" % window)
            if None in times:
                print("%s: no answer within 600 s" % name)
            else:
                print("%s: %s" % (name, ms(statistics.median(times))))
            sys.stdout.flush()
        watcher.stop()
    subprocess.run([label_bench], check=True)


if len(sys.argv) > 3 and sys.argv[3] == "labels":
    labels()
    sys.exit(0)

with XServer(wm=True) as x:
    f = x.fixture(fixture)
    windows = [f.create(10 + i % 40 * 20, 10 + i // 40 * 60, 300, 200, title="window %d" % i,
                        **{"class": "Bench"}) for i in range(200)]
    x.wait_viewable(*windows)
    watcher = MapWatcher(x)
    slop = ["slop", "-f", "%i"]
    ours = [tool, "select"]
    ours_window = [tool, "select", "--initial-mode", "window"]

    starts_ours, starts_slop = [], []
    for _ in range(runs):
        proc, took = start(x, watcher, ours)
        stop(proc)
        starts_ours.append(took)
        proc, took = start(x, watcher, slop)
        stop(proc)
        starts_slop.append(took)
    a, b = statistics.median(starts_ours), statistics.median(starts_slop)
    print("display: 1920x1080, 200 windows under openbox, no compositor; %d runs each" % runs)
    print("start to overlay mapped, median: ours %s, slop %s, ratio %.3f (fastest: %s and %s)"
          % (ms(a), ms(b), a / b, ms(min(starts_ours)), ms(min(starts_slop))))

    cpu_screen, mem_screen = per_move(x, watcher, ours)
    cpu_window, mem_window = per_move(x, watcher, ours_window)
    cpu_slop, mem_slop = per_move(x, watcher, slop)
    print("CPU per pointer move (%d moves): ours screen mode %s, window mode %s, slop %s; "
          "ratios %.3f and %.3f" % (MOVES, ms(cpu_screen), ms(cpu_window), ms(cpu_slop),
                                    cpu_screen / cpu_slop, cpu_window / cpu_slop))
    print("peak memory: ours screen mode %d KiB, window mode %d KiB, slop %d KiB; ratios %.3f "
          "and %.3f" % (mem_screen, mem_window, mem_slop, mem_screen / mem_slop,
                        mem_window / mem_slop))
    watcher.stop()

    warm, true = [], []
    for _ in range(runs * 5):
        warm += wall([tool, "--warm"], x.env(), 1)
        true += wall(["true"], x.env(), 1)
    a, b = statistics.median(warm), statistics.median(true)
    print("--warm median %s, true median %s, difference %s (fastest: %s and %s)"
          % (ms(a), ms(b), ms(a - b), ms(min(warm)), ms(min(true))))

    sys.stdout.flush()
    subprocess.run([update_bench, "400"], env=x.env(), check=True)
