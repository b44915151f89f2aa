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

import clients

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


class Sway(clients.Session):
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
        self.log = open(self.log_path, "w")
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

    @property
    def log_path(self):
        return self.runtime and os.path.join(self.runtime, "sway.log")

    def stop(self):
        clients.end(self.clients)
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


class FakeIpc:
    """A stand-in for a compositor that misbehaves, in a folder of its own: `ipc` speaks sway's
    framing as `mode` says, and `wayland` is a display socket that never accepts (so a client
    connects into its queue and waits for ever, as with a stopped sway).

    mode "tree": every get_tree is answered with `tree` (bytes), anything else with "[]";
    "silent": connections are taken and never answered;
    "header": each request is answered with a header announcing `announce` bytes, and nothing
    more; "never-accept": nobody takes the connections out of the socket's queue."""

    def __init__(self, mode, tree=b"{}", announce=64 << 20):
        self.mode, self.tree, self.announce = mode, tree, announce
        self.dir = tempfile.mkdtemp(prefix="orvane-fake-sway-")
        self.ipc = os.path.join(self.dir, "sway-ipc.sock")
        self.wayland = os.path.join(self.dir, "wayland-1")
        self.sockets, self.threads, self.stopping = [], [], False

    def __enter__(self):
        import socket
        import threading
        display = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        display.bind(self.wayland)
        display.listen(16)
        listener = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        listener.bind(self.ipc)
        self.sockets += [display, listener]
        listener.listen(16)
        if self.mode != "never-accept":
            t = threading.Thread(target=self._accept, args=(listener,), daemon=True)
            t.start()
            self.threads.append(t)
        return self

    def _accept(self, listener):
        import threading
        while not self.stopping:
            try:
                client, _ = listener.accept()
            except OSError:
                return
            self.sockets.append(client)
            threading.Thread(target=self._serve, args=(client,), daemon=True).start()

    def _serve(self, client):
        import struct
        try:
            while True:
                header = b""
                while len(header) < 14:
                    chunk = client.recv(14 - len(header))
                    if not chunk:
                        return
                    header += chunk
                length, kind = struct.unpack("=II", header[6:])
                while length:
                    length -= len(client.recv(length))
                if self.mode == "header":
                    client.sendall(b"i3-ipc" + struct.pack("=II", self.announce, kind))
                elif self.mode == "tree":
                    payload = self.tree if kind == 4 else b"[]"
                    client.sendall(b"i3-ipc" + struct.pack("=II", len(payload), kind) + payload)
        except OSError:
            return

    def __exit__(self, *exc):
        self.stopping = True
        for s in self.sockets:
            try:
                s.shutdown(2)
            except OSError:
                pass
            s.close()
        shutil.rmtree(self.dir, ignore_errors=True)

    def env(self, base=None):
        """A Wayland session whose compositor is this one."""
        env = dict(os.environ if base is None else base)
        for name in ("DISPLAY", "ORVANE_PLATFORM", "I3SOCK"):
            env.pop(name, None)
        env.update({"WAYLAND_DISPLAY": self.wayland, "SWAYSOCK": self.ipc,
                    "XDG_RUNTIME_DIR": self.dir})
        return env


def fill_queue(path, most=64):
    """Connections to `path` that nobody takes, until its listen queue is full: a client that
    connects now waits. Keep the returned sockets open for as long as the queue is to stay full."""
    import socket
    held = []
    for _ in range(most):
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        s.setblocking(False)
        try:
            s.connect(path)
        except BlockingIOError:
            s.close()
            return held
        held.append(s)
    return held


def tree_of(views):
    """get_tree's reply (bytes) for one active 1280x720 output whose one workspace holds
    `views`, dicts with at least "app_id", "name" and "pid", as floating 300x200 windows."""
    def rect(x, y, w, h):
        return {"x": x, "y": y, "width": w, "height": h}
    nodes = []
    for i, view in enumerate(views):
        node = {"id": 100 + i, "type": "floating_con", "shell": "xdg_shell", "visible": True,
                "focused": False, "fullscreen_mode": 0, "rect": rect(10 + i, 30 + i, 300, 200),
                "deco_rect": rect(0, 0, 300, 20), "focus": [], "nodes": [],
                "floating_nodes": []}
        node.update(view)
        nodes.append(node)
    workspace = {"id": 4, "type": "workspace", "name": "1", "rect": rect(0, 0, 1280, 720),
                 "focus": [n["id"] for n in nodes], "nodes": [], "floating_nodes": nodes}
    output = {"id": 3, "type": "output", "name": "HEADLESS-1", "active": True, "scale": 1.0,
              "make": "headless", "model": "headless", "serial": "Unknown",
              "rect": rect(0, 0, 1280, 720), "focus": [4], "nodes": [workspace],
              "floating_nodes": []}
    root = {"id": 1, "type": "root", "name": "root", "rect": rect(0, 0, 1280, 720),
            "focus": [3], "nodes": [output], "floating_nodes": []}
    return json.dumps(root).encode()
