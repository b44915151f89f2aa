#!/usr/bin/env bash
# Installs what is missing, builds, and runs one tool (orvane-window-list by default) the way
# the host does. Without a display it starts a private headless X display with a window
# manager and a few sample windows first.
#
#   scripts/run.sh [TOOL [ARGUMENTS...]]     e.g. scripts/run.sh orvane-window-list
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
    sys.exit(subprocess.run(sys.argv[1:], env=x.env()).returncode)
PY
