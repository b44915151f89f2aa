"""A private X display for process tests: Xvfb, optional RandR monitors, an optional window
manager, and fixture windows made by the orvane-x-fixture client."""

import os
import shutil
import subprocess
import time


def hexs(text):
    """Bytes (or UTF-8 text) in the fixture's hexadecimal form; "-" for the empty text."""
    if isinstance(text, str):
        text = text.encode("utf-8")
    return text.hex() or "-"


class XServer:
    """Xvfb on a free display number. `monitors` is a list of (name, w, h, x, y, primary)."""

    def __init__(self, width=1920, height=1080, monitors=None, wm=False, disable=()):
        self.width, self.height = width, height
        self.disable = disable  # extensions the server leaves out
        self.monitors = monitors
        self.wm = wm
        self.procs = []
        self.display = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def env(self):
        env = dict(os.environ)
        env["DISPLAY"] = self.display
        return env

    def run(self, *args, check=True, **kwargs):
        return subprocess.run(list(args), env=self.env(), check=check, capture_output=True,
                              text=True, errors="surrogateescape", timeout=30, **kwargs)

    def start(self):
        r, w = os.pipe()
        xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-noreset", "-nolisten", "tcp",
             "-screen", "0", "%dx%dx24" % (self.width, self.height)]
            + [arg for name in self.disable for arg in ("-extension", name)],
            pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        self.procs.append(xvfb)
        number = b""
        with os.fdopen(r, "rb") as f:
            while not number.endswith(b"\n"):
                chunk = f.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        self.display = ":" + number.decode().strip()
        if self.monitors:
            self.set_monitors(self.monitors)
        if self.wm:
            self.start_wm()

    def set_monitors(self, monitors):
        # Monitors without an output first, then the one that takes over the screen's output.
        ordered = sorted(monitors, key=lambda m: m is monitors[-1])
        for i, (name, w, h, x, y, primary) in enumerate(ordered):
            output = "screen" if i == len(ordered) - 1 else "none"
            # "*" before the name marks the primary monitor ("+" would mean automatic).
            self.run("xrandr", "--setmonitor", ("*" if primary else "") + name,
                     "%d/%dx%d/%d+%d+%d" % (w, w * 254 // 960, h, h * 254 // 960, x, y), output)

    def start_wm(self):
        config = os.path.join(os.path.dirname(__file__), "openbox-rc.xml")
        wm = subprocess.Popen(["openbox", "--config-file", config], env=self.env(),
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        self.procs.append(wm)
        deadline = time.time() + 10
        while time.time() < deadline:
            out = self.run("xprop", "-root", "_NET_SUPPORTING_WM_CHECK", check=False).stdout
            if "window id" in out:
                # The check window comes before the manager has taken over the root; a
                # short pause lets it finish starting.
                time.sleep(0.3)
                return
            time.sleep(0.05)
        raise RuntimeError("the window manager did not start")

    def wait_viewable(self, *windows, timeout=30):
        """Waits until each window is shown (under a window manager, once it has been managed)."""
        deadline = time.time() + timeout
        for w in windows:
            while "IsViewable" not in self.run("xwininfo", "-id", str(w), check=False).stdout:
                if time.time() > deadline:
                    raise RuntimeError("window %d was never shown" % w)
                time.sleep(0.02)
            if self.wm:
                while "=" not in self.run("xprop", "-id", str(w), "_NET_FRAME_EXTENTS",
                                          check=False).stdout:
                    if time.time() > deadline:
                        raise RuntimeError("window %d was never managed" % w)
                    time.sleep(0.02)

    def fixture(self, binary):
        f = Fixture(binary, self.env())
        self.procs.insert(1, f.proc)
        return f

    def stop(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
            for stream in (p.stdin, p.stdout):
                if stream:
                    stream.close()
        self.procs = []


class Fixture:
    """One fixture X client; each command returns its answer line."""

    def __init__(self, binary, env):
        self.proc = subprocess.Popen([binary], env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, text=True, bufsize=1)

    @property
    def pid(self):
        return self.proc.pid

    def send(self, command):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        answer = self.proc.stdout.readline().strip()
        if not answer or answer.startswith("error"):
            raise RuntimeError("fixture: %r -> %r" % (command, answer))
        return answer

    def create(self, x, y, w, h, **options):
        words = ["create", str(x), str(y), str(w), str(h)]
        for key, value in options.items():
            if key in ("title", "wmname"):
                value = hexs(value)
            words.append("%s=%s" % (key, value))
        return int(self.send(" ".join(words)))

    def close(self):
        self.proc.stdin.close()
        self.proc.wait(5)


def tool_available(name):
    return shutil.which(name) is not None
