"""Runs every installed program the way a host does, on a private Xvfb display, and checks what
each prints against the installed JSON schemas (draft 2020-12) when there are any.

    check.py PROGRAM_DIR SCHEMA_DIR

Needs Xvfb, xdotool, xmessage (a window to point at) and ImageMagick's convert (an image with
text), and python3-jsonschema when SCHEMA_DIR holds schemas. Prints one line per check."""

import glob
import json
import os
import signal
import subprocess
import sys
import tempfile
import time

programs, schema_dir = sys.argv[1], sys.argv[2]
failures = []


def check(ok, what):
    print(("ok:   " if ok else "FAIL: ") + what, flush=True)
    if not ok:
        failures.append(what)
    return ok


# Schemas by the output they describe; a schema file names its program (and the event log).
OUTPUTS = {"selector": "selector", "sensors": "sensors", "eventtap": "eventtap",
           "bounds": "window-bounds", "list": "window-list", "ocr": "ocr"}
schemas = {}
files = sorted(glob.glob(os.path.join(schema_dir, "*.json")))
if files:
    import jsonschema
    for output, word in OUTPUTS.items():
        named = [f for f in files if word in os.path.basename(f)]
        if check(len(named) == 1, "one schema for the %s output: %s" %
                 (output, ", ".join(map(os.path.basename, named)) or "none")):
            with open(named[0], encoding="utf-8") as f:
                schema = json.load(f)
            jsonschema.Draft202012Validator.check_schema(schema)
            schemas[output] = jsonschema.Draft202012Validator(schema)
else:
    print("note: no schemas in %s; outputs are parsed but not validated" % schema_dir)


def validate(output, document, what):
    validator = schemas.get(output)
    if validator is None:
        return
    errors = [e.message for e in validator.iter_errors(document)]
    check(not errors, "%s matches its schema%s" % (what, (": " + errors[0]) if errors else ""))


def program(name):
    return os.path.join(programs, name)


class Display:
    """Xvfb on a free display number (it writes the number it took), no window manager."""

    def __enter__(self):
        r, w = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(w), "-noreset", "-nolisten", "tcp", "-screen", "0",
             "1280x800x24"], pass_fds=(w,), stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(w)
        number = b""
        with os.fdopen(r, "rb") as f:
            while not number.endswith(b"\n"):
                chunk = f.read(1)
                if not chunk:
                    raise RuntimeError("Xvfb did not start")
                number += chunk
        self.env = dict(os.environ, DISPLAY=":" + number.decode().strip())
        # No session bus: the tools must do without accessibility, as the README says.
        self.env.pop("DBUS_SESSION_BUS_ADDRESS", None)
        return self

    def __exit__(self, *exc):
        self.xvfb.terminate()
        self.xvfb.wait(10)

    def run(self, *args, **kwargs):
        kwargs.setdefault("timeout", 30)
        return subprocess.run(list(args), env=self.env, capture_output=True, **kwargs)

    def start(self, *args, **kwargs):
        return subprocess.Popen(list(args), env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, **kwargs)


def wait_for(predicate, seconds=15):
    deadline = time.time() + seconds
    while time.time() < deadline:
        value = predicate()
        if value:
            return value
        time.sleep(0.05)
    return None


def stop(process, seconds=10):
    process.send_signal(signal.SIGTERM)
    out, err = process.communicate(timeout=seconds)
    return process.returncode, out, err


def json_lines(data, what):
    lines = []
    for line in data.decode("utf-8").splitlines():
        try:
            lines.append(json.loads(line))
        except ValueError:
            check(False, "%s prints JSON lines, not %r" % (what, line))
    return lines


with Display() as x, tempfile.TemporaryDirectory() as tmp:
    # A window to list, follow and pick.
    message = x.start("xmessage", "-geometry", "400x200+100+120", "-title", "Notes",
                      "shopping/list")
    window = wait_for(lambda: x.run("xdotool", "search", "--name", "^Notes$").stdout.split())
    check(bool(window), "a sample window is on screen")
    window_id = int(window[0]) if window else 0

    # orvane-window-list
    r = x.run(program("orvane-window-list"))
    check(r.returncode == 0, "orvane-window-list exits 0")
    listed = json.loads(r.stdout)
    validate("list", listed, "the window list")
    mine = [w for w in listed if w["id"] == window_id]
    check(len(mine) == 1 and mine[0]["title"] == "Notes", "the window list holds the window")

    # orvane-window-bounds: a line at once, "closed" once the window is gone, status 0 on SIGTERM.
    bounds = x.start(program("orvane-window-bounds"), "--window-id", str(window_id),
                     "--poll-ms", "50")
    time.sleep(1)
    message.terminate()
    message.wait(10)
    time.sleep(1)
    status, out, _ = stop(bounds)
    check(status == 0, "orvane-window-bounds exits 0 on SIGTERM")
    lines = json_lines(out, "orvane-window-bounds")
    for line in lines:
        validate("bounds", line, "a window-bounds line")
    check([l["status"] for l in lines][:1] == ["visible"] and lines[-1]["status"] == "closed",
          "the bounds tracker saw the window, then its closing: %s" %
          [l["status"] for l in lines])

    # orvane-capture-selector: --warm, then a window picked with a scripted click.
    r = x.run(program("orvane-capture-selector"), "--warm")
    check(r.returncode == 0 and json.loads(r.stdout) == {"warmed": True}, "the selector warms up")
    validate("selector", json.loads(r.stdout), "the warm-up answer")
    message = x.start("xmessage", "-geometry", "400x200+100+120", "-title", "Notes",
                      "shopping/list")
    window = wait_for(lambda: x.run("xdotool", "search", "--name", "^Notes$").stdout.split())
    window_id = int(window[0]) if window else 0
    selector = x.start(program("orvane-capture-selector"), "select", "--initial-mode", "window")
    overlay = wait_for(lambda: selector.poll() is None and x.run(
        "xdotool", "search", "--name", "^orvane-capture-selector$").stdout.strip())
    check(bool(overlay), "the selector shows its overlay")
    for step in ((250, 200), (290, 230), (300, 240)):
        x.run("xdotool", "mousemove", str(step[0]), str(step[1]))
        time.sleep(0.2)
    time.sleep(0.5)
    x.run("xdotool", "click", "1")
    try:
        out, err = selector.communicate(timeout=10)
    except subprocess.TimeoutExpired:
        x.run("xdotool", "key", "Escape")
        out, err = selector.communicate(timeout=10)
    result = json.loads(out) if out.strip() else None
    check(selector.returncode == 0 and result is not None and
          result.get("kind") == "window" and result.get("windowId") == window_id,
          "the click picks the window: %s %s" % (out.decode().strip(), err.decode().strip()))
    if result is not None:
        validate("selector", result, "the selector's result")

    # orvane-capture-sensors: two seconds with a click in them.
    sensors = x.start(program("orvane-capture-sensors"), "--poll-ms", "200")
    time.sleep(1)
    x.run("xdotool", "mousemove", "300", "240", "click", "1")
    time.sleep(1)
    status, out, err = stop(sensors)
    check(status == 0, "orvane-capture-sensors exits 0 on SIGTERM")
    lines = json_lines(out, "orvane-capture-sensors")
    for line in lines:
        validate("sensors", line, "a sensors %s line" % line.get("type"))
    types = [line.get("type") for line in lines]
    check("click" in types and "clickUp" in types, "the sensors report the click: %s" % types)

    # orvane-eventtap: a click and two keys, the log written on SIGTERM.
    log = os.path.join(tmp, "logs", "events.json")
    tap = x.start(program("orvane-eventtap"), log, "plain")
    time.sleep(1)
    x.run("xdotool", "mousemove", "300", "240", "click", "1")
    x.run("xdotool", "key", "a", "b")
    time.sleep(0.5)
    status, out, err = stop(tap)
    check(status == 0 and out == b"", "orvane-eventtap exits 0 on SIGTERM, printing nothing: %s"
          % err.decode().strip())
    if check(os.path.isfile(log), "orvane-eventtap wrote its log"):
        with open(log, encoding="utf-8") as f:
            document = json.load(f)
        validate("eventtap", document, "the event log")
        kinds = [e["type"] for e in document.get("events", [])]
        check({"leftMouseDown", "leftMouseUp", "keyDown"} <= set(kinds),
              "the log holds the click and the keys: %s" % kinds)
    message.terminate()
    message.wait(10)

    # orvane-ocr: a generated image and a missing one.
    image = os.path.join(tmp, "text.png")
    subprocess.run(["convert", "-size", "640x120", "xc:white", "-font", "DejaVu-Sans",
                    "-pointsize", "40", "-fill", "black", "-annotate", "+20+75",
                    "Package check 2026", image], check=True)
    r = subprocess.run([program("orvane-ocr"), image, os.path.join(tmp, "missing.png")],
                       capture_output=True, timeout=60)
    check(r.returncode == 0 and r.stderr == b"", "orvane-ocr exits 0, silent on standard error")
    recognised = json.loads(r.stdout)
    validate("ocr", recognised, "the OCR result")
    check(len(recognised) == 2 and "Package check 2026" in recognised[0]["text"] and
          recognised[1]["text"] == "", "the text is read: %s" %
          [entry.get("text") for entry in recognised])

    # orvane-haptic: a few names, nothing printed.
    r = subprocess.run([program("orvane-haptic")], input=b"generic\nlevel-change\nalignment\n\nx\n",
                       capture_output=True, timeout=10)
    check(r.returncode == 0 and r.stdout == b"" and r.stderr == b"",
          "orvane-haptic plays the names and exits 0 at the end of its input")

print("package check: %d failed" % len(failures))
sys.exit(1 if failures else 0)
