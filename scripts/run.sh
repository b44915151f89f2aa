#!/usr/bin/env bash
# Installs what is missing, builds, and runs one tool (orvane-window-list by default) the way
# the host does. Without a display it starts a private headless X display with a window
# manager and a few sample windows first. There, `orvane-capture-selector select ...` is
# driven by a short scripted hover and click; the overlay as it looked just before the click is
# saved as a PNG, whose path is printed.
#
#   scripts/run.sh [TOOL [ARGUMENTS...]]     e.g. scripts/run.sh orvane-window-list
#                                                 scripts/run.sh orvane-capture-selector select --initial-mode window
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
cd "$top"
scripts/deps.sh
cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build -j"$(nproc)" >/dev/null
tool=${1:-orvane-window-list}
[ $# -gt 0 ] && shift
binary=$(find build -type f -name "$tool" -perm -u+x | head -n 1)
[ -n "$binary" ] || { echo "run: no program named $tool was built" >&2; exit 2; }
if [ -n "${DISPLAY:-}" ]; then
  exec "$binary" "$@"
fi
exec python3 - "$binary" "$@" <<'PY'
import os, subprocess, sys
sys.path.insert(0, os.path.join("tests", "harness"))
from xenv import XServer
with XServer(wm=True) as x:
    f = x.fixture(os.path.join("build", "tests", "orvane-x-fixture"))
    windows = [f.create(80, 60, 640, 400, title="Notes — shopping/list", **{"class": "Notes"}),
               f.create(300, 200, 800, 500, title='Terminal "main"', **{"class": "Terminal"}),
               f.create(0, 1040, 1920, 40, title="Panel", type="dock")]
    x.wait_viewable(*windows)
    print("run: private display %s with %d sample windows" % (x.display, len(windows)),
          file=sys.stderr)
    if os.path.basename(sys.argv[1]) != "orvane-capture-selector" or sys.argv[2:3] != ["select"]:
        sys.exit(subprocess.run(sys.argv[1:], env=x.env()).returncode)
    # The selector waits for the user: hover the first sample window, keep a picture of the
    # overlay, then click.
    import time
    x.run("xsetroot", "-solid", "#3a6ea5")
    selector = subprocess.Popen(sys.argv[1:], env=x.env())
    deadline = time.time() + 15
    while not x.run("xdotool", "search", "--onlyvisible", "--name", "^orvane-capture-selector$",
                    check=False).stdout.strip():
        if selector.poll() is not None or time.time() > deadline:
            sys.exit(selector.wait())
        time.sleep(0.05)
    for step in ((300, 200), (380, 240), (400, 260)):
        x.run("xdotool", "mousemove", str(step[0]), str(step[1]))
        time.sleep(0.15)
    time.sleep(0.4)  # the pill's slide and fade last 0.2 s
    picture = os.path.abspath(os.path.join("build", "orvane-capture-selector-overlay.png"))
    x.run("import", "-window", "root", picture)
    x.run("xdotool", "click", "1")
    try:
        status = selector.wait(10)
    except subprocess.TimeoutExpired:
        x.run("xdotool", "key", "Escape")
        status = selector.wait(10)
    print("run: the overlay just before the click: %s" % picture, file=sys.stderr)
    sys.exit(status)
PY
