"""velmoran view at the HTTP level, as a hostile or careless client speaks
it: Range requests never read past a body, what the one reading of a
request accepts and refuses (keep-alive, pipelining, header and body
limits, a path decoded once, compression), the deadline for a whole
request, the session cookie, the headers that a browser enforces, clients
that reset mid-answer, and a server short of memory (`ulimit -v`).

Environment: VELMORAN, VELMORAN_MKDATASET.
"""
import base64
import hashlib
import json
import os
import re
import resource
import signal
import socket
import struct
import subprocess
import tempfile
import time
import unittest

from view_server import ViewServer, make_run, velmoran_from_env, xic_query

VELMORAN, MKDATASET = velmoran_from_env()
WEB = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "web")


def read_response(sock, pending=b""):
    """One response from `sock`: (status, headers with lowercase names, body,
    bytes received after it). The body is exactly Content-Length bytes."""
    data = pending
    while b"\r\n\r\n" not in data:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed before a whole head: %r" % data[:200])
        data += chunk
    head, data = data.split(b"\r\n\r\n", 1)
    lines = head.decode("latin-1").split("\r\n")
    status = int(lines[0].split(" ", 2)[1])
    headers = {}
    for line in lines[1:]:
        name, _, value = line.partition(":")
        headers.setdefault(name.strip().lower(), []).append(value.strip())
    length = int(headers["content-length"][0])
    while len(data) < length:
        chunk = sock.recv(65536)
        if not chunk:
            raise ConnectionError("closed %d bytes into a body of %d" % (len(data), length))
        data += chunk
    return status, {k: v[0] if len(v) == 1 else v for k, v in headers.items()}, data[:length], data[length:]


def rest_until_closed(sock, timeout=10):
    """Everything the server still sends until it closes; None if it does not."""
    sock.settimeout(timeout)
    data = b""
    try:
        while True:
            chunk = sock.recv(65536)
            if not chunk:
                return data
            data += chunk
    except socket.timeout:
        return None
    except ConnectionResetError:
        return data


class Protocol(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.run_path = make_run(MKDATASET, os.path.join(cls.tmp.name, "protocol.d"), "synth", "--ms1", "6",
                           "--ms2", "12", "--points", "2000", "--peaks", "40", "--seed", "23")
        cls.info = subprocess.run([VELMORAN, "info", cls.run_path, "--json"], check=True,
                                  capture_output=True).stdout
        cls.server = ViewServer(VELMORAN, cls.run_path)

    @classmethod
    def tearDownClass(cls):
        code, _, err = cls.server.stop()
        cls.tmp.cleanup()
        assert code == 0, err

    def connect(self):
        sock = socket.create_connection(("127.0.0.1", self.server.port), timeout=10)
        self.addCleanup(sock.close)
        return sock

    def request(self, path, token=True, extra=(), close=True):
        lines = ["GET %s HTTP/1.1" % path, "Host: " + self.server.host]
        if token:
            lines.append("X-Velmoran-Token: " + self.server.token)
        if close:
            lines.append("Connection: close")
        lines.extend(extra)
        return ("\r\n".join(lines) + "\r\n\r\n").encode()

    def exchange(self, raw):
        """Sends `raw` on a new connection; the one response and what followed it
        until the server closed."""
        sock = self.connect()
        sock.sendall(raw)
        status, headers, body, after = read_response(sock)
        rest = rest_until_closed(sock)
        return status, headers, body, after + (rest or b"")

    def test_a_range_never_reaches_past_the_body(self):
        with open(os.path.join(WEB, "main.js"), "rb") as f:
            main_js = f.read()
        ranges = ["bytes=0-100000", "bytes=%d-" % len(self.info), "bytes=%d-" % (len(self.info) + 1),
                  "bytes=-100000", "bytes=0-1,3-4", "bytes=5-1, 0-99999", "bytes=x", "lines=0-9"]
        # Each body as the command or the source gives it, or, for errors, as
        # the same request without a range gets it.
        cases = [("/api/run", False, None, 403),
                 ("/api/run", True, self.info, 200),
                 ("/assets/main.js", True, main_js, 200),
                 ("/api/spectrum/999", True, None, 404),
                 ("/nothing", True, None, 404)]
        for path, token, expected, status in cases:
            for value in ranges:
                for name in ("Range", "range", "RANGE"):
                    with self.subTest(path=path, token=token, range=value, name=name):
                        got, headers, body, after = self.exchange(
                            self.request(path, token, ["%s: %s" % (name, value)]))
                        self.assertEqual((got, after), (status, b""))
                        self.assertNotIn("content-range", headers)
                        self.assertEqual(headers["accept-ranges"], "none")
                        if expected is None:
                            expected = self.exchange(self.request(path, token))[2]
                            self.assertIn("error", json.loads(expected))
                        self.assertEqual(body, expected)

    def test_keep_alive_and_pipelined_requests_are_answered_in_order(self):
        sock = self.connect()
        paths = ["/api/run", "/api/spectrum/1", "/api/nothing", "/api/spectrum/2"]
        sock.sendall(b"".join(self.request(p, close=False) for p in paths))
        pending = b""
        statuses = []
        for path in paths:
            status, headers, body, pending = read_response(sock, pending)
            statuses.append(status)
            if path == "/api/spectrum/2":
                self.assertEqual(json.loads(body)["index"], 2)
        self.assertEqual(statuses, [200, 200, 404, 200])
        # The same connection serves a later request, and closes when asked to.
        sock.sendall(self.request("/api/run", close=True))
        status, headers, body, pending = read_response(sock, pending)
        self.assertEqual((status, body, headers.get("connection")), (200, self.info, "close"))
        self.assertEqual(pending + rest_until_closed(sock), b"")

    def test_oversized_heads_bodies_and_unserved_features_end_quickly(self):
        big_header = "X-Filler: " + "a" * 20000
        cases = [
            # A head past 16 KiB: refused at once, connection closed.
            ("head past the limit", self.request("/api/run", extra=[big_header]), 431),
            # One line longer than the library's 8 KiB per line.
            ("header line past 8 KiB", self.request("/api/run", extra=["X-Filler: " + "a" * 9000]), 400),
            # A body announced far past the 4 KiB a request may carry: 413
            # without waiting for it.
            ("huge body", self.request("/api/run", extra=["Content-Length: 1000000000"])
             .replace(b"GET", b"POST", 1), 413),
            # A chunked body that never ends: refused, not waited for.
            ("chunked body", self.request("/api/run", extra=["Transfer-Encoding: chunked"])
             .replace(b"GET", b"POST", 1) + b"5\r\nab", 400),
            # A GET with a small body is answered, and the body is not read as
            # a next request.
            ("get with a body", self.request("/api/run", close=False, extra=["Content-Length: 26"])
             + self.request("/api/run", token=False)[:26], 200),
        ]
        for label, raw, status in cases:
            with self.subTest(case=label):
                t0 = time.monotonic()
                sock = self.connect()
                sock.sendall(raw)
                got, headers, body, after = read_response(sock)
                rest = rest_until_closed(sock)
                self.assertEqual(got, status, body[:200])
                self.assertEqual(after + (rest or b""), b"")
                self.assertLess(time.monotonic() - t0, 2.0)
        self.assertEqual(self.server.request("/api/run")[0], 200)

    def test_a_path_is_decoded_once_and_an_escape_that_is_not_xx_is_400(self):
        # The map is heavy work with workers of its own: a spelling of its path
        # that one reader decodes and another does not must not reach it.
        cases = [("/api/%6dap?width=4&height=2", 200), ("/api/run/0/m%61p?width=4&height=2", 200),
                 ("/api/m%u0061p?width=4&height=2", 400), ("/api/run/0/m%u0061p?width=4&height=2", 400),
                 ("/api/m%2561p?width=4&height=2", 404), ("/api/map%", 400), ("/api/map%4", 400),
                 ("/api/m%00ap", 400), ("/api/spectrum/%31", 200)]
        for path, status in cases:
            with self.subTest(path=path):
                got, _, body, _ = self.exchange(self.request(path))
                self.assertEqual(got, status, body[:200])
                if status == 200 and "map" in path:
                    self.assertEqual(len(body), 4 * 4 * 2)

    def test_the_session_cookie_lets_in_this_server_s_browser_only(self):
        status, headers, _, _ = self.exchange(self.request("/?token=" + self.server.token, token=False))
        self.assertEqual(status, 200)
        cookie = headers["set-cookie"].split(";")[0]
        name, value = cookie.split("=", 1)
        host = "Host: " + self.server.host
        cases = [("the cookie", ["Cookie: theme=dark; " + cookie], 200),
                 ("another value", ["Cookie: %s=%s" % (name, "0" * len(value))], 403),
                 ("the token as its value", ["Cookie: %s=%s" % (name, self.server.token)], 403),
                 ("another port's name", ["Cookie: velmoran-view-1=" + value], 403),
                 ("a rebinding host", ["Cookie: " + cookie, "Host: rebound.example:%d" % self.server.port], 403)]
        for label, extra, expected in cases:
            with self.subTest(case=label):
                lines = ["GET /api/run HTTP/1.1", "Connection: close"] + extra
                if not any(line.startswith("Host:") for line in extra):
                    lines.append(host)
                got, _, body, _ = self.exchange(("\r\n".join(lines) + "\r\n\r\n").encode())
                self.assertEqual(got, expected, body[:200])
        # A bookmark of the page, without either: a page that says how to get in.
        status, headers, body, _ = self.exchange(self.request("/", token=False))
        self.assertEqual((status, headers["content-type"]), (403, "text/html; charset=utf-8"))
        self.assertIn(b"printed", body)

    def test_clients_that_reset_mid_answer_leave_the_server_running(self):
        # A write to a connection reset after its client shut its side raises
        # SIGPIPE, unless the server sends with MSG_NOSIGNAL or ignores the
        # signal: reset during the answer (after some of it was read) and
        # before it (while it is made).
        for read_first in (0, 1, 20000, 1 << 20) * 3:
            sock = socket.create_connection(("127.0.0.1", self.server.port), timeout=10)
            sock.sendall(self.request("/api/map?width=4096&height=1024", close=False) + self.request("/api/run"))
            sock.shutdown(socket.SHUT_WR)
            while read_first > 0:
                chunk = sock.recv(min(read_first, 65536))
                read_first -= len(chunk) or read_first
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_LINGER, struct.pack("ii", 1, 0))
            sock.close()
        self.assertEqual(self.server.request("/api/run"), (200, self.info))
        self.assertIsNone(self.server.process.poll())

    def test_answers_are_never_compressed(self):
        status, headers, body, _ = self.exchange(
            self.request("/api/run", extra=["Accept-Encoding: gzip, deflate, br"]))
        self.assertEqual((status, body), (200, self.info))
        self.assertNotIn("content-encoding", headers)

    def test_a_whole_request_within_five_seconds_however_it_drips(self):
        # An idle connection, and one that sends a byte every 0.5 s (a read
        # timeout per read would never fire), are both closed after 5 s.
        idle = self.connect()
        drip = self.connect()
        t0 = time.monotonic()
        closed = {}
        request = self.request("/api/run")
        sent = 0
        idle.setblocking(False)
        while len(closed) < 2 and time.monotonic() - t0 < 12:
            if "drip" not in closed:
                try:
                    drip.send(request[sent % 20:sent % 20 + 1])
                    sent += 1
                except (BrokenPipeError, ConnectionResetError):
                    closed["drip"] = time.monotonic() - t0
            for name, sock in (("idle", idle), ("drip", drip)):
                if name in closed:
                    continue
                sock.setblocking(False)
                try:
                    data = sock.recv(65536)
                    if not data or data.startswith(b"HTTP/1.1 408"):
                        closed[name] = time.monotonic() - t0
                except BlockingIOError:
                    pass
                except ConnectionResetError:
                    closed[name] = time.monotonic() - t0
            time.sleep(0.5)
        self.assertEqual(sorted(closed), ["drip", "idle"])
        for name, seconds in closed.items():
            self.assertGreater(seconds, 4.0, name)
            self.assertLess(seconds, 7.0, name)

    def test_every_answer_carries_the_browser_policies(self):
        status, _, page, _ = self.exchange(self.request("/"))
        self.assertEqual(status, 200)
        importmap = re.search(rb'<script type="importmap">(.*?)</script>', page, re.S).group(1)
        digest = base64.b64encode(hashlib.sha256(importmap).digest()).decode()
        for path, token, status in (("/", True, 200), ("/api/run", True, 200), ("/api/run", False, 403),
                                    ("/assets/main.js", True, 200), ("/nothing", True, 404)):
            with self.subTest(path=path, token=token):
                got, headers, _, _ = self.exchange(self.request(path, token))
                self.assertEqual(got, status)
                policy = dict(d.strip().split(" ", 1) for d in headers["content-security-policy"].split(";"))
                self.assertEqual(policy["script-src"], "'self' 'sha256-%s'" % digest)
                self.assertEqual((policy["default-src"], policy["object-src"], policy["base-uri"],
                                  policy["frame-ancestors"]), ("'none'",) * 4)
                self.assertEqual(
                    {k: headers.get(k) for k in ("cross-origin-resource-policy", "cross-origin-opener-policy",
                                                 "x-content-type-options", "cache-control", "referrer-policy")},
                    {"cross-origin-resource-policy": "same-origin", "cross-origin-opener-policy": "same-origin",
                     "x-content-type-options": "nosniff", "cache-control": "no-store",
                     "referrer-policy": "no-referrer"})


@unittest.skipIf(os.environ.get("VELMORAN_SANITIZED"), "the sanitizer needs more address space than the limits tried")
class ShortOfMemory(unittest.TestCase):
    def test_under_ulimit_v_the_server_refuses_to_start_or_answers_but_never_dies(self):
        # A login node's `ulimit -v`, swept past every point where the server
        # runs short (threads that cannot start, a map not made ahead, an
        # answer that cannot be made): exit 1 with one line, or 500/503.
        with tempfile.TemporaryDirectory() as tmp:
            run = make_run(MKDATASET, os.path.join(tmp, "r.d"), "synth", "--ms1", "100", "--ms2", "100",
                           "--points", "5000", "--seed", "3")
            for mib in range(40, 201, 10):
                with self.subTest(mib=mib):
                    def limit(mib=mib):
                        resource.setrlimit(resource.RLIMIT_AS, (mib << 20, mib << 20))
                    try:
                        server = ViewServer(VELMORAN, run, preexec_fn=limit)
                    except AssertionError as refused:
                        self.assertRegex(str(refused), r"\(status 1\); stderr: velmoran: [^\n]+\n$")
                        continue
                    for path in ("/api/map?width=2048&height=2048", xic_query(range(300, 400), 50), "/api/run"):
                        try:
                            self.assertIn(server.request(path)[0], (200, 500, 503), path)
                        except ConnectionError:
                            pass  # closed for want of memory to answer
                    code, _, err = server.stop(signal.SIGTERM)
                    self.assertEqual(code, 0, err)


if __name__ == "__main__":
    unittest.main()
