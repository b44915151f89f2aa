"""A private headless sway for process tests of the Wayland backend.

sway refuses to run as root, so it runs as an unprivileged user made once (`orvane-sway`), with
its own XDG_RUNTIME_DIR; the tools and fixtures may run as root and reach it through
`env()`. Outputs are headless (the first one made at start, more with `add_output`), rendering
is pixman, and there are no input devices: input comes from virtual pointer and keyboard
clients. XWayland starts on the first X11 client; `env()` carries its DISPLAY."""

import json
import os
import pwd
import shutil
import subprocess
import tempfile
import time

USER = "orvane-sway"


def available():
    """None when sway can run here, else why not (for a skipped test)."""
    for program in ("sway", "swaymsg"):
        if not shutil.which(program):
            return "%s is not installed" % program
    if os.geteuid() != 0:
        try:
            pwd.getpwnam(USER)
        except KeyError:
            return "the user %s does not exist and only root can make it" % USER
    return None


def ensure_user():
    # A root directory that only root may enter (a chroot made in a mkdtemp folder) lets the
    # unprivileged user run nothing at all; every installed system has it open to all.
    if os.geteuid() == 0 and not os.stat("/").st_mode & 0o001:
        os.chmod("/", os.stat("/").st_mode | 0o555)
    try:
        return pwd.getpwnam(USER)
    except KeyError:
        subprocess.run(["useradd", "--system", "--no-create-home", "--shell", "/usr/sbin/nologin",
                        USER], check=True, capture_output=True)
        return pwd.getpwnam(USER)


class Sway:
    """`outputs`: list of (width, height, scale) for the outputs, side by side from (0, 0)."""

    def __init__(self, outputs=((1280, 720, 1.0),), config_extra=""):
        self.outputs = list(outputs)
        self.config_extra = config_extra
        self.runtime = None
        self.proc = None
        self.ipc = None
        self.display = None
        self.log = None
        self.clients = []

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()

    def start(self):
        user = ensure_user()
        self.runtime = tempfile.mkdtemp(prefix="orvane-sway-")
        os.chmod(self.runtime, 0o700)
        lines = ["xwayland enable", "default_border normal 2", "focus_follows_mouse no"]
        x = 0
        for i, (w, h, scale) in enumerate(self.outputs):
            lines.append("output HEADLESS-%d resolution %dx%d position %d 0 scale %s"
                         % (i + 1, w, h, x, scale))
            x += int(w / scale)
        lines.append(self.config_extra)
        config = os.path.join(self.runtime, "config")
        with open(config, "w") as f:
            f.write("\n".join(lines) + "\n")
        for path in (self.runtime, config):
            os.chown(path, user.pw_uid, user.pw_gid)
        self.log = open(os.path.join(self.runtime, "sway.log"), "w")
        env = {"PATH": "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin", "HOME": self.runtime,
               "XDG_RUNTIME_DIR": self.runtime, "WLR_BACKENDS": "headless",
               "WLR_RENDERER": "pixman", "WLR_LIBINPUT_NO_DEVICES": "1"}
        command = ["sway", "-c", config]
        if os.geteuid() == 0:
            command = ["runuser", "-u", USER, "--"] + command
        self.proc = subprocess.Popen(command, env=env, stdout=self.log, stderr=self.log,
                                     start_new_session=True)
        deadline = time.time() + 20
        while time.time() < deadline:
            if self.proc.poll() is not None:
                raise RuntimeError("sway ended: " + self.read_log())
            socks = [n for n in os.listdir(self.runtime) if n.startswith("sway-ipc.")]
            if socks and os.path.exists(os.path.join(self.runtime, "wayland-1")):
                self.ipc = os.path.join(self.runtime, socks[0])
                if self.msg("-t", "get_version", check=False).returncode == 0:
                    break
            time.sleep(0.05)
        else:
            raise RuntimeError("sway did not start: " + self.read_log())
        # More outputs than the first: made now, placed by the config lines above.
        for _ in self.outputs[1:]:
            self.msg("create_output")
        for i, (w, h, scale) in enumerate(self.outputs):
            self.msg("output HEADLESS-%d resolution %dx%d scale %s" % (i + 1, w, h, scale))

    def read_log(self):
        try:
            with open(os.path.join(self.runtime, "sway.log")) as f:
                return f.read()[-2000:]
        except OSError:
            return ""

    def spawn(self, args, **env):
        """A client of this sway (`env` added to its environment), with pipes for its standard
        input and output; ended with sway."""
        p = subprocess.Popen(args, env=dict(self.env(), **env), stdin=subprocess.PIPE,
                             stdout=subprocess.PIPE, stderr=subprocess.DEVNULL, text=True)
        self.clients.append(p)
        return p

    def stop(self):
        for p in self.clients:
            if p.poll() is None:
                p.kill()
                p.wait()
            for stream in (p.stdin, p.stdout):
                if stream:
                    stream.close()
        self.clients = []
        if self.proc and self.proc.poll() is None:
            try:
                os.killpg(self.proc.pid, 15)
            except ProcessLookupError:
                pass
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                os.killpg(self.proc.pid, 9)
                self.proc.wait()
        if self.log:
            self.log.close()
        if self.runtime:
            shutil.rmtree(self.runtime, ignore_errors=True)

    def env(self, base=None):
        """The environment of a client of this sway (X11 clients reach its XWayland)."""
        env = dict(os.environ if base is None else base)
        env.update({"WAYLAND_DISPLAY": "wayland-1", "XDG_RUNTIME_DIR": self.runtime,
                    "SWAYSOCK": self.ipc})
        env.pop("DISPLAY", None)
        if self.display:
            env["DISPLAY"] = self.display
        return env

    def msg(self, *args, check=True):
        r = subprocess.run(["swaymsg", "-s", self.ipc] + list(args), capture_output=True,
                           text=True, timeout=20)
        if check and r.returncode != 0:
            raise RuntimeError("swaymsg %s: %s %s" % (args, r.stdout, r.stderr))
        return r

    def query(self, kind):
        """The parsed reply of `swaymsg -t KIND` (get_tree, get_outputs, get_workspaces…)."""
        return json.loads(self.msg("-t", kind, "-r").stdout)

    def start_xwayland(self):
        """Starts XWayland (sway does on the first X11 client) and returns its DISPLAY."""
        if self.display:
            return self.display
        marker = os.path.join(self.runtime, "display")
        # XWayland lets in only its own user's clients; the tests and tools may run as root.
        self.msg("exec xhost +si:localuser:root >/dev/null 2>&1 || true && echo $DISPLAY > " + marker)
        deadline = time.time() + 10
        while time.time() < deadline:
            if os.path.exists(marker):
                with open(marker) as f:
                    value = f.read().strip()
                if value:
                    self.display = value
                    return value
            time.sleep(0.05)
        raise RuntimeError("sway gave no DISPLAY for XWayland")

    def windows(self):
        """Every view of the tree: (node, workspace name, output name, floating)."""
        out = []

        def walk(node, workspace, output, floating):
            if node["type"] == "output":
                output = node["name"]
            if node["type"] == "workspace":
                workspace = node["name"]
            if node["type"] in ("con", "floating_con") and node.get("pid"):
                out.append((node, workspace, output, floating))
            for child in node.get("nodes", []):
                walk(child, workspace, output, floating)
            for child in node.get("floating_nodes", []):
                walk(child, workspace, output, True)

        walk(self.query("get_tree"), None, None, False)
        return out

    def wait_for(self, predicate, timeout=10):
        """The first window for which predicate(node) holds, waiting for it to appear."""
        deadline = time.time() + timeout
        while time.time() < deadline:
            for node, *_ in self.windows():
                if predicate(node):
                    return node
            time.sleep(0.05)
        raise RuntimeError("no such window in sway's tree")
