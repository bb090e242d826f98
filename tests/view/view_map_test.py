"""velmoran view's /api/map against a binning of the same spectra in numpy:
the writer's expected spectra for every scan-table layout and level, the
edge cells (points and scans exactly on a cell's edge, on the upper bound
of the last cell, just outside the range), a damaged run (read through
/api/spectrum), a level without scans, the grid's headers and bad
parameters, and a run damaged to extremes (m/z of +-1e308, an infinite
intensity, scans of MS level 0).

Environment: VELMORAN, VELMORAN_MKDATASET. Run with Debian's /usr/bin/python3
(numpy).
"""
import json
import math
import os
import struct
import tempfile
import unittest
import urllib.parse

import numpy as np

from view_server import ViewServer, make_run, velmoran_from_env

VELMORAN, MKDATASET = velmoran_from_env()

LAYOUTS = {
    "synth284": ["synth", "--ms1", "6", "--ms2", "12", "--points", "700", "--peaks", "30", "--layout", "284", "--seed", "41"],
    "synth220": ["synth", "--ms1", "5", "--ms2", "9", "--peaks", "25", "--layout", "220", "--seed", "42"],
    "synth216": ["synth", "--ms1", "5", "--ms2", "9", "--peaks", "25", "--layout", "216", "--seed", "43"],
    "mrm196": ["mrm", "--scans", "12", "--layout", "196", "--seed", "44"],
    "mrm186": ["mrm", "--scans", "12", "--layout", "186", "--seed", "45"],
}


def edges(lo, hi, cells):
    e = lo + (hi - lo) * np.arange(cells + 1, dtype=np.float64) / cells
    e[0], e[-1] = lo, hi
    return e


# The default ranges leave out values beyond this magnitude (docs/view.md).
DEFAULT_BOUND = 1e290


def extent(values):
    values = [v for v in values if v is not None and abs(v) <= DEFAULT_BOUND]
    if not values:
        return (0.0, 1.0)
    lo, hi = min(values), max(values)
    return (lo - 0.5, hi + 0.5) if lo == hi else (lo, hi)


def reference(scans, level, width, height, rt=None, mz=None):
    """(grid rows from high m/z down, rt range, mz range, points inside).
    `scans`: dicts with rt (seconds or None), ms_level, mz, intensity."""
    chosen = [s for s in scans if s["ms_level"] == level and s["rt"] is not None and math.isfinite(s["rt"])]
    rt = rt or extent([s["rt"] for s in chosen])
    mz = mz or extent([m for s in chosen for m, i in zip(s["mz"], s["intensity"])
                       if m is not None and i is not None])
    columns, rows = edges(*rt, width), edges(*mz, height)
    best = np.full((height, width), -np.inf)
    has = np.zeros((height, width), bool)
    inside = 0
    for s in chosen:
        if not rt[0] <= s["rt"] <= rt[1]:
            continue
        column = np.searchsorted(columns[:-1], s["rt"], side="right") - 1
        m = np.array([np.nan if v is None else v for v in s["mz"]], np.float64)
        i = np.array([np.nan if v is None else v for v in s["intensity"]], np.float32)
        keep = (m >= mz[0]) & (m <= mz[1]) & np.isfinite(i)
        inside += int(keep.sum())
        row = np.searchsorted(rows[:-1], m[keep], side="right") - 1
        np.maximum.at(best[:, column], row, i[keep].astype(np.float64))
        has[row, column] = True
    grid = np.where(has, best, 0.0).astype(np.float32)
    return grid[::-1], rt, mz, inside


# Where a 284-layout scan table keeps what the damage below changes
# (tests/support/dataset_writer.cpp).
PAYLOAD_OFFSET_FIELD, STRIDE, MS_LEVEL_FIELD, MZ_RANGE_FIELDS = 88, 284, 20, (244, 252)


def damage_extremes(path, scans):
    """Changes the run's files as a damaged run holds them, and `scans` to
    match: the first two survey scans' m/z at +1e308 and -1e308 (every
    point), one fragment peak's intensity infinite, the fragment scans at
    MS level 0."""
    table_path = os.path.join(path, "AcqData", "MSScan.bin")
    with open(table_path, "r+b") as f:
        table = bytearray(f.read())
        (payload,) = struct.unpack_from("<I", table, PAYLOAD_OFFSET_FIELD)
        survey = [k for k, s in enumerate(scans) if s["ms_level"] == 1]
        for k, mz in zip(survey, (1e308, -1e308)):
            for field in MZ_RANGE_FIELDS:
                struct.pack_into("<d", table, payload + k * STRIDE + field, mz)
            scans[k]["mz"] = [mz] * len(scans[k]["mz"])
        # The table's second record keeps its level: the reader finds the
        # layout from it.
        for k, scan in enumerate(scans):
            if scan["ms_level"] == 2 and k != 1:
                struct.pack_into("<H", table, payload + k * STRIDE + MS_LEVEL_FIELD, 0)
                scan["ms_level"] = 0
        f.seek(0)
        f.write(table)
    # A peak stored as (m/z double, intensity float32): its intensity made infinite.
    peak_path = os.path.join(path, "AcqData", "MSPeak.bin")
    with open(peak_path, "r+b") as f:
        peaks = bytearray(f.read())
        for scan in (s for s in scans if s["ms_level"] == 0):
            stored = struct.pack("<df", scan["mz"][1], scan["intensity"][1])
            at = peaks.find(stored)
            if at >= 0:
                struct.pack_into("<f", peaks, at + 8, math.inf)
                scan["intensity"][1] = math.inf
                break
        else:
            raise AssertionError("no peak stored as (double, float32) found")
        f.seek(0)
        f.write(peaks)


def number(text):
    return float(text)


class MapTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.runs = {}
        for name, args in LAYOUTS.items():
            path = os.path.join(cls.tmp.name, name + ".d")
            expect = os.path.join(cls.tmp.name, name + ".json")
            make_run(MKDATASET, path, *args, "--expect", expect)
            with open(expect) as f:
                scans = [{"rt": s["retention_time_sec"], "ms_level": s["ms_level"], "mz": s["mz"],
                          "intensity": s["intensity"]} for s in json.load(f)["scans"]]
            cls.runs[name] = (path, scans)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def get_map(self, server, **params):
        status, body, headers = server.request_with_headers("/api/map?" + urllib.parse.urlencode(params))
        self.assertEqual(status, 200, body)
        self.assertEqual(headers["Content-Type"], "application/octet-stream")
        width, height = int(headers["X-Velmoran-Map-Width"]), int(headers["X-Velmoran-Map-Height"])
        self.assertEqual(len(body), 4 * width * height)
        grid = np.frombuffer(body, "<f4").reshape(height, width)
        bounds = {key: tuple(map(number, headers["X-Velmoran-Map-" + key].split(":"))) for key in ("Rt", "Mz")}
        return grid, bounds, headers

    def check(self, server, scans, level, width, height, rt=None, mz=None):
        params = {"width": width, "height": height, "ms_level": level}
        if rt:
            params["rt"] = "%r:%r" % rt
        if mz:
            params["mz"] = "%r:%r" % mz
        grid, bounds, headers = self.get_map(server, **params)
        want, want_rt, want_mz, inside = reference(scans, level, width, height, rt, mz)
        self.assertEqual((bounds["Rt"], bounds["Mz"]), (want_rt, want_mz))
        np.testing.assert_array_equal(grid, want)
        self.assertEqual(int(headers["X-Velmoran-Map-Points"]), inside)
        # The highest cell as the shortest text of its float32 value.
        self.assertEqual(np.float32(headers["X-Velmoran-Map-Highest"]), max(np.float32(0), want.max()))
        return want

    def test_every_layout_and_level_against_numpy(self):
        for name, (path, scans) in self.runs.items():
            with self.subTest(run=name), ViewServer(VELMORAN, path) as server:
                for level in sorted({s["ms_level"] for s in scans}):
                    for width, height in ((1, 1), (7, 5), (40, 300), (3, 2000)):
                        want = self.check(server, scans, level, width, height)
                        if (width, height) == (40, 300):
                            self.assertGreater(np.count_nonzero(want), 10)
                # Default level 1; a level without scans is an empty grid over [0, 1].
                grid, bounds, headers = self.get_map(server, width=4, height=3, ms_level=9)
                self.assertEqual((bounds["Rt"], bounds["Mz"], headers["X-Velmoran-Map-Scans"]),
                                 ((0.0, 1.0), (0.0, 1.0), "0"))
                self.assertFalse(grid.any())

    def test_edge_cells(self):
        path, scans = self.runs["synth284"]
        survey = [s for s in scans if s["ms_level"] == 1]
        profile = survey[2]
        with ViewServer(VELMORAN, path) as server:
            # Scans exactly on the range's ends, points exactly on its ends:
            # both are inside, the upper ones in the last cell.
            rt = (survey[1]["rt"], survey[4]["rt"])
            mz = (profile["mz"][100], profile["mz"][400])
            # A row count whose edges fall on points of the profile's axis,
            # and a column count whose edge falls on a scan's time.
            axis = np.array(profile["mz"])
            height = next(h for h in range(2, 400)
                          if np.isin(edges(*mz, h)[1:-1], axis).any())
            times = np.array([s["rt"] for s in survey])
            width = next((w for w in range(2, 400) if np.isin(edges(*rt, w)[1:-1], times).any()), 9)
            want = self.check(server, scans, 1, width, height, rt, mz)
            self.assertTrue(want[0].any() and want[-1].any(), "the end rows hold points")
            # Just beyond the ends, the end points and scans are outside.
            above = (np.nextafter(mz[0], np.inf), np.nextafter(mz[1], -np.inf))
            later = (np.nextafter(rt[0], np.inf), np.nextafter(rt[1], -np.inf))
            self.check(server, scans, 1, width, height, later, above)
            # Cells narrower than the points' spacing: most are empty.
            self.check(server, scans, 1, 64, 4096, rt, (mz[0], mz[0] + 1e-3))

            # About one point a cell around the profile's highest point, the
            # edges on the points: a point a row off changes the grid.
            one_scan = (profile["rt"], profile["rt"] + 1e-9)
            top = int(np.argmax(profile["intensity"]))
            axis = profile["mz"]
            want = self.check(server, scans, 1, 1, 40, one_scan, (axis[top - 20], axis[top + 20]))
            self.assertGreater(np.count_nonzero(want), 20)
            # That point exactly on the edge between two rows of many points
            # each: it belongs to the upper row.
            spread = next(d for d in range(20, top) if edges(axis[top - d], axis[top + d], 2)[1] == axis[top])
            want = self.check(server, scans, 1, 1, 2, one_scan, (axis[top - spread], axis[top + spread]))
            self.assertEqual(want[0, 0], max(profile["intensity"]))
            self.assertLess(want[1, 0], want[0, 0])

    def test_a_damaged_run_binned_from_its_spectra(self):
        path = make_run(MKDATASET, os.path.join(self.tmp.name, "damaged.d"), "synth", "--ms1", "6",
                        "--ms2", "6", "--points", "50", "--peaks", "5", "--damage")
        with ViewServer(VELMORAN, path) as server:
            count = len(json.loads(server.request("/api/scans")[1]))
            spectra = [json.loads(server.request("/api/spectrum/%d" % i)[1]) for i in range(count)]
            scans = [{"rt": s["rt_sec"], "ms_level": s["ms_level"], "mz": s["mz"], "intensity": s["intensity"]}
                     for s in spectra]
            for level in (1, 2):
                self.check(server, scans, level, 5, 7)
                self.check(server, scans, level, 3, 11, mz=(100.0, 2000.0))

    def test_extreme_values_and_level_0_of_a_damaged_run(self):
        path = os.path.join(self.tmp.name, "extremes.d")
        expect = path + ".json"
        make_run(MKDATASET, path, "synth", "--ms1", "5", "--ms2", "6", "--points", "300", "--peaks", "12",
                 "--layout", "284", "--seed", "47", "--expect", expect)
        with open(expect) as f:
            scans = [{"rt": s["retention_time_sec"], "ms_level": s["ms_level"], "mz": s["mz"],
                      "intensity": s["intensity"]} for s in json.load(f)["scans"]]
        damage_extremes(path, scans)
        with ViewServer(VELMORAN, path) as server:
            for level, width, height in ((1, 5, 300), (1, 4096, 1000), (0, 6, 40)):
                with self.subTest(level=level, width=width, height=height):
                    self.check(server, scans, level, width, height)
            # The page's XIC at level 0: a row for each scan of that level.
            status, body = server.request("/api/xic?mz=500&ppm=20&ms_level=0")
            self.assertEqual(status, 200, body)
            self.assertEqual([row["rt_sec"] for row in json.loads(body)],
                             [s["rt"] for s in scans if s["ms_level"] == 0])

    def test_the_answer_is_whole_uncompressed_and_under_the_page_policy(self):
        path, scans = self.runs["synth284"]
        with ViewServer(VELMORAN, path) as server:
            status, body, headers = server.request_with_headers(
                "/api/map?width=30&height=20", headers={"Accept-Encoding": "gzip, br", "Range": "bytes=0-3"})
            self.assertEqual((status, len(body)), (200, 4 * 30 * 20))
            self.assertIsNone(headers.get("Content-Encoding"))
            self.assertEqual(headers["Accept-Ranges"], "none")
            for name in ("Content-Security-Policy", "X-Content-Type-Options", "Cache-Control",
                         "Cross-Origin-Resource-Policy"):
                self.assertIn(name, headers)
            np.testing.assert_array_equal(np.frombuffer(body, "<f4").reshape(20, 30),
                                          reference(scans, 1, 30, 20)[0])

    def test_a_run_whose_spectra_have_no_points(self):
        path = make_run(MKDATASET, os.path.join(self.tmp.name, "pointless.d"), "synth", "--ms1", "3",
                        "--ms2", "0", "--points", "0")
        with ViewServer(VELMORAN, path) as server:
            grid, bounds, headers = self.get_map(server, width=3, height=2)
            self.assertFalse(grid.any())
            self.assertEqual((bounds["Mz"], headers["X-Velmoran-Map-Scans"], headers["X-Velmoran-Map-Points"]),
                             ((0.0, 1.0), "3", "0"))

    def test_bad_parameters(self):
        path, _ = self.runs["synth220"]
        bad = [
            "width=4096&height=4096", "width=0&height=1", "width=1e9&height=1", "width=-1&height=1",
            "width=1.5&height=2", "width=4097&height=1", "width=&height=1", "height=5",
            "width=1&height=1&rt=NaN:1", "width=1&height=1&rt=5:5", "width=1&height=1&rt=9:1",
            "width=1&height=1&mz=inf:1", "width=1&height=1&mz=1", "width=1&height=1&mz=1:2:3",
            "width=1&height=1&rt=-1e308:1e308", "width=1&width=1&height=1",
            "width=1&height=1&rt=1:2&rt=1:2", "width=1&height=1&ms_level=-1",
            "width=1&height=1&ms_level=1&ms_level=1", "width=1&height=1&level=1",
            "width=1&height=1&x=" + "a" * 5000,
        ]
        with ViewServer(VELMORAN, path) as server:
            for query in bad:
                with self.subTest(query=query[:60]):
                    status, body = server.request("/api/map?" + query)
                    self.assertEqual(status, 400, body)
                    self.assertIn("error", json.loads(body))
            # The largest grid allowed, the token as a parameter ignored.
            status, body = server.request("/api/map?width=4096&height=1024&token=" + server.token)
            self.assertEqual((status, len(body)), (200, 4 * 4096 * 1024))
            status, _ = server.request("/api/map?width=1&height=1", token=False)
            self.assertEqual(status, 403)


if __name__ == "__main__":
    unittest.main()
