#!/usr/bin/env python3
"""orvane-ocr against the tesseract command, on a tuning half and a held-out half.

    bench/ocr_bench.py BUILD_DIR [--set DIR] [--half tuning|held-out|both] [--no-gtk] [--verbose]

Makes the image set with bench/ocr_dataset.py (or reads one made before with --set), then for
each half times one orvane-ocr run over all its images against one `tesseract IMAGE stdout` run
per image, in the same run, and prints per half:

- the character error rate of each: every truth line is matched with the output line closest to
  it, so the order of lines does not count but a line cut in two does;
- lost words: words of the truth that appear nowhere in the output; and how many of the words
  that orvane-ocr lost the command did read;
- both times and the speed-up.

The preprocessing may only be tuned on the "tuning" half; "held-out" is the figure that counts.
"""
import argparse
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import ocr_dataset  # noqa: E402


def normalised(line):
    return " ".join(line.split())


def edit_distance(a, b):
    previous = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        current = [i]
        for j, cb in enumerate(b, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (ca != cb)))
        previous = current
    return previous[-1]


def substring_distance(a, b):
    """The fewest edits that turn `a` into some part of `b`: a truth line read together with its
    neighbours on one output line (menu items in a row) costs nothing, a line cut short does."""
    previous = [0] * (len(b) + 1)
    for i, ca in enumerate(a, 1):
        current = [i]
        for j, cb in enumerate(b, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (ca != cb)))
        previous = current
    return min(previous)


def line_errors(truth_lines, output_text):
    """Edit operations and characters: each truth line against the output line closest to it."""
    seen = [normalised(l) for l in output_text.splitlines() if l.strip()]
    errors = chars = 0
    for line in truth_lines:
        line = normalised(line)
        chars += len(line)
        errors += min([substring_distance(line, s) for s in seen] or [len(line)])
    return errors, chars


def words(lines):
    return [w for line in lines for w in line.split()]


def lost_words(truth_lines, output_text):
    flat = " ".join(output_text.split())
    return [w for w in words(truth_lines) if w not in flat]


def measure(tool, items, verbose=False):
    paths = [item["path"] for item in items]
    start = time.perf_counter()
    ours = json.loads(subprocess.run([tool] + paths, check=True, capture_output=True).stdout)
    ours_seconds = time.perf_counter() - start
    tesseract = shutil.which("tesseract")
    start = time.perf_counter()
    theirs = [subprocess.run([tesseract, p, "stdout"], check=True, capture_output=True,
                             text=True).stdout for p in paths]
    theirs_seconds = time.perf_counter() - start

    figures = {"images": len(items), "words": sum(len(words(i["lines"])) for i in items)}
    for name, texts in (("ours", [r["text"] for r in ours]), ("cmd", theirs)):
        errors = chars = lost = 0
        by_kind = {}
        for item, text in zip(items, texts):
            e, c = line_errors(item["lines"], text)
            errors, chars = errors + e, chars + c
            lost += len(lost_words(item["lines"], text))
            k = by_kind.setdefault(item["kind"], [0, 0])
            k[0], k[1] = k[0] + e, k[1] + c
        figures[name] = {"cer": errors / chars, "lost": lost,
                         "kinds": {k: v[0] / v[1] for k, v in by_kind.items()}}
    # Words we lost that the command read.
    figures["lost_read_by_cmd"] = 0
    for item, r, t in zip(items, ours, theirs):
        ours_lost = lost_words(item["lines"], r["text"])
        cmd_lost = set(lost_words(item["lines"], t))
        extra = [w for w in ours_lost if w not in cmd_lost]
        figures["lost_read_by_cmd"] += len(extra)
        if verbose and (extra or ours_lost):
            print("  %s (%s)\n    truth: %r\n    ours:  %r\n    cmd:   %r\n    lost: %r" %
                  (os.path.basename(item["path"]), item["kind"], item["lines"],
                   r["text"].splitlines(), [l for l in t.splitlines() if l.strip()], ours_lost))
    figures["ours"]["seconds"] = ours_seconds
    figures["cmd"]["seconds"] = theirs_seconds
    return figures


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--set", help="a folder made by ocr_dataset.py (made anew when absent)")
    parser.add_argument("--half", choices=["tuning", "held-out", "both"], default="both")
    parser.add_argument("--no-gtk", action="store_true")
    parser.add_argument("--verbose", action="store_true")
    options = parser.parse_args()
    if not shutil.which("tesseract"):
        sys.exit("ocr_bench: the tesseract command is not installed")
    tool = os.path.join(options.build, "ocr", "orvane-ocr")
    directory = options.set or tempfile.mkdtemp(prefix="ocr-bench-")
    halves = ["tuning", "held-out"] if options.half == "both" else [options.half]
    for half in halves:
        index = os.path.join(directory, half, half + ".json")
        if not os.path.exists(index):
            ocr_dataset.make_half(options.build, os.path.join(directory, half), half,
                                  not options.no_gtk)
        with open(index) as f:
            items = json.load(f)
        f = measure(tool, items, options.verbose)
        print("%-8s %3d images, %4d words | orvane-ocr CER %.4f, lost %3d words (%d read by "
              "the command), %.2f s | tesseract CER %.4f, lost %3d words, %.2f s | speed-up %.2fx"
              % (half, f["images"], f["words"], f["ours"]["cer"], f["ours"]["lost"],
                 f["lost_read_by_cmd"], f["ours"]["seconds"], f["cmd"]["cer"], f["cmd"]["lost"],
                 f["cmd"]["seconds"], f["cmd"]["seconds"] / f["ours"]["seconds"]))
        print("         CER by kind: " + ", ".join(
            "%s %.4f/%.4f" % (k, f["ours"]["kinds"][k], f["cmd"]["kinds"][k])
            for k in f["ours"]["kinds"]) + " (orvane-ocr/tesseract)")
    if not options.set:
        shutil.rmtree(directory)


if __name__ == "__main__":
    main()
