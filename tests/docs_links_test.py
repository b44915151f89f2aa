#!/usr/bin/env python3
"""The README and the pages under docs/: every relative link names a file of the tree (and,
with a #fragment, one of that page's headings), and the README stays a short front door.

  docs_links_test.py [SOURCE_DIR]      default: the folder above this script's
"""
import glob
import os
import re
import sys

README_MAX_LINES = 200
LINK = re.compile(r"\[[^\]]*\]\(([^)\s]+)\)")
FENCE = re.compile(r"^\s*```")


def prose(path):
    """The file's lines outside fenced code blocks."""
    inside = False
    with open(path, encoding="utf-8") as f:
        for line in f:
            if FENCE.match(line):
                inside = not inside
            elif not inside:
                yield line


def anchor(heading):
    """A heading's anchor as GitHub makes it."""
    text = re.sub(r"[`*_]", "", heading.strip().lower())
    return re.sub(r"[^\w\- ]", "", text).replace(" ", "-")


def anchors(path):
    return {anchor(line.lstrip("#")) for line in prose(path) if line.startswith("#")}


def problems(top):
    pages = [os.path.join(top, "README.md")] + sorted(glob.glob(os.path.join(top, "docs", "*.md")))
    found = []
    for page in pages:
        for line in prose(page):
            for target in LINK.findall(line):
                if re.match(r"[a-z][a-z0-9+.-]*:", target):  # https:, mailto:
                    continue
                name, _, fragment = target.partition("#")
                path = os.path.normpath(os.path.join(os.path.dirname(page), name)) if name else page
                where = "%s: %s" % (os.path.relpath(page, top), target)
                if not os.path.exists(path):
                    found.append(where + ": no such file")
                elif fragment and path.endswith(".md") and fragment not in anchors(path):
                    found.append(where + ": no such heading")
    with open(pages[0], encoding="utf-8") as f:
        lines = sum(1 for _ in f)
    if lines >= README_MAX_LINES:
        found.append("README.md: %d lines, the limit is %d" % (lines, README_MAX_LINES))
    return found


if __name__ == "__main__":
    top = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..")
    found = problems(os.path.abspath(top))
    for problem in found:
        print(problem, file=sys.stderr)
    sys.exit(1 if found else 0)
