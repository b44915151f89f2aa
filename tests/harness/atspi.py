"""A private D-Bus session bus and the AT-SPI accessibility bus for process tests.

Use it with an X display from xenv.py (GTK 3 apps then expose their accessibility tree under
Xvfb):

    with XServer() as x, AccessibilityBus(x.env()) as bus:
        app = GtkFixture(bus.env(), title="Editor", button="Save")
        tool = subprocess.Popen([binary], env=bus.env(), ...)

`bus.env()` is the environment for every child (tools and fixtures): the X display, the private
session bus, no inherited accessibility-bus address, GTK's accessibility bridge allowed, and
settings in memory (so org.a11y.Status.IsEnabled starts false and a test that sets it leaves the
machine's settings alone).
`AccessibilityBus(x.env(), accessibility=False)` gives a session bus without the accessibility
bus launcher and without service activation (nothing answers org.a11y.Bus); `unreachable_env(x.env())` gives an environment
whose session bus address points at nothing, as on a desktop without D-Bus.

GtkFixture (tests/fixtures/gtk_fixture.py) is driven over its standard input: "title TEXT"
changes the window title, "where NAME" answers "NAME x y w h" (the widget's allocation in root
pixels), "focus NAME" gives a widget keyboard focus, "freeze SECONDS" blocks its main loop (it
stops answering on the accessibility bus), "sync" answers once the fixture has handled all input
sent to it before, "quit" ends it. NAME is "window", "button",
"entry", "password" or "address".

Chromium (see the class below) shows a real browser's tree on the same bus.

NOTE: on Xvfb, `xdotool mousemove X Y` (an absolute XTest move) produces no XInput 2 raw motion
event; `xdotool mousemove_relative DX DY` does. Clicks, wheel buttons and keys always do.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
GTK_FIXTURE = os.path.join(HERE, "..", "fixtures", "gtk_fixture.py")
BUS_LAUNCHER = "/usr/libexec/at-spi-bus-launcher"
# The fixture needs PyGObject, which Debian installs for its own interpreter.
GTK_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable

# Variables that would point children at the machine's own session or accessibility bus.
_INHERITED = ("DBUS_SESSION_BUS_ADDRESS", "AT_SPI_BUS_ADDRESS", "NO_AT_BRIDGE", "GTK_MODULES",
              "DBUS_SESSION_BUS_PID", "XDG_RUNTIME_DIR")


_BARE_BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>session</type>
  <listen>unix:dir=%s</listen>
  <auth>EXTERNAL</auth>
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def available():
    """Whether this machine can run the accessibility process tests."""
    return (shutil.which("dbus-daemon") is not None and os.access(BUS_LAUNCHER, os.X_OK)
            and shutil.which("Xvfb") is not None)


def _clean(base_env):
    env = {k: v for k, v in base_env.items() if k not in _INHERITED}
    # The bus launcher keeps org.a11y.Status.IsEnabled in the desktop settings; in memory it
    # never reaches the machine's own settings, and every bus starts with it off.
    env["GSETTINGS_BACKEND"] = "memory"
    env["GTK_A11Y"] = "atspi"
    env["NO_AT_BRIDGE"] = "0"
    return env


def unreachable_env(base_env):
    """An environment whose session bus cannot be reached at all."""
    env = _clean(base_env)
    env["DBUS_SESSION_BUS_ADDRESS"] = "unix:path=/nonexistent/orvane-no-bus"
    return env


class AccessibilityBus:
    """dbus-daemon on a private socket and, unless accessibility=False, the AT-SPI bus
    launcher on it (which starts the accessibility bus and its registry)."""

    def __init__(self, base_env, accessibility=True):
        self.base_env = base_env
        self.accessibility = accessibility
        self.procs = []
        self.address = None
        self.tmp = None

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def env(self):
        env = _clean(self.base_env)
        env["DBUS_SESSION_BUS_ADDRESS"] = self.address
        env["XDG_RUNTIME_DIR"] = self.tmp
        return env

    def start(self):
        self.tmp = tempfile.mkdtemp(prefix="orvane-bus-")
        os.chmod(self.tmp, 0o700)
        if self.accessibility:
            config = ["--session", "--address=unix:dir=" + self.tmp]
        else:
            # The session configuration would start the launcher on demand; this one has no
            # services at all.
            path = os.path.join(self.tmp, "bus.conf")
            with open(path, "w") as f:
                f.write(_BARE_BUS_CONFIG % self.tmp)
            config = ["--config-file=" + path]
        daemon = subprocess.Popen(
            ["dbus-daemon", "--nofork", "--print-address=1"] + config,
            env=_clean(self.base_env), stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
            text=True)
        self.procs.append(daemon)
        self.address = daemon.stdout.readline().strip()
        if not self.address:
            raise RuntimeError("dbus-daemon did not start")
        if self.accessibility:
            launcher = subprocess.Popen([BUS_LAUNCHER, "--launch-immediately"], env=self.env(),
                                        stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
            self.procs.append(launcher)
            self.wait_for_name("org.a11y.Bus")

    def call(self, *args, check=False):
        """dbus-send on the private session bus; returns the completed process."""
        return subprocess.run(["dbus-send", "--session", "--print-reply"] + list(args),
                              env=self.env(), capture_output=True, text=True, timeout=10,
                              check=check)

    def wait_for_name(self, name, timeout=15):
        deadline = time.time() + timeout
        while time.time() < deadline:
            r = self.call("--dest=org.freedesktop.DBus", "/org/freedesktop/DBus",
                          "org.freedesktop.DBus.NameHasOwner", "string:" + name)
            if "boolean true" in r.stdout:
                return
            time.sleep(0.05)
        raise RuntimeError("%s never appeared on the session bus" % name)

    def is_enabled(self):
        """org.a11y.Status.IsEnabled as the accessibility bus launcher holds it."""
        r = self.call("--dest=org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties.Get",
                      "string:org.a11y.Status", "string:IsEnabled")
        return "boolean true" in r.stdout

    def set_enabled(self, value=True):
        """Sets org.a11y.Status.IsEnabled (what the tools' switch-on does)."""
        self.call("--dest=org.a11y.Bus", "/org/a11y/bus", "org.freedesktop.DBus.Properties.Set",
                  "string:org.a11y.Status", "string:IsEnabled",
                  "variant:boolean:" + ("true" if value else "false"), check=True)

    def stop(self):
        for p in reversed(self.procs):
            if p.poll() is None:
                p.terminate()
                try:
                    p.wait(5)
                except subprocess.TimeoutExpired:
                    p.kill()
                    p.wait()
            if p.stdout:
                p.stdout.close()
        self.procs = []
        if self.tmp:
            shutil.rmtree(self.tmp, ignore_errors=True)
            self.tmp = None


class Chromium:
    """Debian's Chromium showing `url` in a new profile under `work_dir`, its renderer
    accessibility forced on. It joins the accessibility bus only when it finds
    org.a11y.Status.IsEnabled true at its start: call bus.set_enabled() (or let the tool under
    test switch it on) first. Its application is named "Chromium", WM_CLASS class "Chromium"."""

    def __init__(self, env, url, work_dir):
        self.proc = subprocess.Popen(
            ["chromium", "--force-renderer-accessibility", "--no-sandbox", "--no-first-run",
             "--disable-gpu", "--user-data-dir=" + os.path.join(work_dir, "chromium-profile"),
             url], env=env, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)

    @property
    def pid(self):
        return self.proc.pid

    def close(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(30)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()


class GtkFixture:
    """One GTK 3 fixture app (tests/fixtures/gtk_fixture.py); keyword arguments become its
    options (title="A b" -> --title "A b", widgets=2000 -> --widgets 2000, password=True ->
    --password). Waits until the window is shown and its accessibility bridge is up."""

    def __init__(self, env, timeout=30, **options):
        args = [GTK_PYTHON, GTK_FIXTURE]
        for key, value in options.items():
            flag = "--" + key.replace("_", "-")
            if value is True:
                args.append(flag)
            elif value is not False and value is not None:
                args += [flag, str(value)]
        self.proc = subprocess.Popen(args, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     text=True, bufsize=1)
        line = self._readline(timeout)
        if not line.startswith("ready "):
            self.close()
            raise RuntimeError("gtk fixture did not start: %r" % line)
        self.window = int(line.split()[1])

    def _readline(self, timeout):
        import select
        ready, _, _ = select.select([self.proc.stdout], [], [], timeout)
        if not ready:
            return ""
        return self.proc.stdout.readline().strip()

    @property
    def pid(self):
        return self.proc.pid

    def send(self, command, timeout=10):
        self.proc.stdin.write(command + "\n")
        self.proc.stdin.flush()
        answer = self._readline(timeout)
        if not answer or answer.startswith("error"):
            raise RuntimeError("gtk fixture: %r -> %r" % (command, answer))
        return answer

    def where(self, name):
        """(x, y, w, h) of a widget in root pixels."""
        _, x, y, w, h = self.send("where " + name).split()
        return int(x), int(y), int(w), int(h)

    def center(self, name):
        x, y, w, h = self.where(name)
        return x + w // 2, y + h // 2

    def close(self):
        if self.proc.poll() is None:
            try:
                self.proc.stdin.write("quit\n")
                self.proc.stdin.flush()
                self.proc.wait(5)
            except (BrokenPipeError, subprocess.TimeoutExpired):
                self.proc.kill()
                self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout):
            try:
                stream.close()
            except BrokenPipeError:
                pass
