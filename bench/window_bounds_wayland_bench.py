#!/usr/bin/env python3
"""Benchmark of orvane-window-bounds on sway: its Wayland backend (sway's IPC) beside its X11
backend (the same session's XWayland, ORVANE_PLATFORM=x11), both following one of the same 50
windows at the same rate, at the same time, in a private headless sway.

  bench/window_bounds_wayland_bench.py TOOL X_FIXTURE [--seconds 20] [--windows 50]

Prints each one's CPU time over the run (from /proc/PID/schedstat) as a share of one core, and
the ratio Wayland / X11 (goal: at most 1).
"""

import argparse
import os
import signal
import subprocess
import sys
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "harness"))
import swayenv  # noqa: E402

POLL_MS = 50


def cpu_seconds(pid):
    """Time on a CPU, in nanoseconds in /proc/PID/schedstat: /proc/PID/stat counts in ticks of
    10 ms, too coarse for a tool that uses a few of them a second."""
    with open("/proc/%d/schedstat" % pid) as f:
        return int(f.read().split()[0]) / 1e9


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("fixture")
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--windows", type=int, default=50)
    args = parser.parse_args()
    why = swayenv.available()
    if why:
        sys.exit("sway cannot run here: " + why)

    # Floating, as on an ordinary desktop where windows overlap.
    with swayenv.Sway(config_extra='for_window [shell="xwayland"] floating enable\n') as s:
        s.start_xwayland()
        fixture = subprocess.Popen([args.fixture], env=s.env(), stdin=subprocess.PIPE,
                                   stdout=subprocess.PIPE, text=True)
        x_ids = []
        for i in range(args.windows):
            fixture.stdin.write("create %d %d 400 300 title=%s\n"
                                % (20 + 10 * i, 20 + 5 * i, ("window %d" % i).encode().hex()))
            fixture.stdin.flush()
            x_ids.append(int(fixture.stdout.readline()))
        followed = args.windows // 2
        title = "window %d" % followed
        con = s.wait_for(lambda n: n.get("name") == title)["id"]
        deadline = time.time() + 20
        while len(s.windows()) < args.windows and time.time() < deadline:
            time.sleep(0.1)
        views = len(s.windows())

        tools = {
            "wayland": subprocess.Popen([args.tool, "--window-id", str(con), "--poll-ms",
                                         str(POLL_MS)], env=s.env(), stdin=subprocess.PIPE,
                                        stdout=subprocess.PIPE),
            "x11": subprocess.Popen([args.tool, "--window-id", str(x_ids[followed]), "--poll-ms",
                                     str(POLL_MS)], env=dict(s.env(), ORVANE_PLATFORM="x11"),
                                    stdin=subprocess.PIPE, stdout=subprocess.PIPE),
        }
        first = {name: t.stdout.readline().decode().strip() for name, t in tools.items()}
        time.sleep(0.5)
        before = {name: cpu_seconds(t.pid) for name, t in tools.items()}
        began = time.monotonic()
        time.sleep(args.seconds)
        used = {name: cpu_seconds(t.pid) - before[name] for name, t in tools.items()}
        wall = time.monotonic() - began
        for t in tools.values():
            t.send_signal(signal.SIGTERM)
            t.wait(5)
        fixture.kill()
        fixture.wait()

    share = {name: 100 * cpu / wall for name, cpu in used.items()}
    print("sway %s; %d windows in the tree; interval %d ms; %.0f s"
          % (subprocess.run(["sway", "--version"], capture_output=True, text=True).stdout.strip(),
             views, POLL_MS, args.seconds))
    for name in ("wayland", "x11"):
        print("%-8s first line %s" % (name, first[name]))
    print("%-40s %10s" % ("", "CPU % core"))
    print("%-40s %10.3f" % ("orvane-window-bounds, Wayland (IPC)", share["wayland"]))
    print("%-40s %10.3f" % ("orvane-window-bounds, X11 (XWayland)", share["x11"]))
    ratio = share["wayland"] / share["x11"] if share["x11"] else float("inf")
    print("CPU ratio Wayland / X11: %.2f" % ratio)
    print("goal (at most 1): %s" % ("met" if ratio <= 1 else "MISSED"))


if __name__ == "__main__":
    main()
