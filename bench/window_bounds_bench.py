#!/usr/bin/env python3
"""Benchmark of orvane-window-bounds against a loop of `xdotool getwindowgeometry` at the same
rate, on a private Xvfb display.

  bench/window_bounds_bench.py TOOL FIXTURE [--seconds 20] [--wm]

Prints, for both:
  - CPU time over the run (utime + stime from /proc/PID/stat for the tool; the children's
    rusage for the xdotool loop) as a share of one core;
  - X requests that need a reply, and round trips, per poll, counted with xtrace (a proxy
    that shows every request and reply). A round trip is a burst of requests followed by the
    replies the client waits for.
"""

import argparse
import os
import re
import resource
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "tests", "harness"))
from xenv import XServer  # noqa: E402

POLL_MS = 50
CLK_TCK = os.sysconf("SC_CLK_TCK")


def cpu_seconds(pid):
    with open("/proc/%d/stat" % pid) as f:
        fields = f.read().rsplit(")", 1)[1].split()
    return (int(fields[11]) + int(fields[12])) / CLK_TCK  # utime, stime


def xdotool_loop(x, window, seconds, out):
    """`xdotool getwindowgeometry` every POLL_MS for `seconds`; its CPU time in `out`."""
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    runs = 0
    next_at = start
    while time.monotonic() - start < seconds:
        subprocess.run(["xdotool", "getwindowgeometry", str(window)], env=x.env(),
                       stdout=subprocess.DEVNULL, check=True)
        runs += 1
        next_at += POLL_MS / 1000
        time.sleep(max(0, next_at - time.monotonic()))
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    out["cpu"] = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    out["wall"] = time.monotonic() - start
    out["runs"] = runs


def free_display():
    for n in range(431, 999):
        if not os.path.exists("/tmp/.X11-unix/X%d" % n) and not os.path.exists("/tmp/.X%d-lock" % n):
            return ":%d" % n
    raise RuntimeError("no free display number")


def trace(x, command, seconds):
    """Runs `command` through xtrace for `seconds` (or until it ends); the trace's lines."""
    fd, path = tempfile.mkstemp(prefix="orvane-xtrace-")
    os.close(fd)
    proxy = subprocess.Popen(["xtrace", "-n", "-s", "-d", x.display, "-D", free_display(),
                              "-o", path, "--"] + command,
                             env=x.env(), stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                             stderr=subprocess.DEVNULL, start_new_session=True)
    try:
        proxy.wait(seconds)
    except subprocess.TimeoutExpired:
        # The traced command is the proxy's child; end it, and the proxy follows.
        with open("/proc/%d/task/%d/children" % (proxy.pid, proxy.pid)) as f:
            for child in f.read().split():
                os.kill(int(child), signal.SIGTERM)
        proxy.wait(5)
    with open(path, errors="replace") as f:
        lines = f.read().splitlines()
    os.unlink(path)
    return lines


# xtrace's lines: "CCC:<:SSSS: ..." a request of connection CCC, "CCC:>:SSSS:..." what the
# server sent back; "CCC:<: am lsb-first ..." and "CCC:>: Success ..." the connection set-up.
LINE = re.compile(r"^(\d+):([<>]):([0-9a-f]{4})?")


def replies_and_round_trips(lines, connection=None):
    """Replies (requests answered with one), and round trips: bursts of requests, the set-up
    included, that the client sent and then waited on. xtrace may print part of a burst after
    the first replies to it, so a request opens a new burst only once every request before it
    has been answered."""
    replies = round_trips = 0
    state = {}  # connection: [last request seq, last reply seq, burst open, burst answered]
    for line in lines:
        m = LINE.match(line)
        if not m or (connection is not None and m.group(1) != connection):
            continue
        conn, direction = m.group(1), m.group(2)
        seq = int(m.group(3), 16) if m.group(3) else -1
        st = state.setdefault(conn, [-2, -2, False, False])
        if direction == "<":
            if not st[2] or (st[3] and st[1] >= st[0]):
                st[2], st[3] = True, False
            st[0] = seq
            continue
        if "Reply" not in line and " Success" not in line:
            continue  # events and errors
        if "Reply" in line:
            replies += 1
        st[1] = seq
        if st[2] and not st[3]:
            round_trips += 1
            st[3] = True
    return replies, round_trips


def tool_trace(x, tool, window):
    """Per-poll figures of the window-server connection (the first one) in the steady state.
    Each poll begins with the request for the RandR monitors."""
    lines = trace(x, [tool, "--window-id", str(window), "--poll-ms", str(POLL_MS)], 3.0)
    starts = [i for i, l in enumerate(lines) if l.startswith("000:<:") and "GetMonitors" in l]
    if len(starts) < 12:
        raise RuntimeError("too few polls traced (%d)" % len(starts))
    steady = starts[5:]
    replies = trips = 0
    for a, b in zip(steady, steady[1:]):
        r, t = replies_and_round_trips(lines[a:b], "000")
        replies += r
        trips += t
    polls = len(steady) - 1
    return replies / polls, trips / polls


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("tool")
    parser.add_argument("fixture")
    parser.add_argument("--seconds", type=float, default=20)
    parser.add_argument("--wm", action="store_true")
    args = parser.parse_args()
    if not shutil.which("xtrace"):
        sys.exit("xtrace is needed (Debian package xtrace)")

    with XServer(wm=args.wm) as x:
        f = x.fixture(args.fixture)
        window = f.create(100, 100, 640, 480)
        x.wait_viewable(window)

        # CPU: both at the same time, for the same length, at the same rate.
        tool = subprocess.Popen([args.tool, "--window-id", str(window)], env=x.env(),
                                stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
        time.sleep(0.2)
        tool_before, began = cpu_seconds(tool.pid), time.monotonic()
        peer = {}
        loop = threading.Thread(target=xdotool_loop, args=(x, window, args.seconds, peer))
        loop.start()
        time.sleep(args.seconds)
        tool_cpu = cpu_seconds(tool.pid) - tool_before
        tool_wall = time.monotonic() - began
        loop.join()
        tool.send_signal(signal.SIGTERM)
        tool.wait(5)

        per_poll_replies, per_poll_trips = tool_trace(x, args.tool, window)
        xdo = trace(x, ["xdotool", "getwindowgeometry", str(window)], 10)
        xdo_replies, xdo_trips = replies_and_round_trips(xdo)  # one run, from its connection

    tool_share = 100 * tool_cpu / tool_wall
    peer_share = 100 * peer["cpu"] / peer["wall"]
    print("window manager: %s; interval %d ms; %.0f s" % ("yes" if args.wm else "no", POLL_MS,
                                                          args.seconds))
    print("%-40s %10s %14s %14s" % ("", "CPU % core", "replies/poll", "round trips/poll"))
    print("%-40s %10.3f %14.1f %14.1f" % ("orvane-window-bounds", tool_share, per_poll_replies,
                                           per_poll_trips))
    print("%-40s %10.3f %14.1f %14.1f" % ("xdotool getwindowgeometry (%d runs)" % peer["runs"],
                                           peer_share, xdo_replies, xdo_trips))
    print("CPU ratio xdotool / tool: %.0fx" % (peer_share / tool_share if tool_share else float("inf")))
    goal = tool_share < 1 and per_poll_trips <= 2
    print("goal (under 1%% of a core, at most 2 round trips per poll): %s" % ("met" if goal else "MISSED"))


if __name__ == "__main__":
    main()
