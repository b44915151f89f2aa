#!/usr/bin/env python3
"""orvane-window-list on sway against `swaymsg -t get_tree` on one private headless sway holding
200 windows (XWayland fixture windows, floating, on one workspace): the median wall time of
each over the same number of runs, interleaved, and their ratio (goal: at most 1).

    bench/window_list_wayland_bench.py [BUILD_DIR] [RUNS]

With --hostile, compositors that misbehave instead:
- a stopped sway (SIGSTOP) whose IPC listen queue is full, a socket that never accepts and one
  that accepts and never answers: how long each tool takes to answer (window-list its array,
  the selector its cancellation, window-bounds its first line, the sensors their message on
  standard error) and to end on SIGTERM; goal: every answer within 2.5 s;
- window-list with a FIFO as a window's desktop entry, with one 1 MiB Name= shared by 200
  windows, and with a reply header announcing 64 MiB and no payload: its wall time and peak
  memory; goal: under 5 s and 256 MiB each.

    bench/window_list_wayland_bench.py --hostile [BUILD_DIR]
"""

import os
import signal
import statistics
import subprocess
import sys
import tempfile
import threading
import time

top = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(top, "tests", "harness"))
import swayenv  # noqa: E402

hostile = "--hostile" in sys.argv[1:]
args = [a for a in sys.argv[1:] if a != "--hostile"]
build = args[0] if args else os.path.join(top, "build")
runs = int(args[1]) if len(args) > 1 else 20
tool = os.path.join(build, "window-list", "orvane-window-list")
fixture = os.path.join(build, "tests", "orvane-x-fixture")
TOOLS = {
    "window-list": ([tool], "stdout"),
    "selector": ([os.path.join(build, "selector", "orvane-capture-selector"), "select"], "stdout"),
    "window-bounds": ([os.path.join(build, "window-bounds", "orvane-window-bounds"),
                       "--window-id", "100"], "stdout"),
    "sensors": ([os.path.join(build, "sensors", "orvane-capture-sensors")], "stderr"),
}
CAP = 12.0  # seconds a tool is given to answer before it counts as hung


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


def answer_and_stop(env, command, stream):
    """Seconds until the first line on `stream` (None: none within CAP), then seconds until the
    tool has ended after SIGTERM (0 when it had ended by itself)."""
    start = time.perf_counter()
    p = subprocess.Popen(command, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE)
    got = threading.Event()
    threading.Thread(target=lambda: (getattr(p, stream).readline(), got.set()),
                     daemon=True).start()
    answered = time.perf_counter() - start if got.wait(CAP) else None
    stop = time.perf_counter()
    if p.poll() is None:
        p.send_signal(signal.SIGTERM)
    try:
        p.wait(5)
        ended = time.perf_counter() - stop
    except subprocess.TimeoutExpired:
        p.kill()
        p.wait()
        ended = None
    return answered, ended


def peak(env, command):
    """Seconds and peak resident MiB of one run (None seconds: killed at CAP)."""
    start = time.perf_counter()
    p = subprocess.Popen(command, env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    timer = threading.Timer(CAP, p.kill)
    timer.start()
    _, status, usage = os.wait4(p.pid, 0)
    timer.cancel()
    p.returncode = status
    seconds = time.perf_counter() - start
    return (None if os.WIFSIGNALED(status) else seconds), usage.ru_maxrss / 1024


def show(label, seconds, goal):
    if seconds is None:
        return "%-64s %s" % (label, "no answer within %.0f s (goal %.1f s: MISSED)" % (CAP, goal))
    return "%-64s %6.2f s (goal %.1f s: %s)" % (label, seconds, goal,
                                                "met" if seconds <= goal else "MISSED")


def stuck(label, env):
    for name, (command, stream) in TOOLS.items():
        answered, ended = answer_and_stop(env, command, stream)
        print(show("%s, %s answers" % (label, name), answered, 2.5))
        print("%-64s %s" % ("%s, %s ends on SIGTERM" % (label, name),
                            "%.2f s" % ended if ended is not None else "not within 5 s"))


def main_hostile():
    why = swayenv.available()
    if why:
        sys.exit("sway cannot run here: " + why)
    with swayenv.Sway() as s:
        os.killpg(s.proc.pid, signal.SIGSTOP)
        held = swayenv.fill_queue(s.ipc)
        try:
            stuck("stopped sway, IPC queue full (%d held)" % len(held), s.env())
        finally:
            for h in held:
                h.close()
            os.killpg(s.proc.pid, signal.SIGCONT)
    for mode, label in (("never-accept", "socket that never accepts"),
                        ("silent", "socket that never answers")):
        with swayenv.FakeIpc(mode) as fake:
            stuck(label, fake.env())

    data = tempfile.mkdtemp(prefix="orvane-bench-data-")
    try:
        apps = os.path.join(data, "applications")
        os.mkdir(apps)
        os.mkfifo(os.path.join(apps, "org.orvane.Fifo.desktop"))
        with open(os.path.join(apps, "org.orvane.Big.desktop"), "w") as f:
            f.write("[Desktop Entry]\nType=Application\nName=" + "n" * (1 << 20) + "\n")
        cases = [
            ("FIFO desktop entry", "tree", [{"app_id": "org.orvane.Fifo", "name": "fifo",
                                             "pid": 1}]),
            ("1 MiB Name= shared by 200 windows", "tree",
             [{"app_id": "org.orvane.Big", "name": "w%d" % i, "pid": 1} for i in range(200)]),
            ("reply header announcing 64 MiB", "header", []),
        ]
        for label, mode, views in cases:
            with swayenv.FakeIpc(mode, tree=swayenv.tree_of(views)) as fake:
                env = dict(fake.env(), XDG_DATA_HOME=data, XDG_DATA_DIRS=data)
                seconds, mib = peak(env, [tool])
                print(show("window-list, %s" % label, seconds, 5.0))
                print("%-64s %6.1f MiB (goal 256 MiB: %s)"
                      % ("window-list, %s, peak" % label, mib, "met" if mib < 256 else "MISSED"))
    finally:
        import shutil
        shutil.rmtree(data, ignore_errors=True)


if __name__ == "__main__":
    main_hostile() if hostile else main()
