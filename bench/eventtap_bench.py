#!/usr/bin/env python3
"""Benchmark of orvane-eventtap.

  bench/eventtap_bench.py [BUILD_DIR] [--seconds 10] [--events 1000000]
                          [--trials 200] [--peer OTHER_TOOL] [--hostile-only]
                          [--focus-trials 1000] [--kill-trials 1000]
                          [--only hostile|focus|kill|cpu]

1. The event log's encoder against RapidJSON's Writer on a log of --events events, and the
   recorder's memory per event (the eventtap-bench program, built with the tools).
2. CPU of the recorder under 1,000 input events per second from XTest (xdotool reading its
   commands from a pipe) on a private Xvfb display, beside `xinput test-xi2 --root`, the X11
   input tool, listening to the same input. Each second holds, per 20 XTest events, 12 pointer
   moves, two key presses and releases, a click and a wheel step. Measured twice: without an
   accessibility bus, and with a focused GTK entry that every discrete event reads over AT-SPI.
   CPU time is the scheduler's run time of every thread (/proc/PID/task/*/schedstat), as a
   share of one core.
3. A hostile desktop, for the tool and (with --peer) another build of it measured in the same
   run: key presses lost when a burst of 100-300 presses is followed at once by SIGTERM, over
   --trials trials with a focused GTK entry, every other one with the recorder paused
   (SIGSTOP/SIGCONT) around the burst; the stop time and the spread of 10 presses' timestamps
   with the focused application stopped (SIGSTOP); 20 clicks at 20 places 30 ms apart, logged
   at their place, with and without that application answering; and how many of 50 recorders
   sent SIGTERM 0-100 ms after their start die of it rather than writing a log.
4. Plain mode and focus moves (--focus-trials): letters typed into a password entry and focus
   moved at once to a plain entry, by Shift+Tab or a click, quiet and with two busy loops.
5. Kills during the write of the log over an older one (--kill-trials): temporary copies left,
   and left once the next recording of that log has started.
"""

import argparse
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import threading
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
sys.path.insert(0, os.path.join(HERE, "..", "eventtap", "tests"))
from atspi import AccessibilityBus, GtkFixture, unreachable_env  # noqa: E402
from eventlog_check import Recorder, XTest, letters_then_moves  # noqa: E402
from xenv import XServer  # noqa: E402

CLK_TCK = os.sysconf("SC_CLK_TCK")
EVENTS_PER_SECOND = 1000
# One cycle: 20 XTest events.
CYCLE = (["mousemove_relative -- 1 0", "mousemove_relative -- -1 0"] * 6
         + ["key --delay 0 a", "key --delay 0 b", "click --delay 0 1", "click --delay 0 4"])


def cpu_seconds(pid):
    """CPU time of every thread of `pid`: the scheduler's own count in nanoseconds where the
    kernel has it, else utime + stime in clock ticks (10 ms each)."""
    try:
        total = 0
        for task in os.listdir("/proc/%d/task" % pid):
            with open("/proc/%d/task/%s/schedstat" % (pid, task)) as f:
                total += int(f.read().split()[0])
        return total / 1e9
    except (OSError, ValueError, IndexError):
        with open("/proc/%d/stat" % pid) as f:
            fields = f.read().rsplit(")", 1)[1].split()
        return (int(fields[11]) + int(fields[12])) / CLK_TCK


def flood(x, seconds):
    """XTest input at EVENTS_PER_SECOND for `seconds`; returns the events sent."""
    typist = subprocess.Popen(["xdotool", "-"], env=x.env(), stdin=subprocess.PIPE, text=True)
    cycles_per_second = EVENTS_PER_SECOND / 20
    start = time.monotonic()
    cycles = 0
    while time.monotonic() - start < seconds:
        typist.stdin.write("\n".join(CYCLE) + "\n")
        typist.stdin.flush()
        cycles += 1
        delay = start + cycles / cycles_per_second - time.monotonic()
        if delay > 0:
            time.sleep(delay)
    typist.stdin.close()
    typist.wait(30)
    return cycles * 20, time.monotonic() - start


def cpu_under_input(tool, seconds, accessibility):
    with XServer(width=1280, height=800) as x:
        bus = app = None
        env = unreachable_env(x.env())
        if accessibility:
            # A GTK entry with keyboard focus: every discrete event reads it over AT-SPI.
            bus = AccessibilityBus(x.env())
            bus.start()
            env = bus.env()
            app = GtkFixture(env, entry="", geometry="480x240+600+300")
            app.send("focus entry")
        work = tempfile.mkdtemp(prefix="orvane-eventtap-bench-")
        path = os.path.join(work, "log.json")
        recorder = Recorder(tool, path, env=env)
        recorder.wait_ready()
        xinput = subprocess.Popen(["xinput", "test-xi2", "--root"], env=x.env(),
                                  stdout=subprocess.DEVNULL)
        time.sleep(0.5)
        x.run("xdotool", "mousemove", "640", "400")
        before = (cpu_seconds(recorder.pid), cpu_seconds(xinput.pid))
        sent, wall = flood(x, seconds)
        time.sleep(0.5)  # let both catch up
        after = (cpu_seconds(recorder.pid), cpu_seconds(xinput.pid))
        rc, _, err = recorder.stop()
        xinput.terminate()
        xinput.wait(10)
        size = os.path.getsize(path) if os.path.exists(path) else 0
        os.unlink(path) if os.path.exists(path) else None
        os.rmdir(work)
        if app:
            app.close()
        if bus:
            bus.stop()
    ours, theirs = after[0] - before[0], after[1] - before[1]
    print("CPU under %d XTest events/s for %.1f s (%d events sent), %s:" % (
        EVENTS_PER_SECOND, wall, sent,
        "a focused GTK entry read over AT-SPI" if accessibility else "no accessibility bus"))
    print("  orvane-eventtap:        %6.3f s  %5.1f%% of a core  (exit %d, log %d bytes%s)" % (
        ours, 100 * ours / wall, rc, size, ", " + err.decode().strip() if err else ""))
    print("  xinput test-xi2 --root: %6.3f s  %5.1f%% of a core" % (theirs, 100 * theirs / wall))
    if ours > 0:
        print("  ratio (xinput / orvane-eventtap): %.2f" % (theirs / ours))


def hostile(tools, trials):
    import json
    import random
    letters = "abcdefghijklmnopqrstuvwxyz"

    def log_of(r):
        status, _, err = r.stop()
        if status != 0 or err:
            print("  (a recorder ended with status %d: %r)" % (status, err))
        try:
            with open(r.path) as f:
                return json.load(f)
        except (OSError, ValueError):
            return None

    with XServer(width=1280, height=800) as x:
        bus = AccessibilityBus(x.env())
        bus.start()
        env = bus.env()
        app = GtkFixture(env, entry="", geometry="480x240+40+40")
        app.send("focus entry")
        time.sleep(1)
        xt = XTest(x.env()["DISPLAY"])
        work = tempfile.mkdtemp(prefix="orvane-eventtap-bench-")
        for name, tool in tools:
            print("%s (%s):" % (name, tool))
            rng = random.Random(3)
            lost_trials = lost_events = 0
            for trial in range(trials):
                text = "".join(rng.choice(letters) for _ in range(rng.randint(100, 300)))
                r = Recorder(tool, os.path.join(work, "b.json"), "plain", env=env)
                r.wait_ready()
                paused = trial % 2 == 1
                if paused:
                    os.kill(r.pid, signal.SIGSTOP)
                for ch in text:
                    xt.key(ch)
                xt.sync()
                if paused:
                    os.kill(r.pid, signal.SIGCONT)
                log = log_of(r)
                typed = "".join(e["text"] for e in (log or {"events": []})["events"]
                                if e["type"] == "keyDown")
                if typed != text:
                    lost_trials += 1
                    lost_events += len(text) - len(typed)
                    where = ("at the start" if text.endswith(typed) else
                             "at the end" if text.startswith(typed) else "in between")
                    print("  (trial %d%s: %d of %d presses lost %s)" % (
                        trial, ", paused" if paused else "", len(text) - len(typed), len(text),
                        where))
            print("  burst then stop: %d of %d trials lost presses (%d presses in all)" % (
                lost_trials, trials, lost_events))

            r = Recorder(tool, os.path.join(work, "s.json"), "plain", env=env)
            r.wait_ready()
            os.kill(app.pid, signal.SIGSTOP)
            try:
                sent = []
                for ch in "abcdefghij":
                    xt.key(ch)
                    xt.sync()
                    sent.append(time.monotonic())
                started = time.monotonic()
                log = log_of(r)
                stop = time.monotonic() - started
                keys = [e["timestampMs"] for e in log["events"] if e["type"] == "keyDown"]
                print("  silent focused application: stop %.3f s; 10 presses spread %d ms "
                      "(sent within %.1f ms)" % (stop, keys[-1] - keys[0],
                                                  (sent[-1] - sent[0]) * 1000))
                for hung in (False, True):
                    if not hung:
                        os.kill(app.pid, signal.SIGCONT)
                        time.sleep(1)
                    else:
                        os.kill(app.pid, signal.SIGSTOP)
                    r = Recorder(tool, os.path.join(work, "c.json"), env=env)
                    r.wait_ready()
                    places = [(600 + 30 * i, 320 + 17 * i) for i in range(20)]
                    for px, py in places:
                        xt.click(px, py)
                        xt.sync()
                        time.sleep(0.03)
                    log = log_of(r)
                    clicks = [(e["x"], e["y"]) for e in log["events"]
                              if e["type"] == "leftMouseDown"]
                    right = sum(abs(a - px) <= 1 and abs(b - py) <= 1
                                for (a, b), (px, py) in zip(clicks, places))
                    print("  20 clicks 30 ms apart%s: %d at their place" % (
                        ", application silent" if hung else "", right))
            finally:
                os.kill(app.pid, signal.SIGCONT)
            time.sleep(1)

            killed = 0
            for n in range(50):
                r = Recorder(tool, os.path.join(work, "e.json"), env=env)
                time.sleep(rng.uniform(0, 0.1))
                status, _, _ = r.stop()
                killed += status != 0
            print("  SIGTERM 0-100 ms after start: %d of 50 died without a log" % killed)
        xt.close()
        shutil.rmtree(work, True)
        app.close()
        bus.stop()


def busy_loops(count=2):
    """Processes that keep `count` cores busy until killed."""
    return [subprocess.Popen(["sh", "-c", "while :; do :; done"]) for _ in range(count)]


def focus_moves(tools, trials, batch=100):
    """Plain mode with a GTK entry and a password entry: a letter typed into one, then focus
    moved at once to the other by (Shift+)Tab or a click, in one XTest burst. Counts the
    letters typed into the password entry that the log holds as text (the goal is none), and
    with a 30 ms pause before the move, the letters typed into the plain entry that keep their
    text. Each case runs quiet and with two busy loops loading the cores."""
    import random
    letters = "abcdefghijklmnopqrstuvwxyz"
    with XServer(width=1280, height=800) as x:
        bus = AccessibilityBus(x.env())
        bus.start()
        env = bus.env()
        app = GtkFixture(env, entry="", password=True, no_selection=True, geometry="480x240+40+40")
        app.send("focus password")
        time.sleep(1)
        xt = XTest(x.env()["DISPLAY"])
        work = tempfile.mkdtemp(prefix="orvane-eventtap-bench-")
        rng = random.Random(5)
        cases = [("password", "tab", 0.0, trials), ("password", "click", 0.0, trials),
                 ("entry", "tab", 0.03, max(trials // 5, 1)),
                 ("entry", "click", 0.03, max(trials // 5, 1)),
                 ("entry", "tab", 0.0, max(trials // 5, 1))]
        for name, tool in tools:
            print("%s (%s):" % (name, tool))
            for load in (False, True):
                loops = busy_loops() if load else []
                try:
                    for start, move, pause, count in cases:
                        kept = total = misplaced = failed = 0
                        done = 0
                        while done < count:
                            n = min(batch, count - done)
                            text = "".join(rng.choice(letters) for _ in range(n))
                            r = Recorder(tool, os.path.join(work, "f.json"), "plain", env=env)
                            r.wait_ready()
                            status, err, keys, texts = letters_then_moves(
                                xt, app, r, text, start, move, pause)
                            failed += status != 0 or bool(err) or len(keys) != n
                            kept += sum(1 for t, _ in keys if t)
                            total += len(keys)
                            misplaced += n - len(texts[start])
                            done += n
                        what = ("letters typed into the password entry stored as text"
                                if start == "password" else
                                "letters typed into the plain entry that kept their text")
                        print("  %s, %s%s%s: %d of %d %s (%d letters missed their entry, "
                              "%d runs failed)" % (
                                  "into the password entry" if start == "password"
                                  else "into the plain entry",
                                  "then Shift+Tab" if move == "tab" and start == "password"
                                  else "then Tab" if move == "tab" else "then a click",
                                  ", 30 ms pause" if pause else ", same burst",
                                  ", two busy loops" if load else "",
                                  kept, total, what, misplaced, failed), flush=True)
                finally:
                    for p in loops:
                        p.kill()
                        p.wait()
        xt.close()
        shutil.rmtree(work, True)
        app.close()
        bus.stop()


def kills(tools, trials):
    """SIGKILL 0-20 ms after SIGTERM, the write of the log over an older one included, on one
    path: how many kills left a temporary copy beside the log, and how many such copies were
    still there once the next recording of that log had started (the goal is none)."""
    import random
    with XServer(width=1280, height=800) as x:
        env = unreachable_env(x.env())
        xt = XTest(x.env()["DISPLAY"])
        for name, tool in tools:
            work = tempfile.mkdtemp(prefix="orvane-eventtap-bench-")
            path = os.path.join(work, "log.json")
            with open(path, "w") as f:
                f.write("{}")
            rng = random.Random(9)
            left = outlived = 0
            for n in range(trials + 1):
                r = Recorder(tool, path, "plain", env=env)
                r.wait_ready(quiet=0.05)
                outlived += len(os.listdir(work)) - 1
                for entry in os.listdir(work):
                    if entry != "log.json":
                        os.unlink(os.path.join(work, entry))
                if n == trials:
                    r.kill()
                    break
                for ch in "secret":
                    xt.key(ch)
                xt.sync()
                r.proc.send_signal(signal.SIGTERM)
                time.sleep(rng.uniform(0, 0.02))
                r.kill()
                left += len(os.listdir(work)) > 1
            print("%s: %d of %d kills left a temporary copy; %d copies outlived the start of the "
                  "next recording" % (name, left, trials, outlived), flush=True)
            shutil.rmtree(work, True)
        xt.close()


def main():
    p = argparse.ArgumentParser()
    p.add_argument("build", nargs="?", default=os.path.join(HERE, "..", "build"))
    p.add_argument("--seconds", type=float, default=10)
    p.add_argument("--events", type=int, default=1000000)
    p.add_argument("--trials", type=int, default=200)
    p.add_argument("--peer", help="another build of orvane-eventtap, measured beside this one")
    p.add_argument("--hostile-only", action="store_true")
    p.add_argument("--focus-trials", type=int, default=1000)
    p.add_argument("--kill-trials", type=int, default=1000)
    p.add_argument("--only", choices=["hostile", "focus", "kill", "cpu"],
                   help="run one part alone (cpu: the encoder and the CPU under input)")
    args = p.parse_args()
    bench = os.path.join(args.build, "eventtap", "eventtap-bench")
    tool = os.path.join(args.build, "eventtap", "orvane-eventtap")
    tools = [("this build", tool)] + ([("peer", args.peer)] if args.peer else [])
    only = "hostile" if args.hostile_only else args.only
    if only in (None, "cpu") and not os.access(bench, os.X_OK):
        sys.exit(f"eventtap_bench: no {bench}; the benchmark programs are built with "
                 "cmake -DORVANE_BENCH=ON")
    if only in (None, "hostile"):
        hostile(tools, args.trials)
    if only in (None, "focus"):
        focus_moves(tools, args.focus_trials)
    if only in (None, "kill"):
        kills(tools, args.kill_trials)
    if only not in (None, "cpu"):
        return
    subprocess.run([bench, str(args.events)], check=True)
    cpu_under_input(tool, args.seconds, accessibility=False)
    cpu_under_input(tool, args.seconds, accessibility=True)


if __name__ == "__main__":
    signal.signal(signal.SIGINT, signal.default_int_handler)
    main()
