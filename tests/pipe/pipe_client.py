#!/usr/bin/env python3
"""A pipe client written from docs/pipe-protocol.md alone, standard library only, run
against pipe_echo_server. Proves that the page is enough to talk to our servers.

Usage: pipe_client.py <path of pipe_echo_server>
"""

import os
import select
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import time
import unittest

SERVER = None
READY_DEADLINE = 10.0
IO_DEADLINE = 10.0
MAX_SOCKET_PATH = 107
LOGIN = "jdoe"
REQUEST_PIPE = r"\\.\pipe\qorva\tarvel\varnex71\zorv_service_pipe_request" + LOGIN


def pipe_directory():
    if os.environ.get("VARNEX_PIPE_DIR"):
        return os.environ["VARNEX_PIPE_DIR"]
    if os.environ.get("XDG_RUNTIME_DIR"):
        return os.path.join(os.environ["XDG_RUNTIME_DIR"], "varnex-pipes")
    return "/tmp/varnex-pipes-%d" % os.geteuid()


def check_pipe_directory(path):
    st = os.lstat(path)
    if not stat.S_ISDIR(st.st_mode):
        raise OSError("pipe directory is not a real directory: " + path)
    if st.st_uid != os.geteuid() or st.st_mode & 0o077:
        raise OSError("pipe directory is open to others: " + path)


def socket_path(name, directory):
    prefix = "\\\\.\\pipe\\"
    if name[: len(prefix)].lower() != prefix:
        raise ValueError("not a pipe name: " + name)
    rest = name[len(prefix):]
    if any(c in rest for c in "/\n\0"):
        raise ValueError("no socket for " + name)
    rest = rest.replace("\\", ".")
    if rest in ("", ".", ".."):
        raise ValueError("no socket for " + name)
    path = directory.rstrip("/") + "/" + rest
    if len(path.encode()) > MAX_SOCKET_PATH:
        raise ValueError("socket path too long: " + path)
    return path


def connect(name):
    directory = pipe_directory()
    check_pipe_directory(directory)
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.settimeout(IO_DEADLINE)
    sock.connect(socket_path(name, directory))
    creds = sock.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i"))
    _pid, uid, _gid = struct.unpack("3i", creds)
    if uid != os.geteuid():
        sock.close()
        raise OSError("pipe server belongs to user %d" % uid)
    return sock


def send_message(sock, payload):
    sock.sendall(struct.pack("!I", len(payload)) + payload)


def read_exactly(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def read_message(sock):
    header = read_exactly(sock, 4)
    if header is None:
        return None
    (length,) = struct.unpack("!I", header)
    return read_exactly(sock, length)


def exchange(request):
    sock = connect(REQUEST_PIPE)
    try:
        send_message(sock, request)
        return read_message(sock)
    finally:
        sock.close()


class LauncherRequestPipe(unittest.TestCase):
    REQUESTS = [
        (b"<?xml version=\"1.0\"?><methodCall/>", b"echo:<?xml version=\"1.0\"?><methodCall/>"),
        (b"", b"echo:"),
        (bytes(range(256)) * 40, b"echo:" + bytes(range(256)) * 40),  # several 4095-byte reads
        (b"no reply", None),  # the server closes without an answer
    ]

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="varnex-pyclient-")
        cls.pipe_dir = os.path.join(cls.root, "pipes")
        os.environ["VARNEX_PIPE_DIR"] = cls.pipe_dir
        cls.server = subprocess.Popen(
            [SERVER, REQUEST_PIPE, str(len(cls.REQUESTS))], stdout=subprocess.PIPE)
        ready, _, _ = select.select([cls.server.stdout], [], [], READY_DEADLINE)
        line = cls.server.stdout.readline() if ready else b""
        if line != b"ready\n":
            cls.server.kill()
            cls.server.wait()
            raise RuntimeError("echo server not ready: %r" % line)

    @classmethod
    def tearDownClass(cls):
        if cls.server.poll() is None:
            cls.server.kill()
        cls.server.wait(timeout=IO_DEADLINE)
        cls.server.stdout.close()
        for dirpath, dirnames, filenames in os.walk(cls.root, topdown=False):
            for f in filenames:
                os.unlink(os.path.join(dirpath, f))
            for d in dirnames:
                os.rmdir(os.path.join(dirpath, d))
        os.rmdir(cls.root)

    def test_requests_get_their_replies_each_on_its_own_connection(self):
        path = socket_path(REQUEST_PIPE, self.pipe_dir)
        self.assertEqual(
            path, self.pipe_dir + "/qorva.tarvel.varnex71.zorv_service_pipe_request" + LOGIN)
        self.assertTrue(stat.S_ISSOCK(os.lstat(path).st_mode))
        self.assertEqual(stat.S_IMODE(os.lstat(self.pipe_dir).st_mode), 0o700)
        for request, reply in self.REQUESTS:
            with self.subTest(request=request[:40]):
                self.assertEqual(exchange(request), reply)
        self.assertEqual(self.server.wait(timeout=IO_DEADLINE), 0)
        self.assertFalse(os.path.exists(path), "the server removes its socket at its end")


if __name__ == "__main__":
    if len(sys.argv) != 2:
        sys.exit("usage: pipe_client.py <pipe_echo_server>")
    SERVER = sys.argv.pop(1)
    unittest.main()
