"""velmoran view: the JSON API against the commands it mirrors and the
writer's expected spectra, for every scan-table layout; a scan whose files
were cut under the server; the token and Host checks; the command's line,
signals and failures.

Environment: VELMORAN (the program) and VELMORAN_MKDATASET (the generator).
"""
import json
import os
import signal
import struct
import subprocess
import tempfile
import unittest

from view_server import ViewServer, make_run, velmoran_from_env, xic_query

VELMORAN, MKDATASET = velmoran_from_env()

LAYOUTS = {
    "synth284": ["synth", "--ms1", "4", "--ms2", "8", "--points", "600", "--peaks", "30", "--layout", "284", "--seed", "11"],
    "synth220": ["synth", "--ms1", "3", "--ms2", "6", "--peaks", "25", "--layout", "220", "--seed", "12"],
    "synth216": ["synth", "--ms1", "3", "--ms2", "6", "--peaks", "25", "--layout", "216", "--seed", "13"],
    "mrm196": ["mrm", "--scans", "8", "--layout", "196", "--seed", "14"],
    "mrm186": ["mrm", "--scans", "8", "--layout", "186", "--seed", "15"],
}


def float32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def command_json(*args):
    return json.loads(subprocess.run([VELMORAN, *args], check=True, capture_output=True, text=True).stdout)


class Runs:
    def __init__(self):
        self.dir = tempfile.TemporaryDirectory()
        self.runs = {}
        for name, args in LAYOUTS.items():
            path = os.path.join(self.dir.name, name + ".d")
            expect = os.path.join(self.dir.name, name + ".json")
            make_run(MKDATASET, path, *args, "--expect", expect)
            with open(expect) as f:
                self.runs[name] = (path, json.load(f)["scans"])


RUNS = None


def setUpModule():
    global RUNS
    RUNS = Runs()


def tearDownModule():
    RUNS.dir.cleanup()


class ApiTest(unittest.TestCase):
    def get_json(self, server, path):
        status, body = server.request(path)
        self.assertEqual(status, 200, body)
        return json.loads(body)

    def test_every_route_matches_its_command_and_the_written_spectra(self):
        for name, (path, expected) in RUNS.runs.items():
            with self.subTest(run=name), ViewServer(VELMORAN, path) as server:
                self.assertEqual(self.get_json(server, "/api/run"), command_json("info", path, "--json"))
                self.assertEqual(self.get_json(server, "/api/scans"),
                                 command_json("scans", path, "--format", "json"))
                for index, scan in enumerate(expected):
                    got = self.get_json(server, "/api/spectrum/%d" % index)
                    profile = name == "synth284" and scan["ms_level"] == 1
                    self.assertEqual(
                        (got["index"], got["scan_id"], got["ms_level"], got["rt_sec"], got["precursor_mz"],
                         got["centroided"], got["mz"], [float32(x) for x in got["intensity"]]),
                        (index, scan["scan_id"], scan["ms_level"], scan["retention_time_sec"],
                         scan.get("precursor_mz") if "mrm_channel" not in scan else None,
                         (not profile) if scan["mz"] else None, scan["mz"], scan["intensity"]))
                status, body = server.request("/api/spectrum/%d" % len(expected))
                self.assertEqual((status, "error" in json.loads(body)), (404, True))
                # Two targets at points of a scan of the lowest level, one twice.
                level = min(s["ms_level"] for s in expected)
                first = next(s for s in expected if s["ms_level"] == level)
                targets = [first["mz"][3], first["mz"][7], first["mz"][3]]
                self.assertEqual(
                    self.get_json(server, xic_query(targets, 15, level)),
                    command_json("xic", path, *sum((["--mz", repr(m)] for m in targets), []),
                                 "--ppm", "15", "--ms-level", str(level), "--format", "json"))
                # The same in Da, as the command's --da takes it.
                self.assertEqual(
                    self.get_json(server, xic_query(targets, 0.02, level, unit="da")),
                    command_json("xic", path, *sum((["--mz", repr(m)] for m in targets), []),
                                 "--da", "0.02", "--ms-level", str(level), "--format", "json"))

    def test_bad_parameters_are_400_with_a_message(self):
        path, expected = RUNS.runs["synth216"]
        cases = [
            ("/api/spectrum/abc", 400),
            ("/api/spectrum/-1", 400),
            ("/api/spectrum/1e3", 400),
            ("/api/spectrum/", 400),
            ("/api/spectrum/99999999999999999999999999", 404),
            ("/api/xic?ppm=10", 400),
            ("/api/xic?mz=500", 400),
            ("/api/xic?mz=500&ppm=0", 400),
            ("/api/xic?mz=500&ppm=nan", 400),
            ("/api/xic?mz=500&ppm=10&ppm=20", 400),
            ("/api/xic?mz=-3&ppm=10", 400),
            ("/api/xic?mz=1e400&ppm=10", 400),
            ("/api/xic?mz=1e300&ppm=1e10", 400),
            ("/api/xic?mz=1.7e308&ppm=1e6", 400),
            ("/api/xic?mz=500&ppm=10&ms_level=-1", 400),
            ("/api/xic?mz=500&ppm=10&ms_level=x", 400),
            ("/api/xic?mz=500&ppm=10&rt=1", 400),
            # A tolerance in Da instead: exactly one of ppm and da.
            ("/api/xic?mz=500&da=0", 400),
            ("/api/xic?mz=500&da=-0.5", 400),
            ("/api/xic?mz=500&da=nan", 400),
            ("/api/xic?mz=500&da=inf", 400),
            ("/api/xic?mz=500&da=1e400", 400),
            ("/api/xic?mz=500&da=", 400),
            ("/api/xic?mz=500&da=0.5&da=0.5", 400),
            ("/api/xic?mz=500&da=0.5&ppm=10", 400),
            ("/api/xic?mz=500&ppm=10&da=0.5", 400),
            ("/api/xic?mz=1.7e308&da=1e307", 400),
            ("/api/xic?mz=500&da=0.5", 200),
            (xic_query([500.0] * 101, 10), 400),
            (xic_query([500.0] * 100, 10), 200),
            # 1e308 * 10 overflows; the window 1e308 +- 1e303 holds no point.
            ("/api/xic?mz=1e308&ppm=10", 200),
            ("/api/nothing", 404),
            ("/assets/../../etc/passwd", 404),
            ("/assets/index.html", 404),
        ]
        with ViewServer(VELMORAN, path) as server:
            for query, status in cases:
                with self.subTest(query=query[:60]):
                    got, body = server.request(query)
                    self.assertEqual(got, status, body[:200])
                    if status != 200:
                        self.assertIsInstance(json.loads(body)["error"], str)
                    elif "1e308" in query:
                        rows = json.loads(body)
                        self.assertTrue(rows)
                        self.assertEqual({row["intensity"] for row in rows}, {0})


    def test_a_scan_whose_files_were_cut_under_the_server_answers_its_error(self):
        with tempfile.TemporaryDirectory() as tmp:
            path = os.path.join(tmp, "cut.d")
            make_run(MKDATASET, path, *LAYOUTS["synth284"], "--expect", path + ".json")
            with open(path + ".json") as f:
                expected = json.load(f)["scans"]
            files = [os.path.join(path, "AcqData", name) for name in ("MSPeak.bin", "MSProfile.bin")]
            whole = {}
            for name in files:
                with open(name, "rb") as f:
                    whole[name] = f.read()
            with ViewServer(VELMORAN, path) as server:
                for name in files:
                    os.truncate(name, len(whole[name]) // 2)
                answers = [server.request("/api/spectrum/%d" % i) for i in range(len(expected))]
                for name in files:
                    with open(name, "wb") as f:
                        f.write(whole[name])
                # Put back, every scan reads again: a failed read is not kept.
                again = [json.loads(server.request("/api/spectrum/%d" % i)[1])["mz"] for i in range(len(expected))]
            self.assertEqual(again, [s["mz"] for s in expected])
            failed = 0
            for index, ((status, body), scan) in enumerate(zip(answers, expected)):
                with self.subTest(index=index):
                    got = json.loads(body)
                    if status == 200:
                        self.assertEqual(got["mz"], scan["mz"])
                    else:
                        failed += 1
                        self.assertEqual((status, got), (500, {
                            "error": "could not be read: I/O error: failed to fill whole buffer",
                            "index": index, "scan_id": scan["scan_id"]}))
            self.assertTrue(0 < failed < len(expected), failed)


class AccessTest(unittest.TestCase):
    def test_token_and_host_are_required_on_every_route(self):
        path, _ = RUNS.runs["synth284"]
        with ViewServer(VELMORAN, path) as server:
            port, token = server.port, server.token
            other = "0" * 64 if token != "0" * 64 else "1" * 64
            cases = [
                ("right token and host", True, None, "", 200),
                ("localhost", True, "localhost:%d" % port, "", 200),
                ("localhost in capitals", True, "LOCALHOST:%d" % port, "", 200),
                ("token in the query", False, None, "?token=" + token, 200),
                ("no token", False, None, "", 403),
                ("wrong token", other, None, "", 403),
                ("token prefix", token[:32], None, "", 403),
                ("wrong token in the query", False, None, "?token=" + other, 403),
                ("rebinding host", True, "attacker.example:%d" % port, "", 403),
                ("host without port", True, "127.0.0.1", "", 403),
                ("host with another port", True, "127.0.0.1:%d" % (port + 1 if port < 65535 else 1), "", 403),
                ("empty host", True, " ", "", 403),
            ]
            for route in ("/", "/assets/main.js", "/api/run", "/api/scans", "/api/spectrum/0",
                          "/api/xic?mz=500&ppm=10", "/api/nothing"):
                for label, sent_token, host, query, status in cases:
                    with self.subTest(route=route, case=label):
                        joined = route + (query if "?" not in route else query.replace("?", "&"))
                        got, body = server.request(joined, token=sent_token, host=host)
                        if status == 403:
                            self.assertEqual(got, 403)
                            self.assertNotIn(b"synth284", body)
                        else:
                            self.assertIn(got, (200, 404) if route == "/api/nothing" else (200,))


class CommandTest(unittest.TestCase):
    def test_one_url_line_and_a_clean_stop_on_each_signal(self):
        path, _ = RUNS.runs["mrm186"]
        for sig in (signal.SIGINT, signal.SIGTERM):
            with self.subTest(signal=sig.name):
                server = ViewServer(VELMORAN, path)
                self.assertEqual(server.request("/api/run")[0], 200)
                code, rest, err = server.stop(sig)
                self.assertEqual((code, rest, err), (0, "", ""))

    def test_a_run_that_cannot_be_opened_is_exit_1_with_the_library_error(self):
        with tempfile.TemporaryDirectory() as tmp:
            proc = subprocess.run([VELMORAN, "view", tmp, "--no-open"], capture_output=True, text=True,
                                  timeout=30)
            self.assertEqual((proc.returncode, proc.stdout, proc.stderr),
                             (1, "", "velmoran: %s: parse error: AcqData directory not found\n" % tmp))

    def test_another_bind_address_warns_and_is_accepted_as_host(self):
        path, _ = RUNS.runs["mrm196"]
        server = ViewServer(VELMORAN, path, "--bind", "127.0.0.2")
        try:
            self.assertEqual(server.host, "127.0.0.2:%d" % server.port)
            self.assertEqual(server.request("/api/run")[0], 200)
        finally:
            code, _, err = server.stop()
        self.assertEqual(code, 0)
        self.assertIn("velmoran: warning: serving on 127.0.0.2", err)

    def test_a_taken_port_is_exit_1(self):
        path, _ = RUNS.runs["mrm196"]
        with ViewServer(VELMORAN, path) as server:
            proc = subprocess.run([VELMORAN, "view", path, "--no-open", "--port", str(server.port)],
                                  capture_output=True, text=True, timeout=30)
            self.assertEqual((proc.returncode, proc.stdout), (1, ""))
            self.assertIn("cannot listen on 127.0.0.1:%d" % server.port, proc.stderr)


if __name__ == "__main__":
    unittest.main()
