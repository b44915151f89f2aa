#!/usr/bin/env python3
"""Screen-text images with known truth, for the text-recognition benchmark and quality checks.

    bench/ocr_dataset.py BUILD_DIR OUT_DIR [--half tuning|held-out|both] [--no-gtk]

Writes PNG images and OUT_DIR/<half>.json, a list of {"path", "lines", "kind"}. Two halves are
made from disjoint phrase pools and different random seeds: "tuning" is the half that the
preprocessing may be adjusted on; "held-out" is only ever measured. Each half holds:

- strips: one line of text, 9 to 16 pixels, in DejaVu Sans, Liberation Sans or Noto Sans, grey
  or coloured text on light, dark and mid-grey backgrounds;
- small frames: 460x70, three lines of 13 to 15 pixel text, as interface panes;
- full frames: 1920x1080 with a few small panels of text in mixed themes;
- GTK 3 windows (menus, buttons, entries, lists, in the light and the dark theme) shown on a
  private Xvfb and captured with ImageMagick, their labels as the truth.
"""
import argparse
import json
import os
import random
import subprocess
import sys
import tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "harness"))

# PyGObject comes with Debian's own interpreter, which another python3 on the PATH may not see.
SYSTEM_PYTHON = "/usr/bin/python3" if os.path.exists("/usr/bin/python3") else sys.executable

FONTS = ["DejaVu Sans", "Liberation Sans", "Noto Sans"]

# (background, foreground): grey and coloured text on light, dark and mid-grey backgrounds.
THEMES = [
    ("ffffff", "1d1d1f"), ("f4f4f4", "707070"), ("ececec", "3a3a3a"), ("ffffff", "8e8e93"),
    ("ffffff", "0a60d0"), ("fdf6e3", "b03a2e"), ("f0f4f8", "1f7a4d"),
    ("1e1e1e", "a0a0a0"), ("2b2b2b", "d4d4d4"), ("0d1117", "8b949e"), ("161b22", "58a6ff"),
    ("202124", "f28b82"),
    ("808080", "ffffff"), ("8a8a8a", "101010"), ("6e6e6e", "f0f0f0"), ("9a9a9a", "202020"),
    ("3d6fb6", "ffffff"), ("c8c8c8", "404040"),
]

WORDS = (
    "File Edit View Window Help Format Tools Insert Share Export Import Open Recent Save Close "
    "Undo Redo Cut Copy Paste Delete Select All Find Replace Zoom Preview Settings Account "
    "Library Projects Recordings Untitled Document Draft Meeting Notes Quarterly Report Budget "
    "Inbox Sent Archive Calendar Today Tomorrow Upload Download Status Ready Pending Complete "
    "Search Filter Sort Name Date Modified Size Kind Shared Favorites Desktop Downloads Music "
    "Pictures Videos Trash Network Printer Display Keyboard Mouse Sound Privacy Security "
    "Updates Battery Storage Backup Restore Sync Profile Logout Billing Invoice Customer Order "
    "Shipping Payment Refund Team Members Invite Remove Rename Duplicate Move Pinned Starred "
    "Comments Mentions Reactions Thread Channel Direct Message Video Call Screen Recording "
    "Microphone Camera Speaker Volume Brightness Appearance Language Region Timezone Clock"
).split()

TEMPLATES = [
    "Meeting notes: {day} {time}", "Total: ${money} (incl. tax)", "Search or type a command",
    "https://{host}/{path}", "Build succeeded in {small} seconds", "{n} items selected",
    "Last edited {n} minutes ago by {name}", "Version {ver} (build {n4})", "Battery: {pct}%",
    "Connected to {word}-{n}G", "Invoice #{n4} due {day}", "{name} joined the call at {time}",
    "Downloading {word}.zip ({small} MB of {n} MB)", "Press Return to continue, Esc to cancel",
    "{word} {word} {word}", "{word} {word} {word} {word} {word}", "Open {word} in new window",
    "Reply to {name}", "www.{host}/{word}", "{day}, {time} - {word} {word}",
    "Error {n4}: {word} not found", "Saved to ~/{word}/{word}.txt", "{pct}% complete",
]
DAYS = ["Monday", "Tuesday", "Wednesday", "Thursday", "Friday", "Saturday", "Sunday"]
NAMES = ["Dana", "Alex", "Priya", "Jonas", "Mei", "Carlos", "Fatima", "Olga", "Sam", "Kenji"]
HOSTS = ["example.org", "docs.example.com", "intranet.local", "mail.example.net",
         "status.example.io", "shop.example.co.uk"]
PATHS = ["docs/getting-started", "account/settings", "blog/2024/release-notes", "help",
         "projects/alpha/issues", "search?q=screen"]


def phrase(rng, pool):
    template = rng.choice(TEMPLATES)
    fields = {
        "day": rng.choice(DAYS), "time": "%d:%02d %s" % (rng.randint(1, 12),
                                                         rng.randint(0, 59), rng.choice("AP") + "M"),
        "money": "{:,}.{:02d}".format(rng.randint(10, 99999), rng.randint(0, 99)),
        "host": rng.choice(HOSTS), "path": rng.choice(PATHS), "small": "%.1f" % rng.uniform(0, 99),
        "n": str(rng.randint(2, 480)), "n4": str(rng.randint(1000, 9999)),
        "name": rng.choice(NAMES), "ver": "%d.%d.%d" % (rng.randint(1, 9), rng.randint(0, 20),
                                                        rng.randint(0, 9)),
        "pct": str(rng.randint(1, 99)),
    }
    out = template
    while "{word}" in out:
        out = out.replace("{word}", rng.choice(pool), 1)
    return out.format(**fields)


class Renderer:
    def __init__(self, build):
        self.binary = os.path.join(build, "ocr", "tests", "orvane-ocr-render")

    def __call__(self, path, size, theme, pixels, items, font):
        args = [self.binary, "--font", font, path, str(size[0]), str(size[1]), theme[0],
                theme[1], str(pixels)]
        for item in items:
            args += [str(part) for part in item]
        subprocess.run(args, check=True)


def text_width(text, pixels):
    return int(len(text) * pixels * 0.62) + 8


def strips(render, rng, pool, directory, count):
    out = []
    for i in range(count):
        pixels = 9 + i % 8
        text = phrase(rng, pool)
        theme = THEMES[rng.randrange(len(THEMES))]
        path = os.path.join(directory, "strip-%03d.png" % i)
        height = int(pixels * rng.uniform(1.8, 2.6))
        render(path, (text_width(text, pixels) + 24, height), theme, pixels,
               [(rng.randint(6, 14), (height - pixels * 1.25) / 2, text)], rng.choice(FONTS))
        out.append({"path": path, "lines": [text], "kind": "strip"})
    return out


def small_frames(render, rng, pool, directory, count):
    out = []
    for i in range(count):
        pixels = rng.choice([13, 14, 15])
        theme = THEMES[rng.randrange(len(THEMES))]
        lines = [phrase(rng, pool) for _ in range(3)]
        while max(text_width(t, pixels) for t in lines) > 440:
            lines = [phrase(rng, pool) for _ in range(3)]
        items = [(8, 3 + k * 22, t) for k, t in enumerate(lines)]
        path = os.path.join(directory, "pane-%03d.png" % i)
        render(path, (460, 70), theme, pixels, items, rng.choice(FONTS))
        out.append({"path": path, "lines": lines, "kind": "pane"})
    return out


def full_frames(render, rng, pool, directory, count):
    out = []
    for i in range(count):
        base = THEMES[rng.randrange(len(THEMES))]
        items, lines, boxes = [], [], []
        for _ in range(rng.randint(3, 5)):
            pixels = rng.randint(10, 16)
            panel = THEMES[rng.randrange(len(THEMES))]
            texts = [phrase(rng, pool) for _ in range(rng.randint(1, 3))]
            w = max(text_width(t, pixels) for t in texts) + 40
            h = len(texts) * int(pixels * 1.9) + 24
            for _ in range(50):
                x, y = rng.randint(20, 1900 - w), rng.randint(20, 1060 - h)
                if all(x + w + 20 < bx or bx + bw + 20 < x or y + h + 20 < by or by + bh + 20 < y
                       for bx, by, bw, bh in boxes):
                    break
            else:
                continue
            boxes.append((x, y, w, h))
            items.append(("panel", x, y, w, h, panel[0], panel[1]))
            for k, t in enumerate(texts):
                # A line at another size than the frame's needs its own render pass, so the
                # panels share the frame's font size and differ in colour and place.
                items.append((x + 20, y + 12 + k * int(pixels * 1.9), t))
                lines.append(t)
        pixels = rng.randint(11, 15)
        path = os.path.join(directory, "frame-%03d.png" % i)
        render(path, (1920, 1080), base, pixels, items, rng.choice(FONTS))
        out.append({"path": path, "lines": lines, "kind": "frame"})
    return out


GTK_APP = r'''
import sys, json, gi
gi.require_version("Gtk", "3.0")
from gi.repository import Gtk, GLib
layout = json.loads(sys.argv[1])
settings = Gtk.Settings.get_default()
settings.set_property("gtk-application-prefer-dark-theme", layout["dark"])
settings.set_property("gtk-font-name", layout["font"])
win = Gtk.Window(title="Fixture")
win.set_decorated(False)
win.move(0, 0)
win.set_default_size(layout["width"], layout["height"])
box = Gtk.Box(orientation=Gtk.Orientation.VERTICAL, spacing=8)
bar = Gtk.MenuBar()
for label in layout["menus"]:
    bar.append(Gtk.MenuItem(label=label))
box.pack_start(bar, False, False, 0)
row = Gtk.Box(spacing=8)
for label in layout["buttons"]:
    row.pack_start(Gtk.Button(label=label), False, False, 0)
box.pack_start(row, False, False, 0)
for label in layout["labels"]:
    l = Gtk.Label(label=label)
    l.set_xalign(0)
    box.pack_start(l, False, False, 0)
for text in layout["entries"]:
    e = Gtk.Entry()
    e.set_text(text)
    box.pack_start(e, False, False, 0)
store = Gtk.ListStore(str)
for item in layout["list"]:
    store.append([item])
view = Gtk.TreeView(model=store)
view.set_headers_visible(False)
view.append_column(Gtk.TreeViewColumn("", Gtk.CellRendererText(), text=0))
box.pack_start(view, True, True, 0)
win.add(box)
win.connect("destroy", Gtk.main_quit)
win.show_all()
def ready():
    print("ready", flush=True)
    return False
GLib.timeout_add(400, ready)
Gtk.main()
'''


def gtk_windows(rng, pool, directory, count):
    """Real GTK 3 windows on a private X display, captured; their labels are the truth."""
    from xenv import XServer
    out = []
    with XServer(width=1024, height=700) as x:
        for i in range(count):
            short = lambda: " ".join(rng.choice(pool) for _ in range(rng.randint(1, 2)))
            layout = {
                "dark": bool(i % 2), "width": 640, "height": 420,
                "font": "%s %d" % (rng.choice(FONTS), rng.choice([9, 10, 11])),
                "menus": [rng.choice(pool) for _ in range(4)],
                "buttons": [short() for _ in range(3)],
                "labels": [phrase(rng, pool) for _ in range(2)],
                "entries": [phrase(rng, pool)],
                "list": [phrase(rng, pool) for _ in range(3)],
            }
            app = subprocess.Popen([SYSTEM_PYTHON, "-c", GTK_APP, json.dumps(layout)],
                                   env=x.env(), stdout=subprocess.PIPE,
                                   stderr=subprocess.DEVNULL, text=True)
            try:
                if app.stdout.readline().strip() != "ready":
                    raise RuntimeError("the GTK fixture did not start")
                path = os.path.join(directory, "gtk-%03d.png" % i)
                x.run("import", "-window", "root", "-crop", "640x420+0+0", "+repage", path)
            finally:
                app.terminate()
                app.wait()
            lines = (layout["menus"] + layout["buttons"] + layout["labels"] + layout["entries"] +
                     layout["list"])
            out.append({"path": path, "lines": lines, "kind": "gtk"})
    return out


HALVES = {"tuning": 1, "held-out": 2}


def make_half(build, directory, half, gtk=True):
    seed = HALVES[half]
    rng = random.Random(seed * 7919)
    # Disjoint word pools: even-numbered words tune, odd-numbered ones are held out.
    pool = WORDS[seed - 1::2]
    os.makedirs(directory, exist_ok=True)
    render = Renderer(build)
    items = (strips(render, rng, pool, directory, 48) +
             small_frames(render, rng, pool, directory, 24) +
             full_frames(render, rng, pool, directory, 6))
    if gtk:
        items += gtk_windows(rng, pool, directory, 8)
    with open(os.path.join(directory, half + ".json"), "w") as f:
        json.dump(items, f, indent=1)
    return items


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("out", nargs="?")
    parser.add_argument("--half", choices=["tuning", "held-out", "both"], default="both")
    parser.add_argument("--no-gtk", action="store_true")
    options = parser.parse_args()
    out = options.out or tempfile.mkdtemp(prefix="ocr-set-")
    halves = list(HALVES) if options.half == "both" else [options.half]
    for half in halves:
        items = make_half(options.build, os.path.join(out, half), half, not options.no_gtk)
        print("%s: %d images in %s" % (half, len(items), os.path.join(out, half)))


if __name__ == "__main__":
    main()
