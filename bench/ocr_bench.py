#!/usr/bin/env python3
"""orvane-ocr against the tesseract command on a batch of rendered screen-like frames.

    bench/ocr_bench.py BUILD_DIR [--images N] [--keep DIR]

Renders N frames (default 20) of interface text, 11 to 14 pixels high, on light and dark
backgrounds with the orvane-ocr-render fixture of BUILD_DIR; then times one orvane-ocr run over
all of them against one `tesseract IMAGE stdout` run per image, and prints both times, their
ratio and the character error rate of each against the rendered text. The command is timed
twice: as installed, and limited to one OpenMP thread.
"""
import argparse
import json
import os
import random
import shutil
import subprocess
import sys
import tempfile
import time

WORDS = (
    "File Edit View Window Help Format Tools Insert Share Export Import Open Recent Save Close "
    "Undo Redo Cut Copy Paste Delete Select All Find Replace Zoom Preview Settings Account "
    "Library Projects Recordings Untitled Document Draft Meeting Notes Quarterly Report Budget "
    "Inbox Sent Archive Calendar Today Tomorrow Upload Download Status Ready Pending Complete "
    "Search Filter Sort Name Date Modified Size Kind Shared with me Favorites Desktop Downloads"
).split()
LINES = [
    "Save changes to \"Report 2024.docx\" before closing?",
    "Recording started at 10:42 AM",
    "Last edited 5 minutes ago by Dana",
    "Connected to wifi network Office-5G",
    "12 items selected, 3.4 MB available",
    "Show in Finder",
    "Do you want to allow notifications?",
    "Battery: 87% (charging)",
    "Version 3.2.1 (build 4470)",
    "Move to Trash",
    "Sign in with your work email",
    "Press Return to continue, Esc to cancel",
]
THEMES = [  # background, foreground
    ("ffffff", "1d1d1f"), ("f5f5f7", "333333"), ("ececec", "222222"),
    ("1e1e1e", "e6e6e6"), ("2b2b2b", "d4d4d4"), ("161b22", "c9d1d9"),
    ("ffffff", "8e8e93"), ("0d1117", "8b949e"),  # secondary, low-contrast labels
]


def make_frames(renderer, directory, count):
    rng = random.Random(20240611)
    frames = []
    for i in range(count):
        background, foreground = THEMES[i % len(THEMES)]
        pixels = 11 + i % 4
        lines = []
        for _ in range(rng.randint(3, 6)):
            if rng.random() < 0.5:
                lines.append(rng.choice(LINES))
            else:
                lines.append(" ".join(rng.choice(WORDS) for _ in range(rng.randint(2, 6))))
        args = []
        y = rng.randint(8, 30)
        for line in lines:
            args += [str(rng.randint(8, 120)), str(y), line]
            y += int(pixels * rng.uniform(2.0, 3.2))
        path = os.path.join(directory, "frame-%02d.png" % i)
        subprocess.run([renderer, path, "900", str(y + 20), background, foreground, str(pixels)] +
                       args, check=True)
        frames.append((path, "\n".join(lines)))
    return frames


def normalised(text):
    lines = (" ".join(line.split()) for line in text.splitlines())
    return "\n".join(line for line in lines if line)


def edit_distance(a, b):
    previous = list(range(len(b) + 1))
    for i, ca in enumerate(a, 1):
        current = [i]
        for j, cb in enumerate(b, 1):
            current.append(min(previous[j] + 1, current[j - 1] + 1, previous[j - 1] + (ca != cb)))
        previous = current
    return previous[-1]


def error_rate(pairs):
    errors = sum(edit_distance(normalised(truth), normalised(seen)) for truth, seen in pairs)
    return errors / sum(len(normalised(truth)) for truth, _ in pairs)


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("build")
    parser.add_argument("--images", type=int, default=20)
    parser.add_argument("--keep")
    parser.add_argument("--verbose", action="store_true")
    options = parser.parse_args()
    tool = os.path.join(options.build, "ocr", "orvane-ocr")
    renderer = os.path.join(options.build, "ocr", "tests", "orvane-ocr-render")
    tesseract = shutil.which("tesseract")
    if not tesseract:
        sys.exit("ocr_bench: the tesseract command is not installed")
    directory = options.keep or tempfile.mkdtemp(prefix="ocr-bench-")
    os.makedirs(directory, exist_ok=True)
    frames = make_frames(renderer, directory, options.images)
    paths = [path for path, _ in frames]

    start = time.perf_counter()
    ours = json.loads(subprocess.run([tool] + paths, check=True, capture_output=True).stdout)
    ours_seconds = time.perf_counter() - start

    start = time.perf_counter()
    theirs = [subprocess.run([tesseract, path, "stdout"], check=True, capture_output=True,
                             text=True).stdout for path in paths]
    theirs_seconds = time.perf_counter() - start

    ours_cer = error_rate([(truth, r["text"]) for (_, truth), r in zip(frames, ours)])
    # NOTE: the command's OpenMP threads spin on a busy machine; one thread is the fairer peer.
    single = dict(os.environ, OMP_THREAD_LIMIT="1")
    start = time.perf_counter()
    single_thread = [subprocess.run([tesseract, path, "stdout"], check=True, capture_output=True,
                                    text=True, env=single).stdout for path in paths]
    single_seconds = time.perf_counter() - start

    single_cer = error_rate([(truth, t) for (_, truth), t in zip(frames, single_thread)])
    theirs_cer = error_rate([(truth, t) for (_, truth), t in zip(frames, theirs)])
    if options.verbose:
        for (path, truth), r, t in zip(frames, ours, theirs):
            if normalised(r["text"]) != normalised(truth) or normalised(t) != normalised(truth):
                print("%s\n  truth: %r\n  ours:  %r\n  cmd:   %r" %
                      (path, normalised(truth), normalised(r["text"]), normalised(t)))
    print("images: %d" % len(paths))
    print("orvane-ocr, one run:      %.3f s  CER %.4f" % (ours_seconds, ours_cer))
    print("tesseract, one per image: %.3f s  CER %.4f" % (theirs_seconds, theirs_cer))
    print("tesseract, one thread:    %.3f s  CER %.4f" % (single_seconds, single_cer))
    print("speed-up: %.2fx against the command, %.2fx against it on one thread" %
          (theirs_seconds / ours_seconds, single_seconds / ours_seconds))
    if not options.keep:
        shutil.rmtree(directory)


if __name__ == "__main__":
    main()
