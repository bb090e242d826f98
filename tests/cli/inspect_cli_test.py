"""velmoran info, scans and xic on generated runs, read back with Python's
own csv and json readers and checked against the spectra that the writer
says a reader must decode (velmoran-mkdataset --expect).

Environment: VELMORAN (the program) and VELMORAN_MKDATASET (the generator).
"""
import bisect
import csv
import io
import json
import os
import re
import shutil
import struct
import subprocess
import tempfile
import unittest

VELMORAN = os.environ["VELMORAN"]
MKDATASET = os.environ["VELMORAN_MKDATASET"]


def float32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


def run(*args, check=True):
    proc = subprocess.run([VELMORAN, *args], capture_output=True, text=True)
    if check and proc.returncode != 0:
        raise AssertionError("velmoran %s: exit %d\n%s" % (" ".join(args), proc.returncode, proc.stderr))
    return proc


def read_table(text, fmt):
    """Rows as dicts of text (None for an empty cell / null)."""
    if fmt == "json":
        return [{k: v for k, v in row.items()} for row in json.loads(text)]
    rows = list(csv.DictReader(io.StringIO(text, newline=""), delimiter="," if fmt == "csv" else "\t"))
    return [{k: (v if v != "" else None) for k, v in row.items()} for row in rows]


def num(value):
    return None if value is None else float(value)


class Runs:
    """Three runs: DDA with MS1 profiles (284), DDA all centroids (216), MRM (186)."""

    def __init__(self):
        self.dir = tempfile.TemporaryDirectory()
        self.runs = {}
        for name, args in {
            "dda284": ["synth", "--ms1", "5", "--ms2", "10", "--points", "800", "--peaks", "40", "--seed", "4"],
            "dda216": ["synth", "--ms1", "4", "--ms2", "6", "--peaks", "25", "--layout", "216", "--seed", "5"],
            "mrm186": ["mrm", "--scans", "20", "--layout", "186", "--seed", "6"],
        }.items():
            path = os.path.join(self.dir.name, name + ".d")
            expect = os.path.join(self.dir.name, name + ".json")
            subprocess.run([MKDATASET, args[0], path, *args[1:], "--expect", expect],
                           check=True, capture_output=True)
            with open(expect) as f:
                self.runs[name] = (path, json.load(f)["scans"])


RUNS = None


def setUpModule():
    global RUNS
    RUNS = Runs()


def tearDownModule():
    RUNS.dir.cleanup()


class ScansTest(unittest.TestCase):
    def test_every_column_in_every_format(self):
        for name, (path, expected) in RUNS.runs.items():
            tables = {fmt: read_table(run("scans", path, "--format", fmt).stdout, fmt)
                      for fmt in ("tsv", "csv", "json")}
            for fmt, rows in tables.items():
                with self.subTest(run=name, format=fmt):
                    self.assertEqual(len(rows), len(expected))
                    for index, (row, scan) in enumerate(zip(rows, expected)):
                        mz, intensity = scan["mz"], scan["intensity"]
                        tic = 0.0
                        for x in intensity:
                            tic += x
                        base = max(range(len(intensity)), key=intensity.__getitem__) if intensity else None
                        # Only the 284 layout carries MS1 profiles.
                        profile = name == "dda284" and scan["ms_level"] == 1
                        self.assertEqual(int(row["index"]), index)
                        self.assertEqual(int(row["scan_id"]), scan["scan_id"])
                        self.assertEqual(row["native_id"], "scanId=%d" % scan["scan_id"])
                        self.assertEqual(int(row["ms_level"]), scan["ms_level"])
                        self.assertEqual(num(row["rt_sec"]), scan["retention_time_sec"])
                        self.assertEqual(int(row["points"]), len(mz))
                        self.assertEqual(row["representation"],
                                         ("profile" if profile else "centroid") if mz else None)
                        # An empty spectrum: TIC 0, base-peak intensity 0, no base-peak m/z.
                        self.assertEqual(num(row["tic"]), tic)
                        self.assertEqual(num(row["base_peak_mz"]), mz[base] if mz else None)
                        self.assertEqual(float32(num(row["base_peak_intensity"])),
                                         intensity[base] if mz else 0.0)
                        self.assertEqual(num(row["precursor_mz"]),
                                         None if "mrm_channel" in scan else scan.get("precursor_mz"))
                        self.assertEqual(num(row["mrm_channel"]), scan.get("mrm_channel"))
            # JSON numbers are numbers, absent values null.
            first = json.loads(run("scans", path, "--format", "json").stdout)[0]
            self.assertIsInstance(first["rt_sec"], float)
            self.assertIsInstance(first["points"], int)

    def test_spectra_without_data_have_zero_totals_and_no_base_peak_mz(self):
        path, expected = RUNS.runs["dda216"]
        with tempfile.TemporaryDirectory() as tmp:
            bare = os.path.join(tmp, "bare.d")
            shutil.copytree(path, bare)
            os.remove(os.path.join(bare, "AcqData", "MSPeak.bin"))
            rows = read_table(run("scans", bare, "--format", "json").stdout, "json")
            self.assertEqual([(r["points"], r["representation"], r["tic"], r["base_peak_mz"],
                               r["base_peak_intensity"]) for r in rows],
                             [(0, None, 0, None, 0)] * len(expected))
            info = json.loads(run("info", bare, "--json").stdout)
            self.assertEqual((info["empty_spectra"], info["points"], info["mz_min"], info["file_bytes"]["MSPeak.bin"]),
                             (len(expected), 0, None, None))


class InfoTest(unittest.TestCase):
    def test_json_keys_and_values(self):
        path, expected = RUNS.runs["dda284"]
        info = json.loads(run("info", path, "--json").stdout)
        all_mz = [x for s in expected for x in s["mz"]]
        levels = {}
        for s in expected:
            levels[str(s["ms_level"])] = levels.get(str(s["ms_level"]), 0) + 1
        acq = os.path.join(path, "AcqData")
        self.assertEqual(info, {
            "name": "dda284.d", "path": path, "record_length": 284, "scans": len(expected),
            "scans_by_ms_level": levels,
            "profile_spectra": levels["1"], "centroid_spectra": levels["2"], "empty_spectra": 0,
            "points": len(all_mz),
            "rt_sec_min": min(s["retention_time_sec"] for s in expected),
            "rt_sec_max": max(s["retention_time_sec"] for s in expected),
            "mz_min": min(all_mz), "mz_max": max(all_mz),
            "file_bytes": {f: os.path.getsize(os.path.join(acq, f))
                           for f in ("MSScan.bin", "MSPeak.bin", "MSProfile.bin")},
        })
        # The text rounds for a reader (times to 2 decimals, m/z to 4); the
        # JSON above keeps every digit.
        text = run("info", path).stdout
        self.assertIn("scans           %d\n" % len(expected), text)
        self.assertIn("retention time  %.2f to %.2f s\n" % (info["rt_sec_min"], info["rt_sec_max"]), text)
        self.assertIn("m/z             %.4f to %.4f\n" % (min(all_mz), max(all_mz)), text)

    def test_mzml_id_is_the_id_convert_writes(self):
        for name, (path, expected) in RUNS.runs.items():
            with self.subTest(run=name), tempfile.TemporaryDirectory() as out:
                mzml = os.path.join(out, "run.mzML")
                run("convert", "-q", path, "-o", mzml)
                with open(mzml) as f:
                    written = re.findall(r'<spectrum index="\d+" id="([^"]+)"', f.read())
                rows = read_table(run("scans", path).stdout, "tsv")
                self.assertEqual([row["mzml_id"] for row in rows], written)


class XicTest(unittest.TestCase):
    def expected_rows(self, expected, targets, tolerance_da, level, rt_range):
        rows = []
        for scan in expected:
            rt = scan["retention_time_sec"]
            if scan["ms_level"] != level or not rt_range[0] <= rt <= rt_range[1]:
                continue
            order = sorted(range(len(scan["mz"])), key=scan["mz"].__getitem__)
            for name, mz in targets:
                total = 0.0
                for i in order:
                    if mz - tolerance_da <= scan["mz"][i] <= mz + tolerance_da:
                        total += scan["intensity"][i]
                rows.append((name, mz, rt, scan["scan_id"], total))
        return rows

    def test_named_targets_time_range_and_formats(self):
        path, expected = RUNS.runs["dda284"]
        ms1 = [s for s in expected if s["ms_level"] == 1]
        # Targets at points of the data, one between points; names with a
        # comma and quotes.
        peak = ms1[1]["mz"][max(range(len(ms1[1]["mz"])), key=ms1[1]["intensity"].__getitem__)]
        targets = [('PC 34:1, [M+H]+ "a"', peak), ("between", (ms1[0]["mz"][10] + ms1[0]["mz"][11]) / 2),
                   ("dup", peak)]
        # The time range ends exactly on the times of the second and fourth
        # MS1 scans: both are in.
        rt_range = (ms1[1]["retention_time_sec"], ms1[3]["retention_time_sec"])
        with tempfile.TemporaryDirectory() as tmp:
            targets_file = os.path.join(tmp, "targets.csv")
            with open(targets_file, "w", newline="") as f:
                writer = csv.writer(f)
                writer.writerow(["name", "mz"])
                for name, mz in targets:
                    writer.writerow([name, repr(mz)])
            want = self.expected_rows(expected, targets, 0.5, 1, rt_range)
            self.assertEqual(len(want), 3 * 3)
            self.assertTrue(any(row[4] > 0 for row in want))
            for fmt in ("tsv", "csv", "json"):
                proc = run("xic", path, "--targets", targets_file, "--da", "0.5",
                           "--rt", "%r:%r" % rt_range, "--format", fmt)
                got = [(r["target"], num(r["mz"]), num(r["rt_sec"]), int(r["scan_id"]), num(r["intensity"]))
                       for r in read_table(proc.stdout, fmt)]
                self.assertEqual(got, want, fmt)

    def test_mz_targets_keep_their_text_and_every_scan_of_the_level(self):
        path, expected = RUNS.runs["mrm186"]
        level2 = [s for s in expected if s["ms_level"] == 2]
        target = level2[0]["mz"][0]
        rows = read_table(run("xic", path, "--mz", repr(target), "--mz", "2.5e2", "--ppm", "20",
                              "--ms-level", "2").stdout, "tsv")
        self.assertEqual(len(rows), 2 * len(level2))
        self.assertEqual([r["target"] for r in rows[:2]], [repr(target), "2.5e2"])
        self.assertEqual(num(rows[1]["mz"]), 250.0)
        self.assertGreaterEqual(num(rows[0]["intensity"]), level2[0]["intensity"][0])

    def test_a_window_far_above_every_point_sums_nothing(self):
        # 1e308 * 10 overflows; the window 1e308 +- 1e303 holds no point.
        path, expected = RUNS.runs["mrm186"]
        rows = read_table(run("xic", path, "--mz", "1e308", "--ppm", "10", "--ms-level", "2").stdout, "tsv")
        self.assertEqual(len(rows), sum(1 for s in expected if s["ms_level"] == 2))
        self.assertEqual({num(r["intensity"]) for r in rows}, {0.0})

    def test_thousands_of_targets_as_with_a_few(self):
        # Enough targets for the spectra to be worked on by several threads:
        # overlapping 0.5 Da windows every 0.64 m/z, rows still in scan order.
        path, expected = RUNS.runs["dda284"]
        targets = [100.0 + 0.64 * i for i in range(2500)]
        want = []
        for scan in expected:
            if scan["ms_level"] != 1:
                continue
            points = sorted(zip(scan["mz"], scan["intensity"]), key=lambda p: p[0])
            mzs = [p[0] for p in points]
            for mz in targets:
                low = bisect.bisect_left(mzs, mz - 0.5)
                high = bisect.bisect_right(mzs, mz + 0.5)
                want.append((mz, scan["scan_id"], sum(p[1] for p in points[low:high])))
        with tempfile.TemporaryDirectory() as tmp:
            targets_file = os.path.join(tmp, "targets.txt")
            with open(targets_file, "w") as f:
                f.write("".join("%r\n" % mz for mz in targets))
            rows = read_table(run("xic", path, "--targets", targets_file, "--da", "0.5",
                                  "--format", "json").stdout, "json")
        got = [(num(r["mz"]), int(r["scan_id"]), num(r["intensity"])) for r in rows]
        self.assertEqual(got, want)


class ErrorsTest(unittest.TestCase):
    def test_usage_errors_name_the_option_or_file_and_line(self):
        path = RUNS.runs["dda216"][0]
        with tempfile.TemporaryDirectory() as tmp:
            bad = os.path.join(tmp, "bad.txt")
            with open(bad, "w") as f:
                f.write("100.5\n200\nabc\n")
            cases = [
                (["--targets", bad, "--ppm", "5"], bad + ":3: not an m/z"),
                (["--mz", "100", "--ppm", "0"], "--ppm"),
                (["--mz", "100", "--ppm", "inf"], "--ppm"),
                (["--mz", "100", "--da", "-1"], "--da"),
                # Tolerances and windows that would overflow into every point.
                (["--mz", "1e300", "--ppm", "1e10"], "--ppm"),
                (["--mz", "100", "--ppm", "1000001"], "--ppm"),
                (["--mz", "1.7e308", "--ppm", "1e6"], "--ppm"),
                (["--mz", "1.7e308", "--da", "1e307"], "--da"),
                (["--mz", "100", "--ppm", "5", "--da", "1"], "--ppm"),
                (["--mz", "x", "--ppm", "5"], "--mz"),
                (["--mz", "100", "--ppm", "5", "--rt", "90:60"], "--rt"),
                (["--mz", "100"], "--ppm P or --da D"),
                (["--ppm", "5"], "--mz M or --targets FILE"),
                (["--mz", "100", "--targets", bad, "--ppm", "5"], "--mz"),
                (["--targets", os.path.join(tmp, "missing.txt"), "--ppm", "5"], "missing.txt"),
            ]
            for args, message in cases:
                with self.subTest(args=args):
                    proc = run("xic", path, *args, check=False)
                    self.assertEqual(proc.returncode, 2, proc.stderr)
                    self.assertTrue(proc.stderr.startswith("velmoran: "), proc.stderr)
                    self.assertIn(message, proc.stderr)
                    self.assertEqual(proc.stdout, "")

    def test_a_run_that_cannot_be_opened_fails_with_the_library_error(self):
        with tempfile.TemporaryDirectory() as tmp:
            missing = os.path.join(tmp, "missing.d")
            out = os.path.join(tmp, "scans.tsv")
            for args in (["info", missing], ["scans", missing, "-o", out],
                         ["xic", missing, "--mz", "100", "--ppm", "5", "-o", out]):
                with self.subTest(args=args):
                    proc = run(*args, check=False)
                    self.assertEqual(proc.returncode, 1)
                    self.assertEqual(proc.stderr, "velmoran: %s: parse error: AcqData directory not found\n" % missing)
                    self.assertEqual(os.listdir(tmp), [])

    def test_an_output_that_cannot_be_written_leaves_nothing(self):
        path = RUNS.runs["dda216"][0]
        with tempfile.TemporaryDirectory() as tmp:
            proc = run("scans", path, "-o", os.path.join(tmp, "no", "such", "dir.tsv"), check=False)
            self.assertEqual(proc.returncode, 1)
            self.assertIn("No such file or directory", proc.stderr)
            if os.path.exists("/dev/full"):
                proc = run("scans", path, "-o", "/dev/full", check=False)
                self.assertEqual(proc.returncode, 1)
                self.assertIn("No space left on device", proc.stderr)


if __name__ == "__main__":
    unittest.main()
