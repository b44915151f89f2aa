"""The clients a test starts in a private session (fixtures, tools), ended with the session,
and what the private compositor sessions (sway, KWin, GNOME Shell) share."""

import subprocess


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
