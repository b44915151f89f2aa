"""The tools' JSON writers against the published schemas: orvane-json-samples prints what each
tool's own code writes for many random records (window lists, bounds lines, selector results,
sensors lines, event logs, OCR results), and every one must validate.

    schema_property_test.py ORVANE_JSON_SAMPLES [SEED COUNT]

Without a seed it runs a fixed one and one taken from the clock; a failure names its seed, so
that `orvane-json-samples SEED COUNT` prints the same documents again.
"""

import collections
import os
import subprocess
import sys
import time
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "harness"))
import schemas  # noqa: E402

SAMPLES = None
SEEDS, COUNT = ["20261209", str(int(time.time()))], "250"
# What follows each document: the line-printing tools and the selector end it with a line
# feed, the others with nothing.
ENDINGS = {"window-list": b"\n", "window-bounds-line": b"\n", "capture-selector-result": b"\n",
           "capture-sensors-line": b"\n", "eventtap-log": b"", "ocr-result": b""}


def samples(seed, count):
    out = subprocess.run([SAMPLES, seed, count], capture_output=True, check=True, timeout=600).stdout
    position = 0
    while position < len(out):
        head_end = out.index(b"\n", position)
        name, size = out[position:head_end].decode().split(" ")
        body = out[head_end + 1:head_end + 1 + int(size)]
        position = head_end + 1 + int(size)
        assert out[position:position + 1] == b"\n", "sample framing lost at byte %d" % position
        position += 1
        yield name, body


class WritersMatchTheSchemas(unittest.TestCase):
    def test_random_records_validate(self):
        for seed in SEEDS:
            with self.subTest(seed=seed):
                seen = collections.Counter()
                for name, body in samples(seed, COUNT):
                    ending = ENDINGS[name]
                    self.assertTrue(body.endswith(ending) and not body[:len(body) - len(ending)]
                                    .endswith(b"\n"), (seed, name, body[-40:]))
                    document = body[:len(body) - len(ending)]
                    self.assertNotIn(b"\n", document, (seed, name))
                    try:
                        schemas.loads(name, document)
                    except AssertionError as e:
                        raise AssertionError("seed %s: %s" % (seed, e)) from None
                    seen[name] += 1
                # Every schema was exercised, each by many documents.
                self.assertEqual(sorted(seen), schemas.names())
                self.assertGreater(min(seen.values()), 100, seen)

    def test_a_broken_record_is_caught(self):
        # The check itself: an output one step off its schema fails.
        for name, document in [
                ("window-list", '[{"id":0,"ownerPid":1,"ownerName":"","title":"",'
                                '"bounds":{"x":0,"y":0,"width":32,"height":32}}]'),
                ("window-bounds-line", '{"atUnixMs":1.5,"status":"closed","windowId":7}'),
                ("capture-selector-result", '{"kind":"screen","displayId":1,"extra":0}'),
                ("capture-sensors-line", '{"atUnixMs":1,"type":"ax-element","xGlobal":1,'
                                         '"yGlobal":2}'),
                ("eventtap-log", '{"version":1,"source":"x11_xinput2","startedAtUnixMs":1,'
                                 '"monotonicStartedAtSeconds":2,"durationMs":3,'
                                 '"redactionEnabled":true,"cursorPath":[],"events":[{'
                                 '"type":"leftMouseDown","timestampMs":1,"x":0,"y":0,'
                                 '"button":"right","keyCode":-1,"text":"","redacted":false,'
                                 '"deltaX":0,"deltaY":0}]}'),
                ("ocr-result", '[{"imagePath":"a","text":"","blocks":[{"text":"x",'
                               '"box":{"x":0,"y":0,"w":1,"h":1},"conf":1.5}]}]')]:
            with self.subTest(name), self.assertRaises(AssertionError):
                schemas.loads(name, document)


if __name__ == "__main__":
    SAMPLES = sys.argv.pop(1)
    if len(sys.argv) >= 3:
        SEEDS, COUNT = [sys.argv.pop(1)], sys.argv.pop(1)
    unittest.main(verbosity=2)
