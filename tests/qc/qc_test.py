"""velmoran qc: each metric against numpy computing the PSI-MS definitions
from velmoran.RawReader's arrays, for every scan-table layout and for
empty, single-scan and damaged runs; the mzQC file against the mzQC 1.0.0
schema; run.qc() of velmoran_arrays against the file; the batch table's
robust z-scores and the planted outlier.

Environment: VELMORAN (the program), VELMORAN_MKDATASET (the generator),
PYTHONPATH holding the velmoran and velmoran_arrays modules."""

import json
import math
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

import numpy as np

import velmoran
import velmoran_arrays

VELMORAN = os.environ["VELMORAN"]
MKDATASET = os.environ["VELMORAN_MKDATASET"]
# The shared reference files, ../shared/reference beside the checkout (or
# beside the directory of worktrees that holds it), or VELMORAN_REFERENCE.
CHECKOUT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
REFERENCE = os.environ.get("VELMORAN_REFERENCE") or next(
    (d for d in (os.path.join(CHECKOUT, "..", "shared", "reference"),
                 os.path.join(CHECKOUT, "..", "..", "shared", "reference")) if os.path.isdir(d)),
    os.path.join(CHECKOUT, "..", "shared", "reference"))
REFERENCE = os.path.normpath(REFERENCE)
SCHEMA = os.path.join(REFERENCE, "mzqc_schema.json")

# The generator's runs: every scan-table layout, empty scans, one scan, damage.
CASES = {
    "layout284": ["synth", "--layout", "284", "--ms1", "12", "--ms2", "30"],
    "layout284_profile_ms2": ["synth", "--profile-ms2", "--ms1", "6", "--ms2", "9", "--points", "500"],
    "layout220": ["synth", "--layout", "220", "--ms1", "15", "--ms2", "20"],
    "layout216": ["synth", "--layout", "216", "--ms1", "15", "--ms2", "20", "--seed", "3"],
    "mrm196": ["mrm", "--layout", "196", "--scans", "60"],
    "mrm186": ["mrm", "--layout", "186", "--scans", "60"],
    "empty_scans": ["synth", "--layout", "220", "--peaks", "0", "--ms1", "5", "--ms2", "5"],
    "fragments_only": ["synth", "--layout", "220", "--ms1", "0", "--ms2", "8"],
    "single_scan": ["synth", "--ms1", "1", "--ms2", "0", "--points", "300"],
    "spray_fails": ["synth", "--ms1", "16", "--ms2", "16", "--spray-fails"],
    "damaged": ["synth", "--ms1", "8", "--ms2", "8", "--damage"],
    "truncated": ["synth", "--layout", "220", "--ms1", "10", "--ms2", "10"],
}

# Runs whose peak file is cut in half after writing: blocks that cannot be read.
TRUNCATED = {"truncated"}


def quartiles(values):
    """Nearest-rank quartiles: numpy's inverted CDF."""
    return [np.quantile(np.asarray(values), q, method="inverted_cdf") for q in (0.25, 0.5, 0.75)]


def log_ratios(values):
    q1, q2, q3 = quartiles(values)
    top = np.max(values)
    with np.errstate(divide="ignore", invalid="ignore"):
        out = [np.log10(q2 / q1), np.log10(q3 / q2), np.log10(top / q3)]
    return [float(v) if np.isfinite(v) else None for v in out]


def reference_metrics(path, native_ids, expected):
    """The metrics as the vocabulary defines them, from RawReader's arrays;
    a spectrum the reader could not read (its error) counts only among the
    spectra, a time that is not finite in no time-based metric."""
    reader = velmoran.RawReader(path)
    run = velmoran_arrays.open(path)
    level, rt, points, tic, base, bad = [], [], [], [], [], []
    for i in range(reader.scan_count):
        s = reader.read_spectrum(i)
        intensity = np.asarray(s.intensity, dtype=np.float64)
        level.append(s.ms_level)
        rt.append(s.retention_time_sec)
        points.append(len(intensity))
        tic.append(math.fsum(intensity) if len(intensity) else 0.0)
        base.append(float(np.nanmax(intensity)) if np.any(~np.isnan(intensity)) else 0.0)
        bad.append(run[i].error is not None)
    level, rt, points, tic, base, bad = map(np.asarray, (level, rt, points, tic, base, bad))
    keep = ~bad
    ms1 = np.flatnonzero((level <= 1) & keep)
    ms2 = np.flatnonzero((level == 2) & keep)
    m = {
        "MS:4000059": int(np.sum(level <= 1)), "MS:4000060": int(np.sum(level == 2)),
        "MS:4000099": int(np.sum(tic[ms1] == 0)), "MS:4000100": int(np.sum(tic[ms2] == 0)),
    }
    if bad.any():
        m["VELMORAN:0000001"] = int(bad.sum())
    precursors = [e["precursor_mz"] for e, ok in zip(expected, keep)
                  if ok and e["ms_level"] >= 2 and e.get("precursor_mz") is not None
                  and math.isfinite(e["precursor_mz"])]
    if precursors:
        m["MS:4000069"] = [min(precursors), max(precursors)]
    t1 = tic[ms1]
    m["MS:4000097"] = sum(1 for a, b in zip(t1, t1[1:]) if (a == 0 and b > 0) or (a > 0 and b > 10 * a))
    m["MS:4000098"] = sum(1 for a, b in zip(t1, t1[1:]) if (b == 0 and a > 0) or (b > 0 and a > 10 * b))
    timed = keep & np.isfinite(rt)
    if not timed.any():
        return m
    start, end = float(np.min(rt[timed])), float(np.max(rt[timed]))
    duration = end - start
    m["MS:4000070"] = [start, end]
    m["MS:4000053"] = duration
    chrom = ms1 if len(ms1) else np.flatnonzero(keep)
    chrom = chrom[np.isfinite(rt[chrom])]
    if len(chrom):
        m["MS:4000104"] = {"MS:1000767": [native_ids[i] for i in chrom],
                           "MS:1000894": rt[chrom].tolist(), "MS:1003059": points[chrom].tolist(),
                           "MS:1000285": tic[chrom].tolist()}
        order = chrom[np.argsort(rt[chrom], kind="stable")]
        t, y = rt[order], tic[order]
        m["MS:4000155"] = float(np.trapz(y, t)) if len(t) > 1 else 0.0
        cuts = np.linspace(t[0], t[-1], 5)
        areas = []
        for a, b in zip(cuts, cuts[1:]):
            grid = np.unique(np.concatenate([[a, b], t[(t > a) & (t < b)]]))
            areas.append(float(np.trapz(np.interp(grid, t, y), grid)) if b > a else 0.0)
        m["MS:4000156"] = areas
        total = np.sum(y)
        if total > 0 and duration > 0:
            cum = np.cumsum(y)
            m["MS:4000183"] = [(t[min(np.argmax(cum >= q * total), len(t) - 1)] - start) / duration
                               for q in (0.25, 0.5, 0.75, 1.0)]
    m["MS:4000204"] = float(np.nanmax(tic[keep], initial=0.0))
    m["MS:4000202"] = float(np.nanmax(base[keep], initial=0.0))
    for key, group in (("MS:4000184", ms1), ("MS:4000185", ms2)):
        times = rt[group][np.isfinite(rt[group])]
        if len(times) and duration > 0:
            m[key] = [(np.quantile(times, q, method="inverted_cdf") - start) / duration
                      for q in (0.25, 0.5, 0.75, 1.0)]
    if len(ms1) >= 2:
        m["MS:4000186"] = log_ratios(np.abs(np.diff(t1)))
    if len(ms1):
        m["MS:4000187"] = log_ratios(t1)
    for key, group in (("MS:4000061", ms1), ("MS:4000062", ms2)):
        if len(group):
            m[key] = [int(v) for v in quartiles(points[group])]
    for fast, slow, group in (("MS:4000065", "MS:4000095", ms1), ("MS:4000066", "MS:4000096", ms2)):
        dt = np.diff(rt[group])
        dt = dt[np.isfinite(dt) & (dt > 0)]
        if len(dt):
            m[fast], m[slow] = 1 / np.min(dt), 1 / np.max(dt)
    dt = np.diff(rt[ms1])
    dt = dt[np.isfinite(dt)]
    if len(dt):
        m["MS:4000192"] = float(np.median(dt))
    return m


def modified_z(values, logarithmic):
    """Iglewicz and Hoaglin's modified z-score of each value (None for a
    value that is not a number, and for all when the numbers are alike):
    (x - median) / (MAD / 0.6745), or where the MAD is 0 over 1.2533 times
    the mean absolute deviation; the spread at least 1 % of the median's
    magnitude, or log10(1.01) for logarithms."""
    x = np.array([np.nan if v is None else v for v in values], dtype=np.float64)
    finite = x[np.isfinite(x)]
    if len(finite) < 2:
        return [None] * len(x)
    median = np.median(finite)
    mad = np.median(np.abs(finite - median))
    spread = mad / 0.6745 if mad > 0 else 1.2533 * np.mean(np.abs(finite - median))
    if not spread > 0:
        return [None] * len(x)
    spread = max(spread, np.log10(1.01) if logarithmic else 0.01 * abs(median))
    return [float((v - median) / spread) if np.isfinite(v) else None for v in x]


def same(actual, expected):
    """Equal, floats to 1e-9 relative (numpy sums in another order)."""
    if isinstance(expected, dict):
        return actual.keys() == expected.keys() and all(same(actual[k], expected[k]) for k in expected)
    if isinstance(expected, (list, tuple, np.ndarray)):
        return len(actual) == len(expected) and all(same(a, e) for a, e in zip(actual, expected))
    if expected is None or actual is None:
        return expected is None and actual is None
    if isinstance(expected, str):
        return actual == expected
    return math.isclose(actual, float(expected), rel_tol=1e-9, abs_tol=1e-9)


def validator():
    import jsonschema
    with open(SCHEMA, encoding="utf-8") as f:
        schema = json.load(f)
    return jsonschema.Draft7Validator(schema, format_checker=jsonschema.FormatChecker())


# A damaged run's NaN times make numpy warn where the reference is left out.
np.seterr(invalid="ignore", divide="ignore")


class QcTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="velmoran-qc-")

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.dir, ignore_errors=True)

    def make(self, name, options):
        path = os.path.join(self.dir, name + ".d")
        if not os.path.exists(path):
            command = [MKDATASET, options[0], path] + options[1:]
            if "--damage" not in options:
                command += ["--expect", path + ".json"]
            subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
            if name in TRUNCATED:
                peaks = os.path.join(path, "AcqData", "MSPeak.bin")
                os.truncate(peaks, os.path.getsize(peaks) // 2)
        return path

    def qc(self, *args, expect_status=0):
        env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
        done = subprocess.run([VELMORAN, "qc", *args], cwd=self.dir, env=env,
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, expect_status, done.stderr)
        return done

    def native_ids(self, path):
        done = subprocess.run([VELMORAN, "scans", path, "--format", "json"],
                              capture_output=True, text=True, check=True)
        return [row["native_id"] for row in json.loads(done.stdout)]

    def expected_scans(self, path):
        try:
            with open(path + ".json", encoding="utf-8") as f:
                return json.load(f)["scans"]
        except FileNotFoundError:
            # A damaged run: the precursors as the scan table gives them.
            run = velmoran_arrays.open(path)
            column = np.asarray(run.scans["precursor_mz"])
            levels = np.asarray(run.scans["ms_level"])
            return [{"ms_level": int(levels[i]), "precursor_mz": float(column[i])}
                    for i in range(len(run))]

    def test_each_metric_as_the_vocabulary_defines_it(self):
        for case, options in CASES.items():
            with self.subTest(case=case):
                path = self.make(case, options)
                out = os.path.join(self.dir, case + ".mzQC")
                self.qc(path, "-o", out, expect_status=1 if case in TRUNCATED else 0)
                with open(out, encoding="utf-8") as f:
                    document = json.load(f)
                run = document["mzQC"]["runQualities"][0]
                written = {m["accession"]: m["value"] for m in run["qualityMetrics"]}
                expected = reference_metrics(path, self.native_ids(path), self.expected_scans(path))
                self.assertEqual(sorted(written), sorted(expected))
                for key, value in expected.items():
                    self.assertTrue(same(written[key], value), f"{key}: {written[key]} != {value}")
                # velmoran_arrays gives the file's values, exactly.
                from_python = velmoran_arrays.open(path).qc()
                self.assertEqual(from_python,
                                 {m["accession"]: m["value"] for m in run["qualityMetrics"]})

    def test_one_run_file_names_its_input_and_repeats_its_bytes(self):
        path = self.make("layout284", CASES["layout284"])
        self.qc(path)
        target = os.path.join(self.dir, "layout284.mzQC")
        with open(target, "rb") as f:
            first = f.read()
        self.qc(path)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), first)
        document = json.loads(first)["mzQC"]
        self.assertEqual(document["creationDate"], "2023-11-14T22:13:20Z")
        vocabulary = document["controlledVocabularies"][0]
        self.assertEqual(vocabulary["version"], "4.1.257")
        meta = document["runQualities"][0]["metadata"]
        (input_file,) = meta["inputFiles"]
        self.assertEqual(input_file["location"], "file://" + os.path.abspath(path))
        self.assertEqual(input_file["fileFormat"]["accession"], "MS:1000560")
        import hashlib
        with open(os.path.join(path, "AcqData", "MSScan.bin"), "rb") as f:
            digest = hashlib.sha256(f.read()).hexdigest()
        self.assertEqual(input_file["fileProperties"],
                         [{"accession": "MS:1003151", "name": "SHA-256", "value": digest}])
        self.assertEqual(meta["analysisSoftware"][0]["accession"], "MS:1000799")
        self.assertEqual(meta["analysisSoftware"][0]["value"], "velmoran")

    def test_files_are_valid_mzqc(self):
        if not os.path.exists(SCHEMA):
            self.skipTest(f"no mzQC schema at {SCHEMA}: the shared reference directory "
                          "../shared/reference beside the checkout is absent, so the files "
                          "were not validated")
        check = validator()
        paths = [self.make(case, CASES[case]) for case in CASES]
        batch = os.path.join(self.dir, "all.mzQC")
        self.qc(*paths, "-o", batch, expect_status=1)
        reverse = os.path.join(self.dir, "reverse.mzQC")
        self.qc(*paths[::-1], "-o", reverse, expect_status=1)
        for target in [batch, reverse] + [os.path.join(self.dir, case + ".mzQC") for case in CASES]:
            if not os.path.exists(target):
                case = os.path.basename(target)[:-5]
                self.qc(paths[list(CASES).index(case)], "-o", target,
                        expect_status=1 if case in TRUNCATED else 0)
            with open(target, encoding="utf-8") as f:
                errors = list(check.iter_errors(json.load(f)))
            self.assertEqual(errors, [], target)
        with open(batch, encoding="utf-8") as f:
            document = json.load(f)["mzQC"]
        self.assertEqual(len(document["runQualities"]), len(CASES))
        self.assertEqual(document["setQualities"][0]["metadata"]["label"], "all")
        # The set's metrics do not depend on the order of the runs: each has a
        # value per run (null where a run lacks it), the values in file order.
        with open(reverse, encoding="utf-8") as f:
            backwards = json.load(f)["mzQC"]["setQualities"][0]["qualityMetrics"]
        forwards = document["setQualities"][0]["qualityMetrics"]
        self.assertEqual([m["accession"] for m in forwards], [m["accession"] for m in backwards])
        for one, other in zip(forwards, backwards):
            self.assertEqual(one["value"], other["value"][::-1], one["accession"])
        runs = document["runQualities"]
        for metric in forwards:
            held = [{m["accession"]: m["value"] for m in run["qualityMetrics"]}.get(metric["accession"])
                    for run in runs]
            self.assertEqual(metric["value"], held, metric["accession"])

    def near_copy(self, name, extra):
        """A copy of one centroid run with `extra` added to the highest peak
        of the MS1 scan at its largest TIC change: runs alike but for a few
        parts in ten thousand of their TIC metrics."""
        base = self.make("near_base", ["synth", "--layout", "220", "--ms1", "16", "--ms2", "0"])
        path = os.path.join(self.dir, name + ".d")
        if os.path.exists(path):
            return path
        shutil.copytree(base, path)
        reader = velmoran.RawReader(path)
        spectra = [reader.read_spectrum(i) for i in range(reader.scan_count)]
        tics = [math.fsum(s.intensity) for s in spectra]
        i = int(np.argmax(np.abs(np.diff(tics))))
        i = i if tics[i] > tics[i + 1] else i + 1
        peak = struct.pack("<f", max(spectra[i].intensity))
        with open(os.path.join(path, "AcqData", "MSPeak.bin"), "r+b") as f:
            data = f.read()
            at = data.find(peak)
            self.assertTrue(at >= 0 and data.find(peak, at + 1) < 0)
            f.seek(at)
            f.write(struct.pack("<f", struct.unpack("<f", peak)[0] + extra))
        return path

    def test_batch_scores_flag_the_failures_and_not_near_identical_runs(self):
        normal = lambda i, ms1, ms2: self.make(f"normal{i}_{ms1}_{ms2}", [
            "synth", "--seed", str(i), "--ms1", str(ms1), "--ms2", str(ms2)])
        cases = {
            # name: (runs, (run, accession) that must be flagged, or None: no outlier at all)
            "failed spray": ([normal(i, 16, 16) for i in range(1, 7)]
                             + [self.make("spray_fails", CASES["spray_fails"])],
                             ("spray_fails.d", "MS:4000183")),
            "three empty MS1 scans among zeros": (
                [normal(i, 6, 0) for i in range(1, 7)]
                + [self.make("three_empty", ["synth", "--ms1", "6", "--ms2", "0", "--spray-fails"])],
                ("three_empty.d", "MS:4000099")),
            "0.03 % apart": ([self.near_copy(f"near{k}", extra)
                              for k, extra in enumerate([0, 8, 16, 24, 32, 40, 140])], None),
        }
        for case, (paths, flagged) in cases.items():
            with self.subTest(case=case):
                done = self.qc(*paths, "--format", "json")
                rows = json.loads(done.stdout)
                lines = [l for l in done.stderr.splitlines() if l.startswith("velmoran: outlier: ")]
                keys = [(l.split(": ")[2], l.split(": ")[3].split(" ")[0]) for l in lines]
                self.assertEqual(len(keys), len(set(keys)), "one line per run and metric")
                self.assertEqual(keys == [], flagged is None, done.stderr)
                if flagged:
                    self.assertIn(flagged, keys)
                groups = {}
                for row in rows:
                    groups.setdefault((row["accession"], row["element"]), []).append(row)
                for (accession, element), group in groups.items():
                    z = modified_z([r["value"] for r in group],
                                   accession in ("MS:4000186", "MS:4000187"))
                    if accession == "MS:4000104":
                        z = [None] * len(group)
                    for row, expected in zip(group, z):
                        if expected is None:
                            self.assertIsNone(row["robust_z"], (accession, element))
                        else:
                            self.assertAlmostEqual(row["robust_z"], expected, places=9)
                outliers = {(r["run"], r["accession"]) for r in rows
                            if r["robust_z"] is not None and abs(r["robust_z"]) > 3.5}
                self.assertEqual(outliers, set(keys))
                if case == "0.03 % apart":
                    values = np.array([r["value"] for r in groups[("MS:4000186", 2)]])
                    apart = np.max(np.abs(values / np.median(values) - 1))
                    self.assertTrue(2e-4 < apart < 4e-4, apart)
        self.qc(*cases["failed spray"][0], "--format", "tsv", "-o", "batch.tsv",
                "--fail-on-outlier", expect_status=3)
        with open(os.path.join(self.dir, "batch.tsv"), encoding="utf-8") as f:
            lines = f.read().splitlines()
        self.assertEqual(lines[0], "run\taccession\tname\telement\tvalue\trobust_z")

    def test_a_run_that_cannot_be_read_fails_alone(self):
        good = self.make("layout220", CASES["layout220"])
        truncated = self.make("truncated", CASES["truncated"])
        unreadable = sum(s.error is not None for s in velmoran_arrays.open(truncated))
        self.assertGreater(unreadable, 0)
        done = self.qc(good, os.path.join(self.dir, "missing.d"), truncated, "-o", "three.mzQC",
                       expect_status=1)
        lines = done.stderr.splitlines()
        self.assertEqual(sum("missing.d" in line for line in lines), 1, done.stderr)
        (damaged,) = [line for line in lines if "truncated.d" in line]
        self.assertIn(f"{unreadable} of 20 spectra could not be read", damaged)
        with open(os.path.join(self.dir, "three.mzQC"), encoding="utf-8") as f:
            runs = json.load(f)["mzQC"]["runQualities"]
        self.assertEqual([run["metadata"]["label"] for run in runs], ["layout220.d", "truncated.d"])
        metrics = {m["accession"]: m["value"] for m in runs[1]["qualityMetrics"]}
        self.assertEqual(metrics["VELMORAN:0000001"], unreadable)
        self.assertEqual(metrics["MS:4000099"] + metrics["MS:4000100"], 0)


if __name__ == "__main__":
    unittest.main()
