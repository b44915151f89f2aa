"""A private headless KWin (kwin_wayland --virtual) for process tests of the Wayland backend.

KWin runs on a session bus of its own (dbus-daemon without services), with two 1280x800
virtual outputs side by side and, on request, XWayland. Its binary carries a file capability
that containers refuse, so it is started through the dynamic loader. Tools, fixtures and the
test reach it through `env()`. What KWin itself says about its windows (`windows()`) comes
from its WindowsRunner and getWindowInfo, which need no script; the test changes windows with
small scripts of its own (`script()`)."""

import os
import shutil
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from atspi import _BARE_BUS_CONFIG  # noqa: E402
import clients  # noqa: E402

KWIN = "/usr/bin/kwin_wayland"
LOADER = "/lib64/ld-linux-x86-64.so.2"
GTK_PYTHON = "/usr/bin/python3"
GTK_FIXTURE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "fixtures",
                           "gtk_fixture.py")


def available():
    """None when KWin can run here, else why not (for a skipped test)."""
    for path in (KWIN, LOADER, GTK_PYTHON):
        if not os.path.exists(path):
            return "%s is missing" % path
    if not shutil.which("dbus-daemon") or not shutil.which("gdbus"):
        return "dbus-daemon or gdbus is not installed"
    return None


class KWin(clients.Session):
    def __init__(self, xwayland=False, outputs=2, scale=None):
        self.xwayland = xwayland
        self.outputs = outputs
        self.scale = scale
        self.dir = None
        self.bus = None
        self.proc = None
        self.display = None
        self.clients = []
        self.scripts = 0

    def start(self):
        self.dir = tempfile.mkdtemp(prefix="orvane-kwin-")
        os.chmod(self.dir, 0o700)
        config = os.path.join(self.dir, "bus.conf")
        with open(config, "w") as f:
            f.write(_BARE_BUS_CONFIG % self.dir)
        self.bus = subprocess.Popen(["dbus-daemon", "--nofork", "--print-address=1",
                                     "--config-file=" + config],
                                    stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.address = self.bus.stdout.readline().strip()
        if not self.address:
            raise RuntimeError("dbus-daemon did not start")
        env = {"PATH": os.environ.get("PATH", "/usr/bin:/bin"), "HOME": self.dir,
               "XDG_RUNTIME_DIR": self.dir, "XDG_CONFIG_HOME": os.path.join(self.dir, "config"),
               "DBUS_SESSION_BUS_ADDRESS": self.address, "KWIN_FORCE_OWN_QPA": "1",
               "KWIN_WAYLAND_NO_PERMISSION_CHECKS": "1"}
        command = [LOADER, KWIN, "--virtual", "--width", "1280", "--height", "800",
                   "--output-count", str(self.outputs), "--no-lockscreen",
                   "--no-global-shortcuts", "--no-kactivities", "--socket", "wayland-0"]
        if self.xwayland:
            command.append("--xwayland")
        if self.scale:
            # Every output's scale: its logical size is the pixel size over it.
            command += ["--scale", str(self.scale)]
        self.log = open(self.log_path, "w")
        self.proc = subprocess.Popen(command, env=env, stdout=self.log, stderr=self.log,
                                     start_new_session=True)
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("KWin ended: " + self.read_log())
            if (os.path.exists(os.path.join(self.dir, "wayland-0"))
                    and self.gdbus("org.kde.KWin", "/", "org.freedesktop.DBus.Peer.Ping",
                                   check=False).returncode == 0):
                break
            time.sleep(0.05)
        else:
            raise RuntimeError("KWin did not start: " + self.read_log())
        if self.xwayland:
            self.display = self._xwayland_display(deadline)

    def _xwayland_display(self, deadline):
        # KWin starts XWayland as its child and picks the display number itself.
        while time.time() < deadline:
            for pid in filter(str.isdigit, os.listdir("/proc")):
                try:
                    with open("/proc/%s/stat" % pid) as f:
                        ppid = int(f.read().rsplit(")", 1)[1].split()[1])
                    if ppid != self.proc.pid:
                        continue
                    with open("/proc/%s/cmdline" % pid, "rb") as f:
                        args = f.read().decode().split("\0")
                except (OSError, ValueError, IndexError):
                    continue
                for a in args:
                    if a.startswith(":") and a[1:].isdigit():
                        return a
            time.sleep(0.05)
        raise RuntimeError("KWin started no XWayland")

    @property
    def log_path(self):
        return self.dir and os.path.join(self.dir, "kwin.log")

    def env(self, base=None):
        env = dict(os.environ if base is None else base)
        for name in ("DISPLAY", "SWAYSOCK", "I3SOCK", "ORVANE_PLATFORM", "AT_SPI_BUS_ADDRESS"):
            env.pop(name, None)
        env.update({"WAYLAND_DISPLAY": "wayland-0", "XDG_RUNTIME_DIR": self.dir,
                    "DBUS_SESSION_BUS_ADDRESS": self.address, "NO_AT_BRIDGE": "1",
                    "GSETTINGS_BACKEND": "memory"})
        if self.display:
            env["DISPLAY"] = self.display
        return env

    def gdbus(self, dest, path, method, *args, check=True):
        r = subprocess.run(["gdbus", "call", "--session", "-d", dest, "-o", path, "-m", method]
                           + list(args), env=self.env(), capture_output=True, text=True,
                           timeout=20)
        if check and r.returncode != 0:
            raise RuntimeError("%s: %s" % (method, r.stderr))
        return r

    def gtk(self, title, backend="wayland", geometry="480x320+40+40", *extra):
        """A GTK fixture window, shown once this returns; its standard input takes commands."""
        p = subprocess.Popen([GTK_PYTHON, GTK_FIXTURE, "--title", title, "--geometry", geometry]
                             + list(extra), env=dict(self.env(), GDK_BACKEND=backend),
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.DEVNULL, text=True)
        self.clients.append(p)
        if not p.stdout.readline().startswith("ready"):
            raise RuntimeError("the GTK fixture did not start")
        return p

    def script(self, source):
        """Runs a KWin script. It stays loaded (KWin reads its file in the background after
        run(), so an unload could come first), under a name no tool uses."""
        self.scripts += 1
        name = "orvane-test-%d" % self.scripts
        path = os.path.join(self.dir, name + ".js")
        with open(path, "w") as f:
            f.write(source)
        self.gdbus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.loadScript", path, name)
        # Not through the script's own object: its number may be a tool's script's too.
        self.gdbus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.start")

    def loaded_scripts(self):
        """How many scripts KWin holds: KWin 5.27 numbers a script it loads by that count."""
        path = os.path.join(self.dir, "count.js")
        with open(path, "w") as f:
            f.write("\n")
        out = self.gdbus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.loadScript",
                         path, "orvane-test-count").stdout
        self.gdbus("org.kde.KWin", "/Scripting", "org.kde.kwin.Scripting.unloadScript",
                   "orvane-test-count")
        return int(out.strip().strip("(),"))

    def on_window(self, title, statements):
        """Runs `statements` with `c` bound to the window whose caption is `title`."""
        self.script("var l = workspace.clientList(); for (var i = 0; i < l.length; i++) {"
                    " var c = l[i]; if (c.caption === %s) { %s } }" % (repr_js(title), statements))

    def windows(self):
        """KWin's own account of its windows: {caption: getWindowInfo's dictionary}."""
        out = self.gdbus("org.kde.KWin", "/WindowsRunner", "org.kde.krunner1.Match",
                         "window").stdout
        result = {}
        for uuid in sorted(set(part.split("}")[0] for part in out.split("_{")[1:])):
            info = self.gdbus("org.kde.KWin", "/KWin", "org.kde.KWin.getWindowInfo",
                              "{%s}" % uuid).stdout
            result[_field(info, "caption")] = {
                "uuid": uuid, "x": float(_field(info, "x")), "y": float(_field(info, "y")),
                "width": float(_field(info, "width")), "height": float(_field(info, "height")),
                "minimized": _field(info, "minimized") == "true",
                "resourceClass": _field(info, "resourceClass")}
        return result

    def wait_for(self, predicate, timeout=10):
        """KWin's windows once predicate(windows) holds."""
        deadline = time.time() + timeout
        while True:
            w = self.windows()
            if predicate(w):
                return w
            if time.time() > deadline:
                raise AssertionError("KWin's windows never matched: %s" % w)
            time.sleep(0.1)

    def kill(self):
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, 9)
            self.proc.wait()

    def stop(self):
        clients.end(self.clients)
        if self.proc and self.proc.poll() is None:
            os.killpg(self.proc.pid, 15)
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, 9)
                self.proc.wait()
        if self.bus and self.bus.poll() is None:
            self.bus.kill()
            self.bus.wait()
        if self.bus:
            self.bus.stdout.close()
        if getattr(self, "log", None):
            self.log.close()
        if self.dir:
            shutil.rmtree(self.dir, ignore_errors=True)


def repr_js(text):
    import json
    return json.dumps(text)


def _field(info, key):
    """One value of gdbus's printed a{sv}: "'key': <value>"."""
    start = info.index("'%s': <" % key) + len(key) + 5
    end = info.index(">", start)
    return info[start:end].strip("'")
