#!/usr/bin/env python3
"""How many X connections each desktop tool opens, on a private Xvfb display with a window
manager (and, for the sensors tool, a private accessibility bus with a GTK app in front).

  bench/x11_clients.py BUILD_DIR [--json]

For each tool two counts:
  - "opened": the connections to the X server the process makes over its run (its connect()
    calls to the display's socket, through strace);
  - "clients": the X server's clients owned by the process once it has settled (the X-Resource
    extension's client list, asked through libxcb). The one-shot window list has ended by then.

orvane-ocr and orvane-haptic never connect to the X server.
"""

import argparse
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))
from atspi import AccessibilityBus, GtkFixture, available  # noqa: E402
from xclients import server_clients, traced, x_connects  # noqa: E402
from xenv import XServer  # noqa: E402

SETTLE_SECONDS = 1.5


def tool_pid(strace_proc, name):
    """The pid of the traced tool (strace's child)."""
    deadline = time.time() + 10
    while time.time() < deadline:
        out = subprocess.run(["pgrep", "-P", str(strace_proc.pid)], capture_output=True,
                             text=True).stdout.split()
        if out:
            return int(out[0])
        time.sleep(0.05)
    raise RuntimeError("%s did not start" % name)


def measure_running(build, env, display, name, args, stdin=None, tmp="."):
    trace = os.path.join(tmp, name + ".strace")
    proc = subprocess.Popen(traced(args, trace), env=env, stdin=subprocess.PIPE,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    try:
        pid = tool_pid(proc, name)
        if stdin:
            proc.stdin.write(stdin.encode())
            proc.stdin.flush()
        time.sleep(SETTLE_SECONDS)
        clients = server_clients(display, pid)
    finally:
        # The tool itself: strace would only let it go.
        try:
            os.kill(pid, signal.SIGTERM)
        except (NameError, ProcessLookupError):
            pass
        try:
            proc.wait(10)
        except subprocess.TimeoutExpired:
            proc.kill()
            proc.wait()
    return {"opened": x_connects(trace, display), "clients": clients}


def measure_once(env, display, name, args, tmp="."):
    trace = os.path.join(tmp, name + ".strace")
    subprocess.run(traced(args, trace), env=env, capture_output=True, timeout=60)
    return {"opened": x_connects(trace, display), "clients": None}


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--json", action="store_true")
    args = parser.parse_args()
    build = os.path.abspath(args.build)

    def tool(sub, name):
        return os.path.join(build, sub, name)

    results = {}
    with tempfile.TemporaryDirectory() as tmp, XServer(width=1600, height=1000, wm=True) as x:
        env = x.env()
        fixture = x.fixture(os.path.join(build, "tests", "orvane-x-fixture"))
        window = int(fixture.send("create 100 100 400 300 title=" + "Bench".encode().hex()))
        x.wait_viewable(window)
        results["orvane-window-list"] = measure_once(
            env, x.display, "window-list", [tool("window-list", "orvane-window-list")], tmp)
        results["orvane-window-bounds"] = measure_running(
            build, env, x.display, "window-bounds",
            [tool("window-bounds", "orvane-window-bounds"), "--window-id", str(window)],
            stdin="activate\n", tmp=tmp)
        results["orvane-capture-selector"] = measure_running(
            build, env, x.display, "selector",
            [tool("selector", "orvane-capture-selector"), "select"], tmp=tmp)
        results["orvane-eventtap"] = measure_running(
            build, env, x.display, "eventtap",
            [tool("eventtap", "orvane-eventtap"), os.path.join(tmp, "log.json")], tmp=tmp)
        if available():
            with AccessibilityBus(env) as bus:
                app = GtkFixture(bus.env(), title="Bench", button="Save")
                try:
                    results["orvane-capture-sensors"] = measure_running(
                        build, bus.env(), x.display, "sensors",
                        [tool("sensors", "orvane-capture-sensors")], tmp=tmp)
                finally:
                    app.close()
    if args.json:
        print(json.dumps(results, indent=1, sort_keys=True))
        return
    print("%-26s %8s %8s" % ("tool", "opened", "clients"))
    for name, r in results.items():
        clients = "-" if r["clients"] is None else str(r["clients"])
        print("%-26s %8d %8s" % (name, r["opened"], clients))
    print("%-26s %8d %8s" % ("orvane-ocr", 0, "-"))
    print("%-26s %8d %8s" % ("orvane-haptic", 0, "-"))


if __name__ == "__main__":
    main()
