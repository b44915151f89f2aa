"""The clients a test starts in a private session (fixtures, tools), ended with the session,
and what the private compositor sessions (sway, KWin, GNOME Shell) share."""

import json
import signal
import subprocess
import threading


def spawn(clients, env, args):
    """A client with `env` as its environment and pipes for its standard input and output,
    added to `clients`."""
    p = subprocess.Popen(args, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.DEVNULL, text=True)
    clients.append(p)
    return p


def end(clients):
    """Kills the clients still running and closes their pipes; `clients` is emptied."""
    for p in clients:
        if p.poll() is None:
            p.kill()
            p.wait()
        for stream in (p.stdin, p.stdout):
            if stream:
                stream.close()
    clients.clear()


class Session:
    """A private compositor session as a context manager: started on entry (and stopped again
    when the start fails), stopped on exit. A subclass gives start(), stop(), env(), its
    `clients` list and `log_path`, the file its compositor writes to."""

    LOG_TAIL = 2000  # characters of the log quoted in a failure

    def __enter__(self):
        try:
            self.start()
        except BaseException:
            self.stop()
            raise
        return self

    def __exit__(self, *exc):
        self.stop()

    def read_log(self):
        try:
            with open(self.log_path) as f:
                return f.read()[-self.LOG_TAIL:]
        except (OSError, TypeError):
            return ""

    def spawn(self, args, **env):
        """A client of this session (`env` added to its environment), with pipes for its
        standard input and output; ended with the session."""
        return spawn(self.clients, dict(self.env(), **env), args)


class ToolLines:
    """A running tool whose standard output lines are parsed as they come (each first given to
    `check`, when there is one), and whose standard error is kept in `err`."""

    def __init__(self, args, env, check=None, timeout=15):
        self.proc = subprocess.Popen(args, env=env, stdin=subprocess.PIPE,
                                     stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        self.lines, self.seen, self.err = [], 0, b""
        self.check, self.timeout = check, timeout
        self.cond = threading.Condition()
        self.readers = [threading.Thread(target=self._read, args=(stream, err), daemon=True)
                        for stream, err in ((self.proc.stdout, False), (self.proc.stderr, True))]
        for reader in self.readers:
            reader.start()

    def _read(self, stream, err):
        for raw in iter(stream.readline, b""):
            if not err and self.check:
                self.check(raw)
            with self.cond:
                if err:
                    self.err += raw
                else:
                    self.lines.append(json.loads(raw))
                self.cond.notify_all()

    def wait_for(self, predicate, timeout=None):
        """The first line after the last one returned for which predicate holds (lines that
        came while the test was acting are not missed)."""
        def match():
            return next((i for i in range(self.seen, len(self.lines))
                         if predicate(self.lines[i])), None)
        with self.cond:
            self.cond.wait_for(lambda: match() is not None, timeout or self.timeout)
            i = match()
            if i is None:
                raise AssertionError("no such line; got %s" % self.lines[self.seen:])
            self.seen = i + 1
            return self.lines[i]

    def wait_err(self, text, timeout=None):
        with self.cond:
            if not self.cond.wait_for(lambda: text in self.err, timeout or self.timeout):
                raise AssertionError("no %r on standard error: %r" % (text, self.err))

    def say(self, text):
        self.proc.stdin.write(text.encode())
        self.proc.stdin.flush()

    def stop(self):
        """SIGTERM, unless it has ended; its status and all it wrote on standard error."""
        if self.proc.poll() is None:
            self.proc.send_signal(signal.SIGTERM)
        rc = self.proc.wait(10)
        for reader in self.readers:
            reader.join(5)
        self.close()
        return rc, self.err

    def close(self):
        if self.proc.poll() is None:
            self.proc.kill()
            self.proc.wait()
        for stream in (self.proc.stdin, self.proc.stdout, self.proc.stderr):
            try:
                stream.close()
            except BrokenPipeError:
                pass
