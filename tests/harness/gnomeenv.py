"""A private headless GNOME Shell for process tests of the Wayland backend.

The shell runs with two virtual monitors (1280x800, then 1024x768 on its right), its own
session bus, and a system bus that holds only a stand-in for logind. Our extension (from the
source tree) and the test-session extension (tests/fixtures/gnome-shell) are enabled before
the start; the latter opens Eval, Screenshot and Introspect to the harness and hides the
overview once the shell has started. The tools and fixtures reach the shell through `env()`."""

import json
import os
import shutil
import signal
import subprocess
import sys
import tempfile
import time

import clients

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.normpath(os.path.join(HERE, "..", ".."))
EXTENSION = os.path.join(ROOT, "gnome-shell", "desktop-tools@orvane.dev")
TEST_EXTENSION = os.path.join(ROOT, "tests", "fixtures", "gnome-shell", "orvane-test@orvane.dev")
UUIDS = ("desktop-tools@orvane.dev", "orvane-test@orvane.dev")
MONITORS = ((1280, 800), (1024, 768))

BUS_CONFIG = """<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig>
  <type>%s</type>
  <listen>unix:path=%s</listen>
  <auth>EXTERNAL</auth>
  %s
  <policy context="default">
    <allow send_destination="*" eavesdrop="true"/>
    <allow eavesdrop="true"/>
    <allow own="*"/>
  </policy>
</busconfig>
"""


def available():
    """None when a headless GNOME Shell can run here, else why not (for a skipped test)."""
    for program in ("gnome-shell", "dbus-daemon", "dconf", "gdbus"):
        if not shutil.which(program):
            return "%s is not installed" % program
    return None


class Gnome(clients.Session):
    def __init__(self, monitors=MONITORS, extensions=UUIDS, x11=True, desktop_entries=None):
        """`desktop_entries`: {desktop id: Name=} the shell finds among its applications."""
        self.monitors = monitors
        self.desktop_entries = desktop_entries or {}
        self.extensions = extensions
        self.x11 = x11
        self.dir = None
        self.procs = []
        self.shell = None
        self.clients = []

    def _bus(self, kind):
        path = os.path.join(self.dir, kind + "-bus")
        config = os.path.join(self.dir, kind + "-bus.conf")
        dirs = "<standard_session_servicedirs />" if kind == "session" else ""
        with open(config, "w") as f:
            f.write(BUS_CONFIG % (kind, path, dirs))
        p = subprocess.Popen(["dbus-daemon", "--config-file=" + config, "--nofork",
                              "--print-address"], stdout=subprocess.PIPE, text=True,
                             stderr=subprocess.DEVNULL,
                             env=self._base_env(), start_new_session=True)
        self.procs.append(p)
        address = p.stdout.readline().strip()
        if not address:
            raise RuntimeError("the %s bus did not start" % kind)
        return address

    def _base_env(self):
        env = {k: v for k, v in os.environ.items()
               if k not in ("DISPLAY", "WAYLAND_DISPLAY", "SWAYSOCK", "I3SOCK", "ORVANE_PLATFORM",
                            "DBUS_SESSION_BUS_ADDRESS", "XDG_SESSION_TYPE")}
        if self.dir:
            env.update(HOME=self.dir, XDG_RUNTIME_DIR=self.runtime,
                       XDG_CONFIG_HOME=os.path.join(self.dir, "config"),
                       XDG_DATA_HOME=os.path.join(self.dir, "data"),
                       XDG_CACHE_HOME=os.path.join(self.dir, "cache"))
        return env

    def start(self):
        self.dir = tempfile.mkdtemp(prefix="orvane-gnome-")
        self.runtime = os.path.join(self.dir, "runtime")
        os.mkdir(self.runtime, 0o700)
        extensions = os.path.join(self.dir, "data", "gnome-shell", "extensions")
        os.makedirs(extensions)
        for source in (EXTENSION, TEST_EXTENSION):
            os.symlink(source, os.path.join(extensions, os.path.basename(source)))
        applications = os.path.join(self.dir, "data", "applications")
        os.makedirs(applications)
        for desktop_id, name in self.desktop_entries.items():
            with open(os.path.join(applications, desktop_id + ".desktop"), "w") as f:
                f.write("[Desktop Entry]\nType=Application\nName=%s\nExec=true\n" % name)
        self.system_bus = self._bus("system")
        self.session_bus = self._bus("session")
        standin = subprocess.Popen(["/usr/bin/python3", os.path.join(HERE, "login1_standin.py"),
                                    self.system_bus], stdout=subprocess.PIPE, text=True,
                                   env=self._base_env(), start_new_session=True)
        self.procs.append(standin)
        if standin.stdout.readline().strip() != "ready":
            raise RuntimeError("the logind stand-in did not start")
        env = self.bus_env()
        for key, value in (("enabled-extensions", repr(list(self.extensions))),
                           ("disable-user-extensions", "false"),
                           ("welcome-dialog-last-shown-version", "'999'")):
            subprocess.run(["dconf", "write", "/org/gnome/shell/" + key, value], env=env,
                           check=True, timeout=20, capture_output=True)
        self.log = open(self.log_path, "w")
        command = ["gnome-shell", "--headless", "--wayland"]
        if not self.x11:
            command.append("--no-x11")
        for w, h in self.monitors:
            command += ["--virtual-monitor", "%dx%d" % (w, h)]
        self.shell = subprocess.Popen(command, env=env, stdout=self.log, stderr=self.log,
                                      start_new_session=True)
        deadline = time.time() + 30
        while time.time() < deadline:
            if self.shell.poll() is not None:
                raise RuntimeError("gnome-shell ended: " + self.read_log())
            names = ["org.gnome.Shell"] + (["dev.orvane.Shell"] if UUIDS[0] in self.extensions
                                           else [])
            if all(self.has_owner(n) for n in names) and \
                    self.eval("Main.layoutManager._startingUp") is False:
                break
            time.sleep(0.1)
        else:
            raise RuntimeError("gnome-shell did not start: " + self.read_log())
        self.wait(lambda: self.eval("Main.overview.visible") is False, "the overview to close")
        # The virtual pointer and keyboard, made now: a client learns of a seat's devices as
        # they come, and one made after a client's start would reach it late or not at all.
        self.eval("[%s, %s].length" % (self._device("Pointer"), self._device("Keyboard")))

    def bus_env(self):
        env = self._base_env()
        env.update(DBUS_SESSION_BUS_ADDRESS=self.session_bus,
                   DBUS_SYSTEM_BUS_ADDRESS=self.system_bus, XDG_SESSION_TYPE="wayland",
                   XDG_CURRENT_DESKTOP="GNOME", GSETTINGS_BACKEND="dconf")
        return env

    def env(self, base=None):
        """The environment of a client of this shell."""
        env = dict(os.environ if base is None else base)
        for name in ("DISPLAY", "SWAYSOCK", "I3SOCK", "ORVANE_PLATFORM"):
            env.pop(name, None)
        env.update(WAYLAND_DISPLAY="wayland-0", XDG_RUNTIME_DIR=self.runtime,
                   DBUS_SESSION_BUS_ADDRESS=self.session_bus,
                   DBUS_SYSTEM_BUS_ADDRESS=self.system_bus)
        if self.x11:
            env["DISPLAY"], env["XAUTHORITY"] = self.x_display()
        return env

    def x_display(self):
        """XWayland's DISPLAY and XAUTHORITY, as the shell gives them to its clients."""
        if not hasattr(self, "_x"):
            self._x = self.wait(lambda: self.eval(
                "[GLib.getenv('DISPLAY'), GLib.getenv('XAUTHORITY')]"), "XWayland")
        return self._x

    LOG_TAIL = 3000

    @property
    def log_path(self):
        return self.dir and os.path.join(self.dir, "shell.log")

    def gdbus(self, *args, timeout=10):
        return subprocess.run(["gdbus", "call", "--session"] + list(args), env=self.bus_env(),
                              capture_output=True, text=True, timeout=timeout)

    def has_owner(self, name):
        r = self.gdbus("--dest", "org.freedesktop.DBus", "--object-path", "/org/freedesktop/DBus",
                       "--method", "org.freedesktop.DBus.NameHasOwner", name)
        return r.returncode == 0 and "true" in r.stdout

    def eval(self, script):
        """The value of a JavaScript expression in the shell (JSON-decoded); None when it threw
        or the shell did not answer."""
        r = self.gdbus("--dest", "org.gnome.Shell", "--object-path", "/org/gnome/Shell",
                       "--method", "org.gnome.Shell.Eval", script)
        if r.returncode != 0 or not r.stdout.startswith("(true,"):
            return None
        text = r.stdout[len("(true, "):-2]
        # gdbus prints the string as a GVariant literal: quoted, with escapes.
        from ast import literal_eval
        value = literal_eval(text)
        try:
            return json.loads(value) if value else None
        except ValueError:
            return value

    def wait(self, predicate, what, timeout=20):
        deadline = time.time() + timeout
        while time.time() < deadline:
            value = predicate()
            if value:
                return value
            time.sleep(0.05)
        raise RuntimeError("timed out waiting for %s: %s" % (what, self.read_log()))

    WINDOWS = ("global.get_window_actors().map(a => a.meta_window)"
               ".filter(w => w.get_window_type() === Meta.WindowType.NORMAL)")

    def act(self, title, script):
        """Runs `script` in the shell with `w` the window titled `title`; its value."""
        return self.eval("(w => (%s))(%s.find(w => w.get_title() === %s))"
                         % (script, self.WINDOWS, json.dumps(title)))

    def focus(self, title, timeout=20):
        """Activates the window titled `title` until the shell has focused it: a window mapped
        just before may still take the focus after a first activation on a loaded machine."""
        deadline = time.time() + timeout
        while True:
            self.act(title, "Main.activateWindow(w)")
            left = max(0.1, deadline - time.time())
            try:
                return self.wait(lambda: (self.truth().get(title) or {}).get("focused"),
                                 "the focus on %r" % title, min(2, left))
            except RuntimeError:
                if time.time() >= deadline:
                    raise

    def window(self, title, timeout=20):
        """The shell's own view of the window titled `title`, once it has one."""
        return self.wait(lambda: self.truth().get(title), "a window titled %r" % title, timeout)

    def truth(self):
        """{title: {id, pid, x, y, width, height, shown, focused, monitor}} for every normal
        window, as the shell sees it; frames in the stage's pixels; "order" ranks shown
        windows top first."""
        rows = self.eval("""(() => {
            const ws = global.workspace_manager.get_active_workspace();
            const all = global.display.sort_windows_by_stacking(%s).reverse();
            return all.map((w, i) => { const r = w.get_frame_rect(); return {
              title: w.get_title(), id: w.get_id(), pid: w.get_pid(), x: r.x, y: r.y,
              width: r.width, height: r.height, order: i, monitor: w.get_monitor(),
              shown: !w.minimized && w.located_on_workspace(ws),
              focused: w === global.display.focus_window }; });
        })()""" % self.WINDOWS)
        return {row["title"]: row for row in rows or []}

    def _device(self, kind):
        return ("(global._orvane%s = global._orvane%s || imports.gi.Clutter.get_default_backend()"
                ".get_default_seat().create_virtual_device(imports.gi.Clutter.InputDeviceType.%s))"
                % (kind, kind, {"Pointer": "POINTER_DEVICE", "Keyboard": "KEYBOARD_DEVICE"}[kind]))

    def move(self, x, y):
        """The pointer to (x, y) of the stage, through a virtual device of the shell's seat."""
        return self.eval("(d => { d.notify_absolute_motion(GLib.get_monotonic_time(), %d, %d);"
                         " return true; })(%s)" % (x, y, self._device("Pointer")))

    def click(self):
        return self.eval("(d => { const t = GLib.get_monotonic_time();"
                         " d.notify_button(t, 1, 1); d.notify_button(t + 10000, 1, 0);"
                         " return true; })(%s)" % self._device("Pointer"))

    def key(self, name):
        """Presses and releases the key whose keysym is `name` ("Return", "Escape", "w")."""
        return self.eval("(d => { const k = imports.gi.Clutter.KEY_%s;"
                         " const t = GLib.get_monotonic_time(); d.notify_keyval(t, k, 1);"
                         " d.notify_keyval(t + 10000, k, 0); return true; })(%s)"
                         % (name, self._device("Keyboard")))

    def screenshot(self):
        """What the shell shows, the whole stage in its pixels."""
        path = os.path.join(self.dir, "shot.png")
        r = self.gdbus("--dest", "org.gnome.Shell.Screenshot", "--object-path",
                       "/org/gnome/Shell/Screenshot", "--method",
                       "org.gnome.Shell.Screenshot.Screenshot", "false", "false", path, timeout=30)
        if "true" not in r.stdout:
            raise RuntimeError("no screenshot: %s %s" % (r.stdout, r.stderr))
        # PNG to raw RGB with the system's GdkPixbuf (any Python here may lack an image module).
        script = ("import sys, gi; gi.require_version('GdkPixbuf', '2.0');"
                  "from gi.repository import GdkPixbuf;"
                  "p = GdkPixbuf.Pixbuf.new_from_file(sys.argv[1]);"
                  "p = p.add_alpha(False, 0, 0, 0) if not p.get_has_alpha() else p;"
                  "sys.stdout.write('%d %d %d\\n' % (p.get_width(), p.get_height(),"
                  " p.get_rowstride())); sys.stdout.flush();"
                  "sys.stdout.buffer.write(p.get_pixels())")
        out = subprocess.run(["/usr/bin/python3", "-c", script, path], capture_output=True,
                             timeout=30, check=True).stdout
        header, data = out.split(b"\n", 1)
        return Shot(*map(int, header.split()), data)

    def stop(self):
        clients.end(self.clients)
        # The shell first: it may crash on the way out (not ours to count), and must not see
        # its buses go first.
        for p in ([self.shell] if self.shell else []) + self.procs[::-1]:
            if p.poll() is None:
                try:
                    os.killpg(p.pid, signal.SIGTERM)
                except ProcessLookupError:
                    pass
                try:
                    p.wait(10)
                except subprocess.TimeoutExpired:
                    os.killpg(p.pid, signal.SIGKILL)
                    p.wait()
            if p.stdout:
                p.stdout.close()
        self.procs = []
        if getattr(self, "log", None):
            self.log.close()
        if self.dir:
            shutil.rmtree(self.dir, ignore_errors=True)


class Shot:
    def __init__(self, width, height, stride, data):
        self.width, self.height, self.stride, self.data = width, height, stride, data

    def at(self, x, y):
        i = int(y) * self.stride + int(x) * 4
        return tuple(self.data[i:i + 3])
