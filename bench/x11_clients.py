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
import ctypes
import ctypes.util
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
from xenv import XServer  # noqa: E402

SETTLE_SECONDS = 1.5


class _Spec(ctypes.Structure):
    _fields_ = [("client", ctypes.c_uint32), ("mask", ctypes.c_uint32)]


class _IdValue(ctypes.Structure):
    _fields_ = [("spec", _Spec), ("length", ctypes.c_uint32)]


class _Iterator(ctypes.Structure):
    _fields_ = [("data", ctypes.POINTER(_IdValue)), ("rem", ctypes.c_int),
                ("index", ctypes.c_int)]


class _Cookie(ctypes.Structure):
    _fields_ = [("sequence", ctypes.c_uint)]


def client_pids(display):
    """The pid of each local client of the X server (X-Resource 1.2 QueryClientIds), through
    libxcb; clients without one are left out."""
    xcb = ctypes.CDLL(ctypes.util.find_library("xcb") or "libxcb.so.1")
    res = ctypes.CDLL(ctypes.util.find_library("xcb-res") or "libxcb-res.so.0")
    xcb.xcb_connect.restype = ctypes.c_void_p
    xcb.xcb_connect.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
    xcb.xcb_connection_has_error.argtypes = [ctypes.c_void_p]
    xcb.xcb_disconnect.argtypes = [ctypes.c_void_p]
    res.xcb_res_query_client_ids.restype = _Cookie
    res.xcb_res_query_client_ids.argtypes = [ctypes.c_void_p, ctypes.c_uint32,
                                             ctypes.POINTER(_Spec)]
    res.xcb_res_query_client_ids_reply.restype = ctypes.c_void_p
    res.xcb_res_query_client_ids_reply.argtypes = [ctypes.c_void_p, _Cookie, ctypes.c_void_p]
    res.xcb_res_query_client_ids_ids_iterator.restype = _Iterator
    res.xcb_res_query_client_ids_ids_iterator.argtypes = [ctypes.c_void_p]
    res.xcb_res_client_id_value_next.argtypes = [ctypes.POINTER(_Iterator)]
    res.xcb_res_client_id_value_value.restype = ctypes.POINTER(ctypes.c_uint32)
    res.xcb_res_client_id_value_value.argtypes = [ctypes.POINTER(_IdValue)]
    res.xcb_res_client_id_value_value_length.argtypes = [ctypes.POINTER(_IdValue)]
    libc = ctypes.CDLL(None)
    libc.free.argtypes = [ctypes.c_void_p]

    c = xcb.xcb_connect(display.encode(), None)
    if not c or xcb.xcb_connection_has_error(c):
        raise RuntimeError("cannot connect to " + display)
    try:
        spec = _Spec(0, 2)  # every client, its local pid
        reply = res.xcb_res_query_client_ids_reply(
            c, res.xcb_res_query_client_ids(c, 1, ctypes.byref(spec)), None)
        if not reply:
            raise RuntimeError("no X-Resource 1.2 on " + display)
        pids = []
        it = res.xcb_res_query_client_ids_ids_iterator(reply)
        while it.rem > 0:
            if res.xcb_res_client_id_value_value_length(it.data) == 1:
                pids.append(res.xcb_res_client_id_value_value(it.data)[0])
            res.xcb_res_client_id_value_next(ctypes.byref(it))
        libc.free(reply)
        return pids
    finally:
        xcb.xcb_disconnect(c)


def server_clients(display, pid):
    """How many of the X server's clients belong to `pid`."""
    return client_pids(display).count(pid)


def x_connects(trace_path, display):
    """Successful connect() calls to the display's socket in an strace log, made by the traced
    process's own threads (not by processes it starts)."""
    number = display.lstrip(":").split(".")[0]
    socket = "/tmp/.X11-unix/X" + number
    count = 0
    threads = None
    with open(trace_path) as f:
        for line in f:
            tid, _, call = line.partition(" ")
            if not tid.isdigit():
                continue
            if threads is None:
                threads = {tid}
            if tid not in threads:
                continue
            call = call.strip()
            if call.startswith("clone") and "CLONE_THREAD" in call:
                child = call.rsplit("=", 1)[-1].strip().split()[0]
                if child.isdigit():
                    threads.add(child)
            elif call.startswith("connect(") and socket in call and call.endswith("= 0"):
                count += 1
    return count


def traced(args, trace_path):
    return ["strace", "-f", "-qq", "-e", "trace=connect,clone,clone3", "-o", trace_path] + args


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
