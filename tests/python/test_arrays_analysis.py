"""Run.xic(), Run.tic(), Run.bpc(), scans_frame(totals=True), the peaks=
argument and the columns and reductions of Peaks, against the program's
own output (velmoran xic, scans and convert, parsed here: the independent
source), sums taken here in point order, numpy, and OpenMS FileInfo where
it is installed. Needs numpy and pandas, the program (VELMORAN) and the
generator (VELMORAN_MKDATASET); skipped without them.
"""
import base64
import csv
import io
import math
import multiprocessing
import os
import pickle
import re
import shutil
import struct
import subprocess
import unittest
import zlib

import velmoran_arrays

from dataset_tools import TempDir, make_dataset, needs_generator

try:
    import numpy as np
    import pandas as pd
except ImportError:  # pragma: no cover - the interpreters without them
    np = pd = None

VELMORAN = os.environ.get("VELMORAN", "")
needs_program = unittest.skipUnless(VELMORAN and np is not None,
                                    "needs VELMORAN (the program), numpy and pandas")


def program(*args):
    return subprocess.run([VELMORAN, *map(str, args)], check=True, capture_output=True,
                          text=True).stdout


def tsv(text):
    return list(csv.DictReader(io.StringIO(text), delimiter="\t"))


def number(cell):
    """A cell as the float it holds; NaN for an empty one."""
    return float(cell) if cell != "" else math.nan


def same(a, b):
    """Equal as floats, NaN equal to NaN."""
    return (math.isnan(a) and math.isnan(b)) or a == b


def point_order_sum(values):
    total = 0.0
    for value in values:
        total += float(value)
    return total


def decode(array):
    data = re.search(r"<binary>(.*?)</binary>", array, re.S)
    raw = base64.b64decode(data.group(1)) if data else b""
    if 'accession="MS:1000574"' in array and raw:
        raw = zlib.decompress(raw)
    if 'accession="MS:1000521"' in array:
        return np.frombuffer(raw, dtype="<f4")
    return np.frombuffer(raw, dtype="<f8")


def mzml_arrays(path, element):
    """Each spectrum's or chromatogram's arrays, in file order, decoded."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    found = []
    for match in re.findall(rf"<{element} .*?</{element}>", text, re.S):
        identifier = re.search(r' id="([^"]*)"', match).group(1)
        arrays = [decode(a) for a in re.findall(r"<binaryDataArray .*?</binaryDataArray>",
                                                  match, re.S)]
        found.append((identifier, arrays))
    return found


def pickled_in_a_worker(path):
    """Made and pickled in a worker process of a Pool."""
    run = velmoran_arrays.open(path)
    return run.xic(memoryview(run.peaks(ms_level=1).mz)[:1], da=0.5), run.tic(), run.bpc()


@needs_generator
@needs_program
class AnalysisTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.profile, _ = make_dataset(cls.tmp.path, "profile.d", "synth", "--ms1", 12, "--ms2",
                                      24, "--points", 1500, "--peaks", 40, "--profile-ms2",
                                      expect=False)
        cls.centroid, _ = make_dataset(cls.tmp.path, "centroid.d", "synth", "--layout", 216,
                                       "--ms1", 10, "--ms2", 20, "--peaks", 30, expect=False)
        # Every spectrum empty: the peak file is gone.
        cls.empty = os.path.join(cls.tmp.path, "empty.d")
        shutil.copytree(cls.centroid, cls.empty)
        os.remove(os.path.join(cls.empty, "AcqData", "MSPeak.bin"))
        # The second half empty, a damaged block: the profile file cut short.
        cls.half = os.path.join(cls.tmp.path, "half.d")
        shutil.copytree(cls.profile, cls.half)
        profile_file = os.path.join(cls.half, "AcqData", "MSProfile.bin")
        os.truncate(profile_file, os.path.getsize(profile_file) // 2)
        cls.runs = [cls.profile, cls.centroid, cls.empty, cls.half]

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def test_xic_equals_the_command_bit_for_bit(self):
        run = velmoran_arrays.open(self.profile)
        mz = np.asarray(run.peaks(ms_level=1).mz)
        targets = [float(mz[len(mz) // 3]), float(mz[len(mz) // 2]), 412.5, float(mz[-1])]
        rt = np.asarray(run.scans["rt_sec"])
        cases = [
            ({"ppm": 10}, ["--ppm", 10]),
            ({"da": 0.05}, ["--da", 0.05]),
            ({"ppm": 25, "rt": (rt[3], rt[20])}, ["--ppm", 25, "--rt", f"{rt[3]!r}:{rt[20]!r}"]),
            ({"ppm": 50, "ms_level": 2}, ["--ppm", 50, "--ms-level", 2]),
            ({"ppm": 50, "ms_level": 5}, ["--ppm", 50, "--ms-level", 5]),
        ]
        for path in self.runs:
            run = velmoran_arrays.open(path)
            for keywords, options in cases:
                with self.subTest(run=os.path.basename(path), arguments=keywords):
                    arguments = [a for t in targets for a in ("--mz", repr(t))]
                    rows = tsv(program("xic", path, *arguments, *options))
                    for threads in (1, 3):
                        xic = run.xic(np.array(targets), threads=threads, **keywords)
                        self.assertEqual(list(np.asarray(xic.mz)), targets)
                        n = len(xic.index)
                        self.assertEqual(len(rows), n * len(targets))
                        intensity = np.asarray(xic.intensity).reshape(len(targets), n)
                        scan_id = np.asarray(run.scans["scan_id"])[np.asarray(xic.index)]
                        for k, row in enumerate(rows):
                            scan, target = divmod(k, len(targets))
                            self.assertEqual(float(row["mz"]), targets[target])
                            self.assertEqual(int(row["scan_id"]), scan_id[scan])
                            self.assertEqual(float(row["rt_sec"]), np.asarray(xic.rt_sec)[scan])
                            self.assertEqual(float(row["intensity"]), intensity[target, scan])

    def test_tic_and_bpc_equal_the_scans_command_the_mzml_and_point_order_sums(self):
        for path in self.runs:
            run = velmoran_arrays.open(path)
            scans = tsv(program("scans", path))
            mzml = os.path.join(self.tmp.path, "tic.mzML")
            program("convert", "-q", path, "-o", mzml, "--compression", "none")
            chromatograms = dict(mzml_arrays(mzml, "chromatogram"))
            for level in (1, 2):
                with self.subTest(run=os.path.basename(path), ms_level=level):
                    tic, bpc = run.tic(ms_level=level), run.bpc(ms_level=level)
                    rows = [r for r in scans if int(r["ms_level"]) == level]
                    self.assertEqual(list(np.asarray(tic.index)), [int(r["index"]) for r in rows])
                    self.assertEqual(list(np.asarray(bpc.index)), list(np.asarray(tic.index)))
                    self.assertEqual([number(r["tic"]) for r in rows], list(np.asarray(tic.intensity)))
                    # The text is the 32-bit float's shortest.
                    self.assertEqual([np.float32(r["base_peak_intensity"]) for r in rows],
                                     list(np.asarray(bpc.intensity)))
                    self.assertTrue(all(same(number(r["base_peak_mz"]), m)
                                        for r, m in zip(rows, np.asarray(bpc.mz))))
                    tic_values, bpc_values = np.asarray(tic.intensity), np.asarray(bpc.intensity)
                    bpc_mz = np.asarray(bpc.mz)
                    for k, spectrum in enumerate(run.spectra(ms_level=level)):
                        intensity = np.asarray(spectrum.intensity)
                        self.assertEqual(tic_values[k], point_order_sum(intensity))
                        top = int(np.argmax(intensity)) if len(intensity) else None
                        self.assertEqual(bpc_values[k], intensity[top] if len(intensity) else 0)
                        self.assertTrue(same(bpc_mz[k], np.asarray(spectrum.mz)[top]
                                             if len(intensity) else math.nan))
                    self.assertIsNone(tic.channel)
                    self.assertIsNone(tic.q1)
                    self.assertIsNone(tic.mz)
                    if level == 1:  # convert traces the survey scans
                        times, tics = chromatograms["TIC"]
                        self.assertEqual(list(times), list(np.asarray(tic.rt_sec)))
                        self.assertEqual(list(tics), list(tic_values))
                        self.assertEqual(list(chromatograms["BPC"][1]), list(bpc_values))

    def test_scans_frame_totals_equal_the_scans_command(self):
        for path in self.runs:
            with self.subTest(run=os.path.basename(path)):
                frame = velmoran_arrays.open(path).scans_frame(totals=True)
                rows = tsv(program("scans", path))
                self.assertEqual(frame.tic.dtype, np.float64)
                self.assertEqual(frame.base_peak_mz.dtype, np.float64)
                self.assertEqual(frame.base_peak_intensity.dtype, np.float32)
                self.assertEqual(frame.centroided.dtype, np.bool_)
                self.assertEqual(list(frame.tic), [number(r["tic"]) for r in rows])
                self.assertEqual(list(frame.base_peak_intensity),
                                 [np.float32(r["base_peak_intensity"]) for r in rows])
                self.assertTrue(all(same(a, number(r["base_peak_mz"]))
                                    for a, r in zip(frame.base_peak_mz, rows)))
                self.assertEqual(list(frame.centroided),
                                 [r["representation"] == "centroid" for r in rows])
                self.assertNotIn("tic", velmoran_arrays.open(path).scans_frame().columns)

    def test_picked_peaks_equal_convert_peaks_picked(self):
        for mode in ("picked", "centroid", "profile"):
            for path in (self.profile, self.half):
                with self.subTest(run=os.path.basename(path), mode=mode):
                    mzml = os.path.join(self.tmp.path, "picked.mzML")
                    program("convert", "-q", path, "-o", mzml, "--compression", "none",
                            "--peaks", mode)
                    written = mzml_arrays(mzml, "spectrum")
                    run = velmoran_arrays.open(path)
                    peaks = run.peaks(peaks=mode)
                    self.assertEqual(len(peaks), len(written))
                    for k, (_, (mz, intensity)) in enumerate(written):
                        one = peaks[k]
                        self.assertEqual(list(np.asarray(one.mz)), list(mz))
                        self.assertEqual(list(np.asarray(one.intensity)), list(intensity))
                    for i in (0, len(run) // 2, len(run) - 1):
                        spectrum = run.spectrum(i, peaks=mode)
                        self.assertEqual(list(np.asarray(spectrum.mz)), list(written[i][1][0]))
                        if mode != "profile" and len(spectrum):
                            self.assertTrue(spectrum.centroided)
                    streamed = [np.asarray(s.mz) for s in run.spectra(peaks=mode, threads=2)]
                    self.assertEqual([list(m) for m in streamed], [list(m) for _, (m, _) in written])
        run = velmoran_arrays.open(self.profile)
        self.assertEqual(list(np.asarray(run.spectrum(3).mz)), list(np.asarray(run[3].mz)))
        for wrong in ("PICKED", "", "peaks", 1, b"picked"):
            with self.subTest(peaks=wrong):
                with self.assertRaises(ValueError if isinstance(wrong, str) else TypeError):
                    run.peaks(peaks=wrong)

    def test_peaks_columns_views_and_reductions(self):
        for path in self.runs:
            with self.subTest(run=os.path.basename(path)):
                run = velmoran_arrays.open(path)
                peaks = run.peaks(ms_level=[2, 1])
                index = np.asarray(peaks.index)
                again = pickle.loads(pickle.dumps(peaks))
                for column in ("scan_id", "ms_level", "rt_sec", "precursor_mz", "mrm_channel",
                               "mz_low", "mz_high"):
                    values = np.asarray(getattr(peaks, column))
                    want = np.asarray(run.scans[column])[index]
                    self.assertEqual(values.dtype, np.int64 if column in ("scan_id", "ms_level",
                                     "mrm_channel") else np.float64)
                    np.testing.assert_array_equal(values, want)
                    np.testing.assert_array_equal(np.asarray(getattr(again, column)), want)
                self.assertEqual(list(np.asarray(peaks.centroided)),
                                 [int(run[int(i)].centroided) for i in index])
                self.assertEqual([repr(s) for s in again], [repr(s) for s in peaks])
                offsets = np.asarray(peaks.offsets)
                intensity = np.asarray(peaks.intensity)
                tic = np.asarray(peaks.tic())
                base_mz, base_intensity = map(np.asarray, peaks.base_peak())
                self.assertEqual((tic.dtype, base_mz.dtype, base_intensity.dtype),
                                 (np.float64, np.float64, np.float32))
                spectra = list(peaks)
                self.assertEqual(len(spectra), len(peaks))
                for k, spectrum in enumerate(spectra):
                    part = intensity[offsets[k]:offsets[k + 1]]
                    self.assertEqual(spectrum.index, index[k])
                    self.assertEqual(list(np.asarray(spectrum.intensity)), list(part))
                    self.assertEqual(list(np.asarray(spectrum.mz)),
                                     list(np.asarray(run[int(index[k])].mz)))
                    self.assertEqual(tic[k], point_order_sum(part))
                    if len(part):
                        top = int(np.argmax(part))
                        self.assertEqual((base_mz[k], base_intensity[k]),
                                         (np.asarray(spectrum.mz)[top], part[top]))
                    else:
                        self.assertTrue(math.isnan(base_mz[k]))
                        self.assertEqual(base_intensity[k], 0)
                self.assertEqual(peaks[-1].index, index[-1])
                with self.assertRaises(IndexError):
                    peaks[len(peaks)]
                frame = peaks.frame()
                self.assertEqual(list(frame.columns),
                                 ["index", "scan_id", "rt_sec", "mz", "intensity"])
                self.assertEqual(len(frame), len(intensity))
                self.assertEqual(frame.intensity.dtype, np.float32)
                counts = np.diff(offsets)
                np.testing.assert_array_equal(frame["index"], np.repeat(index, counts))

    def test_a_run_of_empty_spectra(self):
        run = velmoran_arrays.open(self.empty)
        n = len(run)
        self.assertEqual(list(np.asarray(run.tic(ms_level=2).intensity)), [0.0] * len(run.tic(ms_level=2)))
        bpc = run.bpc()
        self.assertTrue(all(math.isnan(m) for m in np.asarray(bpc.mz)))
        self.assertEqual(set(np.asarray(bpc.intensity)), {0.0} if len(bpc) else set())
        peaks = run.peaks(peaks="picked")
        self.assertEqual((len(peaks), len(peaks.mz)), (n, 0))
        self.assertEqual(list(np.asarray(peaks.tic())), [0.0] * n)
        self.assertEqual(len(peaks.frame()), 0)
        xic = run.xic([500.0, 600.0], ppm=10)
        self.assertEqual(np.asarray(xic.intensity).tolist(), [[0.0] * len(xic.index)] * 2)

    def test_the_mzml_of_empty_spectra_is_read_by_openms(self):
        file_info = shutil.which("FileInfo")
        if not file_info:
            self.skipTest("OpenMS FileInfo is not installed")
        for path in (self.empty, self.half):
            with self.subTest(run=os.path.basename(path)):
                mzml = os.path.join(self.tmp.path, os.path.basename(path) + ".mzML")
                program("convert", "-q", path, "-o", mzml)
                checked = subprocess.run([file_info, "-in", mzml, "-v"], capture_output=True,
                                         text=True, timeout=120)
                self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)

    def test_xic_arguments(self):
        run = velmoran_arrays.open(self.profile)
        cases = [
            ({"mz": [500], "ppm": 10, "da": 0.1}, TypeError),
            ({"mz": [500]}, TypeError),
            ({"mz": "500", "ppm": 10}, TypeError),
            ({"mz": [500], "ppm": "10"}, TypeError),
            ({"mz": [500], "ppm": 10, "ms_level": True}, TypeError),
            ({"mz": [500], "ppm": 10, "ms_level": 1.0}, TypeError),
            ({"mz": [500], "ppm": math.nan}, ValueError),
            ({"mz": [500], "ppm": 0}, ValueError),
            ({"mz": [500], "ppm": -1}, ValueError),
            ({"mz": [500], "ppm": math.inf}, ValueError),
            ({"mz": [500], "ppm": 2e6}, ValueError),
            ({"mz": [500], "da": 0}, ValueError),
            ({"mz": [0.0], "ppm": 10}, ValueError),
            ({"mz": [math.nan], "ppm": 10}, ValueError),
            ({"mz": [1e308], "da": 1e308}, ValueError),
            ({"mz": [500], "ppm": 10, "ms_level": 0}, ValueError),
            ({"mz": [500], "ppm": 10, "threads": 0}, ValueError),
        ]
        for keywords, error in cases:
            with self.subTest(keywords=keywords):
                with self.assertRaises(error):
                    run.xic(**keywords)
        # Numpy scalars, one target, no targets, a window outside the run.
        one = run.xic(np.float64(500.0), ppm=np.float32(10), ms_level=np.int64(1))
        self.assertEqual(np.asarray(one.intensity).shape, (1, len(one.index)))
        none = run.xic([], ppm=10)
        self.assertEqual((len(none.mz), np.asarray(none.intensity).shape[0]), (0, 0))
        outside = run.xic([500.0], ppm=10, rt=(1e9, 2e9))
        self.assertEqual((len(outside.index), np.asarray(outside.intensity).shape), (0, (1, 0)))
        many = run.xic(np.linspace(100, 2000, 100_000), ppm=5, ms_level=1)
        self.assertEqual(np.asarray(many.intensity).shape, (100_000, len(many.index)))
        self.assertIn("Xic(1 targets", repr(one))
        with velmoran_arrays.open(self.profile) as closed:
            tic = closed.tic()
        for call in (lambda: closed.xic([500.0], ppm=10), closed.tic, closed.bpc,
                     lambda: closed.spectrum(0, peaks="picked"),
                     lambda: closed.scans_frame(totals=True)):
            with self.assertRaisesRegex(ValueError, "closed run"):
                call()
        self.assertEqual(len(np.asarray(tic.intensity)), len(tic))  # still valid

    def test_results_come_back_from_a_pool_worker(self):
        with multiprocessing.get_context("spawn").Pool(1) as pool:
            xic, tic, bpc = pool.apply(pickled_in_a_worker, (self.profile,))
        want = pickled_in_a_worker(self.profile)
        self.assertEqual(np.asarray(xic.intensity).tolist(), np.asarray(want[0].intensity).tolist())
        self.assertEqual(list(np.asarray(xic.index)), list(np.asarray(want[0].index)))
        self.assertEqual(list(np.asarray(tic.intensity)), list(np.asarray(want[1].intensity)))
        self.assertTrue(all(same(a, b) for a, b in zip(np.asarray(bpc.mz), np.asarray(want[2].mz))))
        self.assertEqual(repr(pickle.loads(pickle.dumps(tic))), repr(tic))


if __name__ == "__main__":
    unittest.main()
