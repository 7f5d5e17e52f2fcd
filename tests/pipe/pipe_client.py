#!/usr/bin/env python3
"""A pipe client written from docs/pipe-protocol.md alone, run against pipe_echo_server.

Usage: pipe_client.py <path of pipe_echo_server>
"""

import os
import select
import shutil
import socket
import stat
import struct
import subprocess
import sys
import tempfile
import unittest

REQUEST_PIPE = r"\\.\pipe\qorva\tarvel\varnex71\zorv_service_pipe_requestjdoe"


def pipe_directory():
    if os.environ.get("VARNEX_PIPE_DIR"):
        return os.environ["VARNEX_PIPE_DIR"]
    if os.environ.get("XDG_RUNTIME_DIR"):
        return os.path.join(os.environ["XDG_RUNTIME_DIR"], "varnex-pipes")
    return "/tmp/varnex-pipes-%d" % os.geteuid()


def socket_path(name, directory):
    prefix = "\\\\.\\pipe\\"
    rest = name[len(prefix):].replace("\\", ".")
    if name[: len(prefix)].lower() != prefix or rest in ("", ".", "..") or any(
            c in rest for c in "/\n\0"):
        raise ValueError("no socket for " + name)
    path = directory.rstrip("/") + "/" + rest
    if len(path.encode()) > 107:
        raise ValueError("socket path too long: " + path)
    return path


def connect(name):
    directory = pipe_directory()
    st = os.lstat(directory)
    if not stat.S_ISDIR(st.st_mode) or st.st_uid != os.geteuid() or st.st_mode & 0o077:
        raise OSError("pipe directory is not private: " + directory)
    sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    sock.settimeout(10)
    sock.connect(socket_path(name, directory))
    creds = sock.getsockopt(socket.SOL_SOCKET, socket.SO_PEERCRED, struct.calcsize("3i"))
    if struct.unpack("3i", creds)[1] != os.geteuid():
        sock.close()
        raise OSError("pipe server belongs to another user")
    return sock


def read_exactly(sock, count):
    data = b""
    while len(data) < count:
        chunk = sock.recv(count - len(data))
        if not chunk:
            return None
        data += chunk
    return data


def exchange(request):
    with connect(REQUEST_PIPE) as sock:
        sock.sendall(struct.pack("!I", len(request)) + request)
        header = read_exactly(sock, 4)
        return None if header is None else read_exactly(sock, struct.unpack("!I", header)[0])


class RequestPipe(unittest.TestCase):
    REQUESTS = [
        (b"<methodCall/>", b"echo:<methodCall/>"),
        (b"", b"echo:"),
        (bytes(range(256)) * 40, b"echo:" + bytes(range(256)) * 40),  # several 4095-byte reads
        (b"no reply", None),  # the server closes without an answer
    ]

    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="varnex-pyclient-")
        self.addCleanup(shutil.rmtree, self.root)
        self.pipe_dir = os.environ["VARNEX_PIPE_DIR"] = os.path.join(self.root, "pipes")
        self.server = subprocess.Popen(
            [SERVER, REQUEST_PIPE, str(len(self.REQUESTS))], stdout=subprocess.PIPE)
        self.addCleanup(self.server.stdout.close)
        self.addCleanup(self.server.kill)
        ready, _, _ = select.select([self.server.stdout], [], [], 10)
        self.assertEqual(self.server.stdout.readline() if ready else b"", b"ready\n")

    def test_requests_get_their_replies_each_on_its_own_connection(self):
        path = socket_path(REQUEST_PIPE, self.pipe_dir)
        self.assertEqual(
            path, self.pipe_dir + "/qorva.tarvel.varnex71.zorv_service_pipe_requestjdoe")
        for request, reply in self.REQUESTS:
            with self.subTest(request=request[:40]):
                self.assertEqual(exchange(request), reply)
        self.assertEqual(self.server.wait(timeout=10), 0)
        self.assertFalse(os.path.exists(path), "the server removes its socket at its end")


if __name__ == "__main__":
    SERVER = sys.argv.pop(1)
    unittest.main()
