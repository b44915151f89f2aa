"""How many X connections a process has: the X server's own client list (X-Resource 1.2,
asked through libxcb with ctypes), and the connections an strace log shows a process opening."""

import ctypes
import ctypes.util
import shutil


class _ClientQuery(ctypes.Structure):
    _fields_ = [("client", ctypes.c_uint32), ("mask", ctypes.c_uint32)]


class _IdValue(ctypes.Structure):
    _fields_ = [("query", _ClientQuery), ("length", ctypes.c_uint32)]


class _Iterator(ctypes.Structure):
    _fields_ = [("data", ctypes.POINTER(_IdValue)), ("rem", ctypes.c_int),
                ("index", ctypes.c_int)]


class _Cookie(ctypes.Structure):
    _fields_ = [("sequence", ctypes.c_uint)]


def client_pids(display):
    """The pid of each local client of the X server (X-Resource 1.2 QueryClientIds), through
    libxcb; clients without one are left out."""
    xcb = ctypes.CDLL(ctypes.util.find_library("xcb") or "libxcb.so.1")
    res = ctypes.CDLL(ctypes.util.find_library("xcb-res") or "libxcb-res.so.0")
    xcb.xcb_connect.restype = ctypes.c_void_p
    xcb.xcb_connect.argtypes = [ctypes.c_char_p, ctypes.c_void_p]
    xcb.xcb_connection_has_error.argtypes = [ctypes.c_void_p]
    xcb.xcb_disconnect.argtypes = [ctypes.c_void_p]
    res.xcb_res_query_client_ids.restype = _Cookie
    res.xcb_res_query_client_ids.argtypes = [ctypes.c_void_p, ctypes.c_uint32,
                                             ctypes.POINTER(_ClientQuery)]
    res.xcb_res_query_client_ids_reply.restype = ctypes.c_void_p
    res.xcb_res_query_client_ids_reply.argtypes = [ctypes.c_void_p, _Cookie, ctypes.c_void_p]
    res.xcb_res_query_client_ids_ids_iterator.restype = _Iterator
    res.xcb_res_query_client_ids_ids_iterator.argtypes = [ctypes.c_void_p]
    res.xcb_res_client_id_value_next.argtypes = [ctypes.POINTER(_Iterator)]
    res.xcb_res_client_id_value_value.restype = ctypes.POINTER(ctypes.c_uint32)
    res.xcb_res_client_id_value_value.argtypes = [ctypes.POINTER(_IdValue)]
    res.xcb_res_client_id_value_value_length.argtypes = [ctypes.POINTER(_IdValue)]
    libc = ctypes.CDLL(None)
    libc.free.argtypes = [ctypes.c_void_p]

    c = xcb.xcb_connect(display.encode(), None)
    if not c or xcb.xcb_connection_has_error(c):
        raise RuntimeError("cannot connect to " + display)
    try:
        query = _ClientQuery(0, 2)  # every client, its local pid
        reply = res.xcb_res_query_client_ids_reply(
            c, res.xcb_res_query_client_ids(c, 1, ctypes.byref(query)), None)
        if not reply:
            raise RuntimeError("no X-Resource 1.2 on " + display)
        pids = []
        it = res.xcb_res_query_client_ids_ids_iterator(reply)
        while it.rem > 0:
            if res.xcb_res_client_id_value_value_length(it.data) == 1:
                pids.append(res.xcb_res_client_id_value_value(it.data)[0])
            res.xcb_res_client_id_value_next(ctypes.byref(it))
        libc.free(reply)
        return pids
    finally:
        xcb.xcb_disconnect(c)


def server_clients(display, pid):
    """How many of the X server's clients belong to `pid`."""
    return client_pids(display).count(pid)


def x_connects(trace_path, display):
    """Successful connect() calls to the display's socket in an strace log, made by the traced
    process's own threads (not by processes it starts)."""
    number = display.lstrip(":").split(".")[0]
    socket = "/tmp/.X11-unix/X" + number
    count = 0
    threads = None
    with open(trace_path) as f:
        for line in f:
            tid, _, call = line.partition(" ")
            if not tid.isdigit():
                continue
            if threads is None:
                threads = {tid}
            if tid not in threads:
                continue
            call = call.strip()
            if call.startswith("clone") and "CLONE_THREAD" in call:
                child = call.rsplit("=", 1)[-1].strip().split()[0]
                if child.isdigit():
                    threads.add(child)
            elif call.startswith("connect(") and socket in call and call.endswith("= 0"):
                count += 1
    return count


def traced(args, trace_path):
    """`args` run under strace, logging what x_connects reads."""
    return ["strace", "-f", "-qq", "-e", "trace=connect,clone,clone3", "-o", trace_path] + args


def can_trace():
    return shutil.which("strace") is not None
