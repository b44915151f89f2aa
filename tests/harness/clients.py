"""The clients a test starts in a private session (fixtures, tools), ended with the session."""

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
