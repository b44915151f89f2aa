"""orvane-eventtap against a hostile desktop: bursts of input right before the stop (with the
recorder paused, too), a focused application that has stopped answering, fast clicks at many
places, letters typed as focus leaves a password entry, kills during the write of the log, and a
stop in the first moments of the process. Input comes through XTest and is
synchronised with the server, so the test knows exactly what reached the display before the
signal. Timing figures are printed; the assertions keep wide margins."""

import fcntl
import json
import os
import random
import shutil
import signal
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.path.insert(0, os.path.join(HERE, "..", "..", "tests", "harness"))
from atspi import AccessibilityBus, GtkFixture  # noqa: E402
from eventlog_check import Recorder, XTest, check_log, letters_then_moves  # noqa: E402
from xenv import XServer  # noqa: E402
from process_main import main, programs  # noqa: E402

TOOL = os.path.abspath(programs(1)[0])
BURST_TRIALS = 16
KILL_TRIALS = 40
FOCUS_TRIALS = 30
LETTERS = "abcdefghijklmnopqrstuvwxyz"
# The letters' macOS virtual key codes: plain mode may withhold text it cannot be sure of, so
# what a burst lost is told by the key codes.
LETTER_CODES = dict(zip(LETTERS, [0, 11, 8, 2, 14, 3, 5, 4, 34, 38, 40, 37, 46, 45, 31, 35, 12,
                                  15, 1, 17, 32, 9, 13, 7, 16, 6]))
# The generous bounds of the measured goals (stop within 1 s, timestamps within 20 ms).
STOP_BOUND = 3.0
SPREAD_MARGIN_MS = 250


def status_mask(pid, field):
    try:
        with open("/proc/%d/status" % pid) as f:
            for line in f:
                if line.startswith(field + ":"):
                    return int(line.split()[1], 16)
    except OSError:
        pass
    return 0


class Hostile(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.x = XServer(width=1280, height=800)
        cls.x.start()
        cls.bus = AccessibilityBus(cls.x.env())
        cls.bus.start()
        cls.app = GtkFixture(cls.bus.env(), title="Editor", entry="", button="Save",
                             password=True, no_selection=True, geometry="480x240+40+40")
        cls.input = XTest(cls.x.env()["DISPLAY"])

    @classmethod
    def tearDownClass(cls):
        cls.input.close()
        cls.app.close()
        cls.bus.stop()
        cls.x.stop()

    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="orvane-eventtap-hostile-")
        self.addCleanup(shutil.rmtree, self.dir, True)

    def start(self, name, *rest):
        r = Recorder(TOOL, os.path.join(self.dir, name), *rest, env=self.bus.env())
        self.addCleanup(r.kill)
        r.wait_ready()
        return r

    def finished(self, r, sig=signal.SIGTERM):
        status, out, err = r.stop(sig)
        self.assertEqual((status, out, err), (0, b"", b""))
        with open(r.path, "rb") as f:
            return check_log(self, f.read())

    def focus_entry(self):
        self.app.send("focus entry")
        time.sleep(1.0)

    def hang_app(self):
        """The focused application stops answering (its accessibility calls time out)."""
        os.kill(self.app.pid, signal.SIGSTOP)
        self.addCleanup(os.kill, self.app.pid, signal.SIGCONT)

    def test_a_burst_right_before_the_stop_is_all_in_the_log(self):
        self.focus_entry()
        rng = random.Random(3)
        lost = []
        for trial in range(BURST_TRIALS):
            paused = trial % 2 == 1
            text = "".join(rng.choice(LETTERS) for _ in range(rng.randint(100, 300)))
            r = self.start("burst-%d.json" % trial, "plain")
            if paused:
                os.kill(r.pid, signal.SIGSTOP)
            for ch in text:
                self.input.key(ch)
            self.input.sync()
            # Every press has been sent to the recorder: now the stop.
            if paused:
                os.kill(r.pid, signal.SIGCONT)
            log = self.finished(r)
            typed = [e["keyCode"] for e in log["events"] if e["type"] == "keyDown"]
            lost.append(len(text) - len(typed))
            self.assertEqual(typed, [LETTER_CODES[ch] for ch in text],
                             "trial %d (paused: %s)" % (trial, paused))
        print("burst then stop: %d trials, events lost per trial %s" % (BURST_TRIALS, lost),
              file=sys.stderr)

    def test_a_silent_application_holds_up_neither_the_events_nor_the_stop(self):
        self.focus_entry()
        r = self.start("silent.json", "plain")
        self.input.key("a")
        self.input.sync()
        time.sleep(0.5)
        self.hang_app()
        sent = []
        for ch in "bcdefghijk":
            self.input.key(ch)
            self.input.sync()
            sent.append(time.monotonic())
        started = time.monotonic()
        log = self.finished(r)
        stop = time.monotonic() - started
        keys = [e for e in log["events"] if e["type"] == "keyDown"][1:]
        # Every key, its text withheld: nothing tells which field it went to.
        self.assertEqual([(k["keyCode"], k["text"], k["redacted"]) for k in keys],
                         [(code, "", True) for code in (11, 8, 2, 14, 3, 5, 4, 34, 38, 40)])
        spread = keys[-1]["timestampMs"] - keys[0]["timestampMs"]
        real = (sent[-1] - sent[0]) * 1000
        print("silent application: stop took %.3f s; 10 presses spread %d ms in the log, "
              "%.1f ms when sent" % (stop, spread, real), file=sys.stderr)
        self.assertLess(stop, STOP_BOUND)
        self.assertLessEqual(spread, real + SPREAD_MARGIN_MS)

    def clicks_at_their_places(self, hung=False, held=False, burst=False):
        self.focus_entry()
        r = self.start("clicks-%s-%s.json" % (hung, held))
        if hung:
            self.hang_app()
        if held:
            # The recorder takes every click only after the last one, as a scheduler that
            # holds it up would have it.
            os.kill(r.pid, signal.SIGSTOP)
        places = [(600 + 30 * i, 320 + 17 * i) for i in range(20)]
        for x, y in places:
            self.input.click(x, y)
            if not burst:
                self.input.sync()
                time.sleep(0.03)
        self.input.sync()
        if held:
            os.kill(r.pid, signal.SIGCONT)
        log = self.finished(r)
        clicks = [(e["x"], e["y"]) for e in log["events"] if e["type"] == "leftMouseDown"]
        ups = [(e["x"], e["y"]) for e in log["events"] if e["type"] == "leftMouseUp"]
        self.assertEqual(len(clicks), len(places))
        right = sum(abs(cx - x) <= 1 and abs(cy - y) <= 1
                    for (cx, cy), (x, y) in zip(clicks, places))
        print("clicks%s%s%s: %d of %d at their place" % (
            " in one burst" if burst else "", " with a silent application" if hung else "",
            " with the recorder held up" if held else "", right, len(places)), file=sys.stderr)
        self.assertEqual(right, len(places), list(zip(clicks, places)))
        self.assertEqual(ups, clicks)

    def test_each_click_carries_its_own_place(self):
        self.clicks_at_their_places()

    def test_each_click_carries_its_own_place_while_the_application_is_silent(self):
        self.clicks_at_their_places(hung=True)

    def test_each_click_carries_its_own_place_when_the_recorder_takes_it_late(self):
        self.clicks_at_their_places(held=True)

    def test_each_click_carries_its_own_place_when_all_come_within_a_millisecond(self):
        self.clicks_at_their_places(burst=True)

    def test_a_letter_typed_as_focus_leaves_the_password_entry_is_never_stored(self):
        # A letter, then at once Shift+Tab or a click into the plain entry: the letter's field
        # is the password entry, however late the recorder reads it. With a pause before the
        # move, letters typed into the plain entry keep their text (the goal is 95 %; the
        # margin here is wide).
        rng = random.Random(4)
        for start, move, pause in (("password", "tab", 0), ("password", "click", 0),
                                   ("entry", "click", 0.03)):
            letters = "".join(rng.choice(LETTERS) for _ in range(FOCUS_TRIALS))
            r = self.start("moves-%s-%s.json" % (start, move), "plain")
            status, err, keys, texts = letters_then_moves(self.input, self.app, r, letters,
                                                          start, move, pause)
            self.assertEqual((status, err), (0, b""))
            self.assertEqual(texts[start], letters)
            kept = "".join(text for text, _ in keys)
            print("%s, then %s%s: %d of %d letters kept their text" % (
                start, move, " after 30 ms" if pause else "", len(kept), len(letters)),
                file=sys.stderr)
            self.assertEqual(len(keys), len(letters))
            self.assertTrue(all(text or redacted for text, redacted in keys), keys)
            if start == "password":
                self.assertEqual(kept, "")
            else:
                self.assertGreaterEqual(len(kept), len(letters) // 2)

    def test_a_letter_typed_after_a_click_into_a_lagging_application_is_never_stored(self):
        # The application handles its input late but answers the accessibility bus between
        # input events: a read made after a click into its password entry, before it has
        # handled the click, describes the entry focused before.
        # Input of the tests before may still be on its way in (a loaded machine).
        self.app.send("sync", timeout=120)
        for name in ("entry", "password"):
            self.app.send("clear " + name)
        r = self.start("lagging.json", "plain")
        entry, password = self.app.center("entry"), self.app.center("password")
        for at in (password, entry):  # focus changes the recorder sees first
            self.input.click(*at)
            self.input.sync()
            time.sleep(0.3)
        self.input.key("a")
        self.input.sync()
        time.sleep(0.3)
        self.app.send("lag 0.05")
        for _ in range(16):
            self.input.key("Shift_L")
        self.input.click(*password)
        self.input.sync()
        time.sleep(0.2)
        self.input.key("q")
        self.input.sync()
        self.app.send("sync", timeout=120)
        self.app.send("lag 0")
        log = self.finished(r)
        texts = {name: json.loads(self.app.send("text " + name).split(" ", 1)[1])
                 for name in ("entry", "password")}
        for name in texts:
            self.app.send("clear " + name)
        self.assertEqual(texts, {"entry": "a", "password": "q"})
        keys = {e["keyCode"]: (e["text"], e["redacted"]) for e in log["events"]
                if e["type"] == "keyDown" and e["keyCode"] in (LETTER_CODES["a"], LETTER_CODES["q"])}
        print("lagging application: %s" % keys, file=sys.stderr)
        self.assertEqual(keys[LETTER_CODES["q"]], ("", True))

    def test_a_kill_during_the_write_leaves_no_copy_behind_once_the_next_recording_starts(self):
        # SIGKILL at random moments after the stop, the write of the log over an older one
        # included: a temporary copy the kill leaves is gone once the next recording of that log
        # has started, as is one planted as a killed writer would leave it. A file still being
        # written (its lock held, here by the test) and files not ours stay.
        directory = os.path.join(self.dir, "kill")
        os.mkdir(directory)
        path = os.path.join(directory, "log.json")
        with open(path, "w") as f:
            f.write("{}")

        def plant(name, mode=0o600):
            fd = os.open(os.path.join(directory, name), os.O_WRONLY | os.O_CREAT, mode)
            os.write(fd, b"typed text")
            return fd
        os.close(plant(".log.json.Stale0000001.tmp"))
        os.close(plant(".log.json.Public000001.tmp", 0o644))
        live = plant(".log.json.LiveWriter01.tmp")
        fcntl.flock(live, fcntl.LOCK_EX)
        self.addCleanup(os.close, live)
        kept = [".log.json.LiveWriter01.tmp", ".log.json.Public000001.tmp", "log.json"]
        rng = random.Random(9)
        killed_with_copy = 0
        for n in range(KILL_TRIALS + 1):
            r = Recorder(TOOL, path, "plain", env=self.bus.env())
            self.addCleanup(r.kill)
            r.wait_ready(quiet=0.05)
            self.assertEqual(sorted(os.listdir(directory)), kept, "run %d" % n)
            if n == KILL_TRIALS:
                break
            for ch in "secret":
                self.input.key(ch)
            self.input.sync()
            r.proc.send_signal(signal.SIGTERM)
            time.sleep(rng.uniform(0, 0.02))
            r.kill()
            killed_with_copy += len(os.listdir(directory)) > len(kept)
        print("kill during the write: %d of %d kills left a temporary copy, none outlived the "
              "next start" % (killed_with_copy, KILL_TRIALS), file=sys.stderr)
        self.assertEqual(r.stop()[0], 0)
        with open(path, "rb") as f:
            check_log(self, f.read())

    def test_a_stop_at_the_very_start_still_writes_the_log(self):
        # The stop as soon as the program has begun: the moment its stop signals are held back
        # or handled.
        for n in range(10):
            r = Recorder(TOOL, os.path.join(self.dir, "early-%d.json" % n), env=self.bus.env())
            self.addCleanup(r.kill)
            deadline = time.time() + 20
            while not (status_mask(r.pid, "SigBlk") | status_mask(r.pid, "SigCgt")) & (
                    1 << (signal.SIGTERM - 1)):
                self.assertLess(time.time(), deadline)
                self.assertIsNone(r.proc.poll())
            log = self.finished(r)
            self.assertEqual(log["events"], [])
        # A host that starts the tool with the stop signals blocked closes the window before
        # the program's first instruction: a stop sent at once still gets the log.
        for n in range(20):
            path = os.path.join(self.dir, "blocked-%d.json" % n)
            err = os.path.join(self.dir, "blocked-%d.err" % n)
            pid = os.posix_spawn(TOOL, [TOOL, path], self.bus.env(),
                                 setsigmask={signal.SIGINT, signal.SIGTERM},
                                 file_actions=[(os.POSIX_SPAWN_OPEN, 2, err,
                                                os.O_WRONLY | os.O_CREAT, 0o600)])
            os.kill(pid, signal.SIGINT if n % 2 else signal.SIGTERM)
            deadline = time.time() + 20
            while True:
                done, status = os.waitpid(pid, os.WNOHANG)
                if done:
                    break
                if time.time() > deadline:
                    os.kill(pid, signal.SIGKILL)
                    self.fail("no stop within 20 s")
                time.sleep(0.01)
            self.assertEqual((os.waitstatus_to_exitcode(status), os.path.getsize(err)), (0, 0))
            with open(path, "rb") as f:
                self.assertEqual(check_log(self, f.read())["events"], [])


if __name__ == "__main__":
    main(1)
