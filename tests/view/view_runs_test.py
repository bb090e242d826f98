"""velmoran view with several runs: /api/runs, each run's routes under
/api/run/K/ against `velmoran info`/`scans`/`xic` of that run and the
writer's spectra, run 0 at the single-run routes, positions that name no
run, the token and Host checks on the new routes, a run that cannot be
opened among good ones, the same run twice, the limit of 32 runs, and one
memory budget for the maps of all the runs.

Environment: VELMORAN (the program) and VELMORAN_MKDATASET (the generator).
"""
import json
import os
import shutil
import subprocess
import tempfile
import unittest

from view_server import ViewServer, make_run, velmoran_from_env, xic_query

VELMORAN, MKDATASET = velmoran_from_env()

TMP = None
RUNS = []  # (path, expected scans of the writer)


def command_json(*args):
    return json.loads(subprocess.run([VELMORAN, *args], check=True, capture_output=True, text=True).stdout)


def setUpModule():
    global TMP
    TMP = tempfile.TemporaryDirectory()
    specs = [
        ("first.d", ["synth", "--ms1", "3", "--ms2", "6", "--points", "300", "--peaks", "20", "--seed", "31"]),
        ("second.d", ["synth", "--ms1", "5", "--ms2", "5", "--points", "400", "--peaks", "15", "--layout", "220",
                      "--seed", "32"]),
        ("third.d", ["mrm", "--scans", "9", "--seed", "33"]),
    ]
    for name, args in specs:
        path = os.path.join(TMP.name, name)
        expect = os.path.join(TMP.name, name + ".json")
        make_run(MKDATASET, path, *args, "--expect", expect)
        with open(expect) as f:
            RUNS.append((path, json.load(f)["scans"]))


def tearDownModule():
    TMP.cleanup()


class RunsTest(unittest.TestCase):
    def get(self, server, path):
        status, body = server.request(path)
        return status, json.loads(body)

    def test_each_run_answers_its_own_data_and_run_0_the_single_routes(self):
        paths = [p for p, _ in RUNS]
        with ViewServer(VELMORAN, *paths) as server:
            status, runs = self.get(server, "/api/runs")
            self.assertEqual(status, 200)
            self.assertEqual(runs, [{"run": k, "name": os.path.basename(p), "path": p,
                                     "scans": len(expected), "error": None}
                                    for k, (p, expected) in enumerate(RUNS)])
            for k, (path, expected) in enumerate(RUNS):
                with self.subTest(run=k):
                    base = "/api/run/%d/" % k
                    self.assertEqual(self.get(server, base + "info"), (200, command_json("info", path, "--json")))
                    self.assertEqual(self.get(server, base + "scans"),
                                     (200, command_json("scans", path, "--format", "json")))
                    self.assertEqual(self.get(server, base + "chromatograms"),
                                     (200, command_json("chromatograms", path, "--format", "json")))
                    last = len(expected) - 1
                    status, spectrum = self.get(server, base + "spectrum/%d" % last)
                    self.assertEqual((status, spectrum["scan_id"], spectrum["mz"]),
                                     (200, expected[last]["scan_id"], expected[last]["mz"]))
                    self.assertEqual(self.get(server, base + "spectrum/%d" % len(expected))[0], 404)
                    level = min(s["ms_level"] for s in expected)
                    scan = next(s for s in expected if s["ms_level"] == level)
                    self.assertEqual(
                        self.get(server, base[:-1] + xic_query([scan["mz"][2]], 20, level)[4:]),
                        (200, command_json("xic", path, "--mz", repr(scan["mz"][2]), "--ppm", "20",
                                           "--ms-level", str(level), "--format", "json")))
            # The single-run routes are run 0's.
            for single, per_run in (("/api/run", "/api/run/0/info"), ("/api/scans", "/api/run/0/scans"),
                                    ("/api/spectrum/4", "/api/run/0/spectrum/4"),
                                    ("/api/chromatograms", "/api/run/0/chromatograms"),
                                    (xic_query([500.5], 10), "/api/run/0" + xic_query([500.5], 10)[4:]),
                                    ("/api/map?width=50&height=40", "/api/run/0/map?width=50&height=40")):
                with self.subTest(single=single):
                    self.assertEqual(server.request(single), server.request(per_run))

    def test_each_runs_map_is_the_map_of_that_run_served_alone(self):
        query = "map?width=64&height=48"
        with ViewServer(VELMORAN, *[p for p, _ in RUNS]) as server:
            answers = [server.request_with_headers("/api/run/%d/%s" % (k, query))
                       for k in range(len(RUNS))]
        # Runs of different grids, or the test proves nothing.
        self.assertEqual(len({body for _, body, _ in answers}), len(RUNS))
        for k, (path, _) in enumerate(RUNS):
            with self.subTest(run=k), ViewServer(VELMORAN, path) as alone:
                status, body, headers = alone.request_with_headers("/api/" + query)
                self.assertEqual((answers[k][0], answers[k][1]), (status, body))
                self.assertEqual(answers[k][2]["X-Velmoran-Map-Rt"], headers["X-Velmoran-Map-Rt"])

    def test_the_maps_of_all_the_runs_keep_one_budget(self):
        # Four runs of 48 MB of survey points each (hard-linked copies) and a
        # budget of 16 MiB for all of them (--map-memory, here through its
        # environment variable): the server grows by about the budget, not
        # by the runs' points.
        big = make_run(MKDATASET, os.path.join(TMP.name, "big.d"), "synth", "--ms1", "400", "--ms2", "0",
                       "--points", "30000", "--seed", "34")
        paths = [big]
        for k in range(1, 4):
            copy = os.path.join(TMP.name, "big%d.d" % k)
            shutil.copytree(big, copy, copy_function=os.link, dirs_exist_ok=True)
            paths.append(copy)
        query = "map?width=400&height=1000"
        env = dict(os.environ, VELMORAN_VIEW_MAP_MEMORY="16")
        with ViewServer(VELMORAN, *paths, env=env) as server:
            first = server.request("/api/run/0/" + query)
            before = server.rss_kib()
            answers = [server.request("/api/run/%d/%s" % (k, query)) for k in (1, 2, 3, 0, 1, 2, 3)]
            grown = (server.rss_kib() - before) / 1024
        # The same grid from every copy, whatever was dropped from memory.
        self.assertEqual({a for a in answers}, {first})
        self.assertEqual(first[0], 200)
        self.assertLess(grown, 32, "MiB grown past the first run's map")

    def test_positions_that_name_no_run_are_404_with_a_message(self):
        paths = [p for p, _ in RUNS[:2]]
        with ViewServer(VELMORAN, *paths) as server:
            for path in ("/api/run/2/info", "/api/run/-1/info", "/api/run/01/info", "/api/run/+1/scans",
                         "/api/run/1.0/info", "/api/run/0x1/info", "/api/run/%201/info",
                         "/api/run/99999999999999999999/info", "/api/run/ 1/info",
                         "/api/run/1/nothing", "/api/run//info", "/api/run/0/../0/info", "/api/runs/0"):
                with self.subTest(path=path):
                    status, body = server.request(path.replace(" ", "%20"))
                    self.assertEqual(status, 404, body)
                    self.assertIsInstance(json.loads(body)["error"], str)
            # Escapes decode before routing, as for every path.
            self.assertEqual(server.request("/api/run/%31/info"), server.request("/api/run/1/info"))

    def test_token_and_host_are_checked_on_the_new_routes(self):
        with ViewServer(VELMORAN, RUNS[0][0], RUNS[1][0]) as server:
            for path in ("/api/runs", "/api/run/1/info", "/api/run/1/scans", "/api/run/1/spectrum/0",
                         "/api/run/1/xic?mz=500&ppm=10", "/api/run/1/chromatograms", "/api/run/7/info"):
                for token, host in ((False, None), ("0" * 64, None), (True, "rebound.example:%d" % server.port)):
                    with self.subTest(path=path, token=bool(token), host=host):
                        status, body = server.request(path, token=token, host=host)
                        self.assertEqual(status, 403)
                        self.assertNotIn(b"second", body)

    def test_a_run_that_cannot_be_opened_keeps_its_place_and_the_others_are_served(self):
        broken = os.path.join(TMP.name, "broken.d")
        os.makedirs(broken, exist_ok=True)
        server = ViewServer(VELMORAN, broken, RUNS[1][0])
        try:
            status, runs = self.get(server, "/api/runs")
            self.assertEqual([(r["run"], r["name"], r["scans"]) for r in runs],
                             [(0, "broken.d", None), (1, "second.d", len(RUNS[1][1]))])
            self.assertIn("AcqData directory not found", runs[0]["error"])
            for path in ("/api/run", "/api/run/0/scans", "/api/spectrum/0"):
                status, body = self.get(server, path)
                self.assertEqual(status, 404)
                self.assertIn("run 0 (broken.d) could not be opened", body["error"])
            self.assertEqual(self.get(server, "/api/run/1/info")[1]["name"], "second.d")
        finally:
            code, _, err = server.stop()
        self.assertEqual(code, 0)
        self.assertEqual(err, "velmoran: %s: parse error: AcqData directory not found\n" % broken)

    def test_the_same_run_twice_is_served_once(self):
        first = RUNS[0][0]
        server = ViewServer(VELMORAN, first, RUNS[1][0], first + "/", os.path.relpath(first))
        try:
            status, runs = self.get(server, "/api/runs")
            self.assertEqual([r["name"] for r in runs], ["first.d", "second.d"])
            self.assertEqual(self.get(server, "/api/run/2/info")[0], 404)
        finally:
            code, _, err = server.stop()
        self.assertEqual(code, 0)
        self.assertEqual(err.count("the same run as run 0"), 2, err)

    def test_33_runs_are_a_usage_error_and_32_are_served(self):
        paths = [p for p, _ in RUNS]
        # Links to the three runs: distinct paths, 11 of each.
        links = []
        for i in range(33):
            link = os.path.join(TMP.name, "link%02d.d" % i)
            if not os.path.exists(link):
                os.symlink(paths[i % 3], link)
            links.append(link)
        proc = subprocess.run([VELMORAN, "view", *links, "--no-open"], capture_output=True, text=True,
                              timeout=30)
        self.assertEqual((proc.returncode, proc.stdout), (2, ""))
        self.assertIn("at most 32 runs at once, 33 given", proc.stderr)
        # 32 different runs: the three and 29 small ones, each answering its own.
        more = []
        for i in range(29):
            more.append(make_run(MKDATASET, os.path.join(TMP.name, "small%02d.d" % i), "synth", "--ms1", "2",
                                 "--ms2", "2", "--points", "50", "--peaks", "5", "--seed", str(100 + i)))
        server = ViewServer(VELMORAN, *paths, *more)
        try:
            status, runs = self.get(server, "/api/runs")
            self.assertEqual([r["path"] for r in runs], paths + more)
            for k in (3, 31):
                self.assertEqual(self.get(server, "/api/run/%d/info" % k)[1]["path"], more[k - 3])
            self.assertEqual(self.get(server, "/api/run/32/info")[0], 404)
        finally:
            code, _, err = server.stop()
        self.assertEqual((code, err), (0, ""))

    def test_no_run_that_can_be_opened_is_exit_1(self):
        proc = subprocess.run([VELMORAN, "view", os.path.join(TMP.name, "none1.d"),
                               os.path.join(TMP.name, "none2.d"), "--no-open"],
                              capture_output=True, text=True, timeout=30)
        self.assertEqual((proc.returncode, proc.stdout, proc.stderr.count("\n")), (1, "", 2))


if __name__ == "__main__":
    unittest.main()
