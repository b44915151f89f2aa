#!/usr/bin/env python3
"""Runs the built orvane-ocr on images rendered for the test, as the host does.

    ocr_process_test.py ORVANE_OCR ORVANE_OCR_RENDER
"""
import json
import os
import shutil
import subprocess
import sys
import tempfile
import struct
import unittest
import zlib

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tests", "harness"))
import schemas  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL, RENDER = programs(2)
WIDTH, HEIGHT = 480, 160


def render(path, lines, background="ffffff", foreground="222222", pixels=14,
           size=(WIDTH, HEIGHT)):
    args = [RENDER, path, str(size[0]), str(size[1]), background, foreground, str(pixels)]
    for item in lines:
        args += [str(part) for part in item] if isinstance(item, tuple) else [str(item)]
    subprocess.run(args, check=True)


def declared_huge_png(path, width=20000, height=20000):
    """A small file that declares a huge one-bit bitmap: every row compresses to almost nothing."""
    def chunk(kind, data):
        return (struct.pack(">I", len(data)) + kind + data +
                struct.pack(">I", zlib.crc32(kind + data) & 0xffffffff))
    row = b"\x00" + b"\xff" * ((width + 7) // 8)
    packer = zlib.compressobj(9)
    data = b"".join(packer.compress(row) for _ in range(height)) + packer.flush()
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" +
                chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 1, 0, 0, 0, 0)) +
                chunk(b"IDAT", data) + chunk(b"IEND", b""))


def ocr(*paths):
    result = subprocess.run([TOOL, *paths], capture_output=True, timeout=120)
    assert result.returncode == 0, result.returncode
    assert result.stderr == b"", result.stderr
    schemas.loads("ocr-result", result.stdout)
    return result.stdout


def reencoded(value):
    """The tool's own form: compact, keys as given, "/" and non-ASCII as they are, whole
    numbers without a fraction."""
    if isinstance(value, dict):
        return "{" + ",".join(json.dumps(k, ensure_ascii=False) + ":" + reencoded(v)
                              for k, v in value.items()) + "}"
    if isinstance(value, list):
        return "[" + ",".join(reencoded(v) for v in value) + "]"
    if isinstance(value, float) and value.is_integer():
        return str(int(value))
    return json.dumps(value, ensure_ascii=False)


class OcrProcess(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="ocr-process-")
        cls.images = os.path.join(cls.dir, "frames", "light")
        os.makedirs(cls.images)
        d = cls.images
        render(f"{d}/one.png", [(20, 20, "Recording started at 10:42 AM")])
        render(f"{d}/two.png", [(20, 20, "Show in Finder"), (20, 60, "Move to Trash")])
        render(f"{d}/upper-lower.png", [(30, 8, "Upper toolbar"), (30, 132, "Lower status bar")])
        render(f"{d}/blank.png", [])
        render(f"{d}/punctuation.png", [(16, 30, 'Save "Report.docx" before closing?'),
                                        (16, 80, "Battery: 87% (charging)")])
        render(f"{d}/dark.png", [(16, 24, "Sign in with your work email"),
                                 (16, 64, "Version 3.2.1")], "1e1e1e", "e6e6e6", 12)
        cls.sidebar = ["Favorites", "Recents", "Downloads", "Desktop"]
        cls.files = ["Quarterly Report.pdf", "Meeting Notes.txt", "Budget 2024.csv", "Drafts"]
        render(f"{d}/panels.png",
               ["panel", 0, 0, 150, 160, "1e1e1e", "e0e0e0"]
               + [(12, 12 + 36 * i, t) for i, t in enumerate(cls.sidebar)]
               + ["panel", 150, 0, 330, 160, "ffffff", "1d1d1f"]
               + [(190, 12 + 36 * i, t) for i, t in enumerate(cls.files)])
        render(f"{d}/small.png", [(10, 10, "Last edited 5 minutes ago")], pixels=11,
               size=(260, 40))
        # Interface panes where deciding light or dark text pixel by pixel cut words out of lines:
        # white text on mid-grey, grey text on pale grey, and a pale panel on a mid-grey desktop.
        cls.pane_lines = ["Meeting notes: Thursday 10:30 AM", "Search or type a command",
                          "Total: $1,284.50 (incl. tax)"]
        render(f"{d}/mid-grey.png", [(8, 3 + 22 * i, t) for i, t in enumerate(cls.pane_lines)],
               "808080", "ffffff", 14, (460, 70))
        render(f"{d}/pale.png", [(8, 3 + 22 * i, t) for i, t in enumerate(cls.pane_lines)],
               "f4f4f4", "707070", 14, (460, 70))
        cls.desktop_lines = ["https://example.org/docs/getting-started",
                             "Build succeeded in 4.2 seconds", "Kenji joined the call at 11:44 PM",
                             "Saved to ~/Downloads/Calendar.txt"]
        render(f"{d}/desktop.png",
               ["panel", 60, 300, 420, 30, "f4f4f4", "707070", (80, 306, cls.desktop_lines[2]),
                # A line that runs past the end of its panel.
                "panel", 60, 700, 200, 30, "ffffff", "0a60d0", (80, 706, cls.desktop_lines[3]),
                "panel", 900, 500, 420, 60, "1e1e1e", "a0a0a0",
                (920, 508, cls.desktop_lines[0]), (920, 532, cls.desktop_lines[1])],
               "808080", "ffffff", 14, (1920, 1080))
        declared_huge_png(f"{d}/declared-huge.png")
        with open(f"{d}/one.png", "rb") as f:
            png = f.read()
        with open(f"{d}/truncated.png", "wb") as f:
            f.write(png[: len(png) // 2])
        with open(f"{d}/header-only.png", "wb") as f:
            f.write(png[:60])
        with open(f"{d}/empty.png", "wb"):
            pass
        with open(f"{d}/notes.png", "w") as f:
            f.write("Move to Trash\n")
        os.mkdir(f"{d}/folder.png")
        cls.unreadable = f"{d}/unreadable.png"
        shutil.copy(f"{d}/one.png", cls.unreadable)
        os.chmod(cls.unreadable, 0)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir)

    def results(self, *names):
        return json.loads(ocr(*(os.path.join(self.images, n) for n in names)))

    def assertEmptyResult(self, result, path):
        self.assertEqual(result, {"imagePath": path, "text": "", "blocks": []})

    def assertSane(self, block):
        box = block["box"]
        self.assertEqual(list(block), ["text", "box", "conf"])
        self.assertEqual(list(box), ["x", "y", "w", "h"])
        self.assertGreater(block["conf"], 0)
        self.assertLessEqual(block["conf"], 1)
        self.assertGreater(box["w"], 0)
        self.assertGreater(box["h"], 0)
        self.assertGreaterEqual(box["x"], 0)
        self.assertGreaterEqual(box["y"], 0)
        self.assertLessEqual(box["x"] + box["w"], 1 + 1e-9)
        self.assertLessEqual(box["y"] + box["h"], 1 + 1e-9)

    def test_one_line(self):
        [result] = self.results("one.png")
        self.assertEqual(list(result), ["imagePath", "text", "blocks"])
        self.assertEqual(result["text"], "Recording started at 10:42 AM")
        [block] = result["blocks"]
        self.assertEqual(block["text"], result["text"])
        self.assertSane(block)
        box = block["box"]
        # Drawn from x = 20 and y = 20 (top-down) in a 480 x 160 image, 14 pixels high.
        self.assertAlmostEqual(box["x"], 20 / WIDTH, delta=0.02)
        self.assertAlmostEqual(1 - box["y"] - box["h"], 20 / HEIGHT, delta=0.05)
        self.assertAlmostEqual(box["h"] * HEIGHT, 14, delta=6)

    def test_two_lines_join_with_one_line_feed(self):
        [result] = self.results("two.png")
        self.assertEqual(result["text"], "Show in Finder\nMove to Trash")
        self.assertEqual([b["text"] for b in result["blocks"]], ["Show in Finder", "Move to Trash"])
        first, second = (b["box"] for b in result["blocks"])
        self.assertGreater(first["y"], second["y"] + second["h"])

    def test_boxes_keep_the_bottom_left_origin(self):
        [result] = self.results("upper-lower.png")
        self.assertEqual(result["text"], "Upper toolbar\nLower status bar")
        upper, lower = (b["box"] for b in result["blocks"])
        self.assertAlmostEqual(upper["y"], 1 - upper["h"], delta=0.1)
        self.assertLess(lower["y"], 0.12)
        for block in result["blocks"]:
            self.assertSane(block)

    def test_punctuation_inner_spaces_and_dark_backgrounds(self):
        punctuation, dark, small = self.results("punctuation.png", "dark.png", "small.png")
        self.assertEqual(punctuation["text"],
                         'Save "Report.docx" before closing?\nBattery: 87% (charging)')
        self.assertEqual(dark["text"], "Sign in with your work email\nVersion 3.2.1")
        self.assertEqual(small["text"], "Last edited 5 minutes ago")
        for result in (punctuation, dark, small):
            for block in result["blocks"]:
                self.assertSane(block)

    def test_light_and_dark_panels_in_one_frame(self):
        [result] = self.results("panels.png")
        self.assertEqual(sorted(result["text"].split("\n")), sorted(self.sidebar + self.files))
        for block in result["blocks"]:
            self.assertSane(block)
            # Left panel is the left third.
            left = block["text"] in self.sidebar
            self.assertEqual(block["box"]["x"] + block["box"]["w"] < 1 / 3, left, block)

    def assertWholeLines(self, result, lines, size, starts):
        """Every line in one block, all its words, its box from its first letter to its last."""
        by_text = {b["text"]: b["box"] for b in result["blocks"]}
        for line, x in zip(lines, starts):
            with self.subTest(line):
                self.assertIn(line, by_text, result["text"])
                box = by_text[line]
                self.assertAlmostEqual(box["x"] * size[0], x, delta=6)
                # DejaVu Sans letters with the spaces between words average half the font size in width.
                self.assertGreater(box["w"] * size[0], 0.4 * 14 * len(line))

    def test_lines_on_mid_grey_and_pale_panels_come_out_whole(self):
        grey, pale, desktop = self.results("mid-grey.png", "pale.png", "desktop.png")
        for result in (grey, pale):
            self.assertEqual(result["text"], "\n".join(self.pane_lines))
            self.assertWholeLines(result, self.pane_lines, (460, 70), [8, 8, 8])
        whole = self.desktop_lines[:3]
        self.assertWholeLines(desktop, whole, (1920, 1080), [920, 920, 80])
        # The overflowing line is one block, from its first word to its last, read over two
        # backgrounds (its end is faint on the desktop's grey; the command reads none of it).
        [overflow] = [b for b in desktop["blocks"] if b["text"] not in whole]
        self.assertRegex(overflow["text"], r"^Saved to ~/Downloads/Calendar.?txt$")
        self.assertEqual(len(desktop["blocks"]), 4)

    def test_declared_huge_image_costs_nothing(self):
        # 20,000 x 20,000 pixels declared in 76 KB: the empty result without decoding it, and the
        # next image still read.
        huge, after = (os.path.join(self.images, n) for n in ("declared-huge.png", "one.png"))
        process = subprocess.Popen([TOOL, huge, after], stdout=subprocess.PIPE)
        out = process.stdout.read()
        _, status, usage = os.wait4(process.pid, 0)
        process.returncode = os.waitstatus_to_exitcode(status)
        process.stdout.close()
        self.assertEqual(process.returncode, 0)
        first, second = schemas.loads("ocr-result", out)
        self.assertEmptyResult(first, huge)
        self.assertEqual(second["text"], "Recording started at 10:42 AM")
        # The engine and its English model take about 40 MB; the bitmap alone would be 400 MB.
        self.assertLess(usage.ru_maxrss, 150 * 1024, "peak resident KB")

    def test_exact_output_form(self):
        paths = [os.path.join(self.images, n) for n in ("two.png", "blank.png")]
        out = ocr(*paths).decode()
        self.assertEqual(out, reencoded(json.loads(out)))
        self.assertNotIn("\\/", out)
        self.assertFalse(out.endswith("\n"))
        self.assertTrue(out.endswith(
            ',{"imagePath":"%s","text":"","blocks":[]}]' % paths[1]))

    def test_images_that_cannot_be_read_give_empty_results(self):
        names = ["one.png", "missing.png", "folder.png", "notes.png", "empty.png",
                 "truncated.png", "header-only.png", "two.png"]
        if os.geteuid() != 0:  # root reads files whatever their mode
            names.insert(1, "unreadable.png")
        results = self.results(*names)
        self.assertEqual([r["imagePath"] for r in results],
                         [os.path.join(self.images, n) for n in names])
        self.assertEqual(results[0]["text"], "Recording started at 10:42 AM")
        self.assertEqual(results[-1]["text"], "Show in Finder\nMove to Trash")
        for name, result in zip(names[1:-1], results[1:-1]):
            with self.subTest(name):
                self.assertEmptyResult(result, os.path.join(self.images, name))

    def test_blank_image_and_no_arguments(self):
        path = os.path.join(self.images, "blank.png")
        self.assertEqual(ocr(path), b'[{"imagePath":"%s","text":"","blocks":[]}]' % path.encode())
        self.assertEqual(ocr(), b"[]")

    def test_same_path_twice_and_paths_as_given(self):
        spelled = "./" + os.path.relpath(os.path.join(self.images, "two.png")).replace("/", "//")
        first, second = json.loads(ocr(spelled, spelled))
        self.assertEqual(first, second)
        self.assertEqual(first["imagePath"], spelled)
        self.assertEqual(len(first["blocks"]), 2)


if __name__ == "__main__":
    main(2)
