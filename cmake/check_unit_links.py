#!/usr/bin/env python3
"""Fails when a unit-test binary links a desktop library (X, GLib, AT-SPI, drawing, OCR)."""
import re
import subprocess
import sys

FORBIDDEN = re.compile(r"^\s*(lib(?:xcb|glib|gio|gobject|atspi|dbus|cairo|pango|tesseract)"
                       r"[^ ]*\.so[^ ]*)", re.M)

failed = False
for binary in sys.argv[1:]:
    listing = subprocess.run(["ldd", binary], capture_output=True, text=True, check=True).stdout
    libraries = sorted(set(FORBIDDEN.findall(listing)))
    if libraries:
        failed = True
        print(f"{binary}: {' '.join(libraries)}")
print(f"{len(sys.argv) - 1} unit-test binaries checked")
sys.exit(1 if failed else 0)
