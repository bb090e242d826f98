"""A bounded load test of velmoran view on 127.0.0.1: 1,000 requests over 50
concurrent connections mixing valid requests, malformed ones (bad numbers,
huge indices, no token, a wrong Host, long query strings) and slow clients
that dribble or stall. No crash, every answer the right status, memory
bounded, and a client asking for the run meanwhile is answered throughout.
Then 200 idle and 50 dripping connections with extractions running, or 40
clients that never read their answers: the run is still answered within a
second, every time, also when the server runs short of file descriptors.
Clients that leave 16 MiB answers unread hold no more than the server's
bound, and a download with the token is never closed to make room.

Environment: VELMORAN, VELMORAN_MKDATASET.
"""
import concurrent.futures
import os
import resource
import selectors
import socket
import tempfile
import threading
import time
import unittest

from view_server import ViewServer, make_run, velmoran_from_env, xic_query

VELMORAN, MKDATASET = velmoran_from_env()

REQUESTS = 1000
CONNECTIONS = 50
SCANS = 150


def kinds(server):
    """(name, request path, token, host, expected status) for each kind of request."""
    ok = (True, None)
    long_but_allowed = "/api/xic?" + "&".join(["mz=500.25"] * 100) + "&ppm=10"
    return [
        ("run", "/api/run", *ok, 200),
        ("scans", "/api/scans", *ok, 200),
        ("spectrum", "/api/spectrum/%d", *ok, 200),
        ("run 0's spectrum", "/api/run/0/spectrum/%d", *ok, 200),
        ("run 0's xic", "/api/run/0" + xic_query([301.5], 10)[4:], *ok, 200),
        ("no such run", "/api/run/1/spectrum/%d", *ok, 404),
        ("runs", "/api/runs", *ok, 200),
        ("xic", xic_query([301.5, 524.25, 900.75], 10), *ok, 200),
        ("page", "/", *ok, 200),
        ("map", "/api/map?width=300&height=200&rt=%d:1000", *ok, 200),
        ("bad map", "/api/map?width=5000&height=1", *ok, 400),
        ("bad index", "/api/spectrum/12x", *ok, 400),
        ("huge index", "/api/spectrum/" + "9" * 40, *ok, 404),
        ("bad mz", "/api/xic?mz=5e&ppm=10", *ok, 400),
        ("bad ppm", "/api/xic?mz=500&ppm=-1", *ok, 400),
        ("too many targets", long_but_allowed.replace("&ppm", "&mz=1&ppm"), *ok, 400),
        ("long query", "/api/xic?mz=500&ppm=10&x=" + "a" * 6000, *ok, 400),
        ("query past the limit", "/api/xic?mz=500&ppm=10&x=" + "a" * 20000, *ok, 414),
        ("no token", "/api/run", False, None, 403),
        ("wrong token", "/api/scans", "f" * 64, None, 403),
        ("wrong host", "/api/spectrum/1", True, "rebound.example:%d" % server.port, 403),
    ]


def slow_request(server, path, pause, stall=False):
    """Sends a request a few bytes at a time; with `stall`, stops halfway and
    waits for the server to give up. Returns the status, or None when it
    closed without an answer."""
    request = ("GET %s HTTP/1.1\r\nHost: %s\r\nX-Velmoran-Token: %s\r\nConnection: close\r\n\r\n"
               % (path, server.host, server.token)).encode()
    with socket.create_connection(("127.0.0.1", server.port), timeout=20) as s:
        chunks = [request[i:i + 16] for i in range(0, len(request), 16)]
        if stall:
            chunks = chunks[:len(chunks) // 2]
        for chunk in chunks:
            s.sendall(chunk)
            time.sleep(pause)
        reply = b""
        try:
            while True:
                data = s.recv(65536)
                if not data:
                    break
                reply += data
        except ConnectionResetError:
            return None
    if not reply:
        return None
    return int(reply.split(b" ", 2)[1])


class LoadTest(unittest.TestCase):
    def test_mixed_load_on_loopback(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = make_run(MKDATASET, os.path.join(tmp, "load.d"), "synth", "--ms1", str(SCANS // 3),
                           "--ms2", str(SCANS - SCANS // 3), "--points", "20000", "--peaks", "300",
                           "--seed", "31")
            server = ViewServer(VELMORAN, run)
            try:
                self.run_load(server)
            finally:
                code, _, err = server.stop()
            self.assertEqual(code, 0, err)

    def run_load(self, server):
        table = kinds(server)
        started = server.rss_kib()
        stop = threading.Event()
        canary = []

        # A client that asks for the run every 50 ms while the load lasts.
        def ask_meanwhile():
            while not stop.is_set():
                t0 = time.monotonic()
                status, _ = server.request("/api/run")
                canary.append((status, time.monotonic() - t0))
                time.sleep(0.05)

        def one(i):
            if i % 50 == 7:
                return ("slow client", slow_request(server, "/api/spectrum/%d" % (i % SCANS), 0.02), 200)
            if i % 100 == 13:
                # Stalls halfway: at the request's deadline the server answers 408
                # and closes.
                got = slow_request(server, "/api/run", 0.01, stall=True)
                return ("stalled client", got, got if got in (408, None) else 408)
            name, path, token, host, status = table[i % len(table)]
            if "%d" in path:
                path = path % ((i * 7919) % SCANS)
            got, _ = server.request(path, token=token, host=host)
            return (name, got, status)

        watcher = threading.Thread(target=ask_meanwhile)
        watcher.start()
        t0 = time.monotonic()
        try:
            with concurrent.futures.ThreadPoolExecutor(CONNECTIONS) as pool:
                results = list(pool.map(one, range(REQUESTS)))
        finally:
            stop.set()
            watcher.join()
        elapsed = time.monotonic() - t0

        wrong = [r for r in results if r[1] != r[2]]
        self.assertEqual(wrong, [])
        self.assertEqual(len(results), REQUESTS)
        # The server lives, answered the run throughout, and its memory is bounded:
        # a spectrum cache of 64 MiB at most, beside what was there at the start.
        self.assertIsNone(server.process.poll())
        self.assertTrue(canary and all(status == 200 for status, _ in canary))
        slowest = max(seconds for _, seconds in canary)
        self.assertLess(slowest, 3.0)
        grown_mib = (server.rss_kib() - started) / 1024
        self.assertLess(grown_mib, 200)
        print("load: %d requests in %.1f s, %d canary requests (slowest %.0f ms), RSS +%.0f MiB"
              % (REQUESTS, elapsed, len(canary), slowest * 1000, grown_mib))


class Crowd:
    """`idle` connections that send nothing and `dripping` ones that send a
    request's head a byte every 2 s, each opened again (with `reopen`) when
    the server closes it, while `hold` runs."""

    def __init__(self, server, idle, dripping, reopen=True):
        self.server, self.idle, self.dripping, self.reopen = server, idle, dripping, reopen
        self.head = ("GET /api/run HTTP/1.1\r\nHost: %s\r\nX-Velmoran-Token: %s\r\nX-Pad: %s\r\n\r\n"
                     % (server.host, server.token, "a" * 40)).encode()
        self.reopened = 0
        self.closed_after = []  # seconds from the start to each close by the server
        self.stop = threading.Event()

    def open(self):
        sock = socket.socket()
        sock.setblocking(False)
        sock.connect_ex(("127.0.0.1", self.server.port))
        return sock

    def hold(self):
        selector = selectors.DefaultSelector()
        clients = {}  # socket -> [bytes sent, next send time or None]
        now = start = time.monotonic()
        for i in range(self.idle + self.dripping):
            sock = self.open()
            clients[sock] = [0, now + 2 if i < self.dripping else None]
            selector.register(sock, selectors.EVENT_READ)
        while not self.stop.is_set():
            for key, _ in selector.select(timeout=0.2):
                sock = key.fileobj
                try:
                    data = sock.recv(65536)
                except (BlockingIOError, InterruptedError):
                    continue
                except OSError:
                    data = b""
                if data:
                    continue  # a 408 before the close
                self.closed_after.append(time.monotonic() - start)
                state = clients.pop(sock)
                selector.unregister(sock)
                sock.close()
                if not self.reopen:
                    continue
                fresh = self.open()
                clients[fresh] = [0, time.monotonic() + 2 if state[1] is not None else None]
                selector.register(fresh, selectors.EVENT_READ)
                self.reopened += 1
            now = time.monotonic()
            for sock, state in clients.items():
                if state[1] is not None and now >= state[1]:
                    try:
                        sock.send(self.head[state[0]:state[0] + 1])
                        state[0] = (state[0] + 1) % (len(self.head) - 4)
                    except OSError:
                        pass
                    state[1] = now + 2
        for sock in clients:
            sock.close()


class CrowdTest(unittest.TestCase):
    SECONDS = 12  # two of the server's 5-s request deadlines

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.run_path = make_run(MKDATASET, os.path.join(self.tmp.name, "crowd.d"), "synth", "--ms1", "60",
                                 "--ms2", "120", "--points", "20000", "--peaks", "300", "--seed", "33")

    def crowd_while_asking(self, server, idle, dripping, extractors, reopen=True):
        crowd = Crowd(server, idle, dripping, reopen)
        holder = threading.Thread(target=crowd.hold)
        holder.start()
        stop = threading.Event()

        def extract():
            while not stop.is_set():
                server.request(xic_query([301.5 + i for i in range(100)], 20), timeout=60)

        workers = [threading.Thread(target=extract) for _ in range(extractors)]
        for worker in workers:
            worker.start()
        times = []
        try:
            time.sleep(1.0)  # the crowd connected
            t_end = time.monotonic() + self.SECONDS
            while time.monotonic() < t_end:
                t0 = time.monotonic()
                status, body = server.request("/api/run", timeout=10)
                times.append(time.monotonic() - t0)
                self.assertEqual(status, 200)
                time.sleep(0.1)
        finally:
            crowd.stop.set()
            stop.set()
            holder.join()
            for worker in workers:
                worker.join()
        self.assertIsNone(server.process.poll())
        print("crowd of %d idle, %d dripping, %d extracting: %d requests, slowest %.0f ms, %d reopened"
              % (idle, dripping, extractors, len(times), max(times) * 1000, crowd.reopened))
        return times, crowd

    def test_a_valid_client_is_answered_within_a_second_among_idle_and_dripping_ones(self):
        server = ViewServer(VELMORAN, self.run_path)
        try:
            times, crowd = self.crowd_while_asking(server, 200, 50, 3)
        finally:
            code, _, err = server.stop()
        self.assertEqual(code, 0, err)
        self.assertLess(max(times), 1.0)
        # Dripping and idle connections were closed at their deadline, not held.
        self.assertGreaterEqual(crowd.reopened, 250)

    def test_clients_that_do_not_read_their_answers_hold_up_no_one(self):
        server = ViewServer(VELMORAN, self.run_path)
        readers = []
        try:
            # 40 connections, more than the server has threads, each asking
            # for the scan table 20 times and reading nothing.
            request = ("GET /api/scans HTTP/1.1\r\nHost: %s\r\nX-Velmoran-Token: %s\r\n\r\n"
                       % (server.host, server.token)).encode() * 20
            for _ in range(40):
                sock = socket.socket()
                sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, 1024)
                sock.connect(("127.0.0.1", server.port))
                sock.sendall(request)
                readers.append(sock)
            time.sleep(0.5)
            times = []
            for _ in range(10):
                t0 = time.monotonic()
                self.assertEqual(server.request("/api/run", timeout=20)[0], 200)
                times.append(time.monotonic() - t0)
        finally:
            for sock in readers:
                sock.close()
            code, _, err = server.stop()
        self.assertEqual(code, 0, err)
        self.assertLess(max(times), 1.0)

    def test_idle_connections_make_room_when_descriptors_run_short(self):
        limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (128, 128))
        server = ViewServer(VELMORAN, self.run_path, preexec_fn=limit)
        try:
            # Not reopened: each newcomer would close another, without end.
            times, crowd = self.crowd_while_asking(server, 200, 0, 0, reopen=False)
        finally:
            code, _, err = server.stop()
        self.assertEqual(code, 0, err)
        self.assertLess(max(times), 1.0)
        # About 100 of the 200 found no room (128 descriptors) and were closed
        # at once, well before their deadline; the rest at it.
        early = sum(1 for t in crowd.closed_after if t < 3.0)
        self.assertGreaterEqual(early, 90)
        self.assertEqual(len(crowd.closed_after), 200)


def read_answer(sock, pause=0.0, chunk=1 << 20):
    """(status, body) of the one answer on `sock`, read until the server
    closes, `chunk` bytes at a time with `pause` seconds between reads."""
    data = bytearray()
    while True:
        try:
            got = sock.recv(chunk)
        except (ConnectionResetError, socket.timeout):
            break
        if not got:
            break
        data += got
        time.sleep(pause)
    head, _, body = bytes(data).partition(b"\r\n\r\n")
    return (int(head.split(b" ", 2)[1]) if head else None), body


class HeldAnswersTest(unittest.TestCase):
    """Answers of 16 MiB (the largest map) to clients that read slowly or
    not at all: the bytes held for them stay within the server's bound, and
    a download given with the token is never closed to make room."""
    MAP = "/api/map?width=4096&height=1024"
    MAP_BYTES = 4 * 4096 * 1024
    HELD_MIB = 256  # the documented bound

    def setUp(self):
        self.tmp = tempfile.TemporaryDirectory()
        self.addCleanup(self.tmp.cleanup)
        self.run_path = make_run(MKDATASET, os.path.join(self.tmp.name, "held.d"), "synth", "--ms1", "20",
                                 "--ms2", "20", "--points", "2000", "--peaks", "50", "--seed", "37")

    def ask(self, server, rcvbuf=None):
        sock = socket.socket()
        if rcvbuf:
            sock.setsockopt(socket.SOL_SOCKET, socket.SO_RCVBUF, rcvbuf)
        sock.settimeout(20)
        sock.connect(("127.0.0.1", server.port))
        sock.sendall(("GET %s HTTP/1.1\r\nHost: %s\r\nX-Velmoran-Token: %s\r\nConnection: close\r\n\r\n"
                      % (self.MAP, server.host, server.token)).encode())
        return sock

    def test_answers_not_yet_read_hold_a_bounded_memory(self):
        server = ViewServer(VELMORAN, self.run_path)
        socks = []
        try:
            self.assertEqual(server.request(self.MAP)[0], 200)
            warm = peak = server.rss_kib()
            socks = [self.ask(server, rcvbuf=4096) for _ in range(60)]
            t_end = time.monotonic() + 3.0
            while time.monotonic() < t_end:
                peak = max(peak, server.rss_kib())
                time.sleep(0.02)
            with concurrent.futures.ThreadPoolExecutor(len(socks)) as pool:
                answers = list(pool.map(read_answer, socks))
        finally:
            for sock in socks:
                sock.close()
            code, _, err = server.stop()
        self.assertEqual(code, 0, err)
        whole = sum(1 for status, body in answers if status == 200 and len(body) == self.MAP_BYTES)
        busy = sum(1 for status, body in answers if status == 503 and b"busy" in body)
        self.assertEqual(whole + busy, len(answers), [(s, len(b)) for s, b in answers])
        self.assertGreater(whole, 0)
        grown_mib = (peak - warm) / 1024
        # The held answers, and the grids being made (cells and bytes, 32 MiB each).
        self.assertLess(grown_mib, self.HELD_MIB + 64)
        print("held: 60 clients of a 16 MiB map not reading: %d answered whole, %d told busy, RSS +%.0f MiB"
              % (whole, busy, grown_mib))

    def test_a_download_with_the_token_is_never_closed_to_make_room(self):
        limit = lambda: resource.setrlimit(resource.RLIMIT_NOFILE, (128, 128))
        server = ViewServer(VELMORAN, self.run_path, preexec_fn=limit)
        stop = threading.Event()

        # Connections without the token, opened again as fast as the server
        # closes them, while the download runs.
        def crowd():
            selector = selectors.DefaultSelector()
            while not stop.is_set():
                while len(selector.get_map()) < 300:
                    sock = socket.socket()
                    sock.setblocking(False)
                    sock.connect_ex(("127.0.0.1", server.port))
                    selector.register(sock, selectors.EVENT_READ)
                for key, _ in selector.select(timeout=0.05):
                    selector.unregister(key.fileobj)
                    key.fileobj.close()
            for key in list(selector.get_map().values()):
                key.fileobj.close()

        try:
            sock = self.ask(server)
            crowder = threading.Thread(target=crowd)
            crowder.start()
            try:
                status, body = read_answer(sock, pause=0.5, chunk=2 << 20)
            finally:
                stop.set()
                crowder.join()
                sock.close()
        finally:
            code, _, err = server.stop()
        self.assertEqual(code, 0, err)
        self.assertEqual((status, len(body)), (200, self.MAP_BYTES))


class MapLoadTest(unittest.TestCase):
    """Clients panning and zooming the map (grids of up to 4096 × 1024 cells
    over random ranges and levels) while the run is asked for: memory stays
    bounded and the run is answered within a second."""
    SECONDS = 15
    CLIENTS = 4

    def test_panning_and_zooming_the_map_keeps_memory_bounded(self):
        import random
        with tempfile.TemporaryDirectory() as tmp:
            run = make_run(MKDATASET, os.path.join(tmp, "map.d"), "synth", "--ms1", "100", "--ms2", "200",
                           "--points", "20000", "--peaks", "300", "--seed", "35")
            server = ViewServer(VELMORAN, run)
            try:
                # Every scan read once: what the map keeps of them is in memory.
                self.assertEqual(server.request("/api/map?width=1000&height=600")[0], 200)
                self.assertEqual(server.request("/api/map?width=1000&height=600&ms_level=2")[0], 200)
                warm = server.rss_kib()
                stop = threading.Event()
                answered = []

                def pan(seed):
                    rng = random.Random(seed)
                    while not stop.is_set():
                        rt = sorted(rng.uniform(0, 60) for _ in range(2))
                        mz = sorted(rng.uniform(50, 1800) for _ in range(2))
                        width, height = rng.choice([(1000, 600), (4096, 1024), (300, 200), (2000, 2000)])
                        path = "/api/map?width=%d&height=%d&ms_level=%d" % (width, height, rng.choice([1, 1, 2]))
                        if rng.random() < 0.7:
                            path += "&rt=%r:%r&mz=%r:%r" % (rt[0], rt[1] + 1e-3, mz[0], mz[1] + 1e-3)
                        status, body = server.request(path, timeout=60)
                        answered.append(status == 200 and len(body) == 4 * width * height)

                clients = [threading.Thread(target=pan, args=(i,)) for i in range(self.CLIENTS)]
                for client in clients:
                    client.start()
                times, peak = [], warm
                try:
                    t_end = time.monotonic() + self.SECONDS
                    while time.monotonic() < t_end:
                        t0 = time.monotonic()
                        self.assertEqual(server.request("/api/run", timeout=10)[0], 200)
                        times.append(time.monotonic() - t0)
                        peak = max(peak, server.rss_kib())
                        time.sleep(0.1)
                finally:
                    stop.set()
                    for client in clients:
                        client.join()
                self.assertTrue(answered and all(answered))
                self.assertLess(max(times), 1.0)
                # Each grid in flight (the cells and the answer's bytes, 16 MiB
                # each at most) and nothing kept beyond the scans.
                grown_mib = (peak - warm) / 1024
                self.assertLess(grown_mib, 200)
                print("map: %d grids, /api/run slowest %.0f ms, RSS %.0f MiB warm, +%.0f MiB at the peak"
                      % (len(answered), max(times) * 1000, warm / 1024, grown_mib))
            finally:
                code, _, err = server.stop()
            self.assertEqual(code, 0, err)


if __name__ == "__main__":
    unittest.main()
