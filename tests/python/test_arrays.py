"""velmoran_arrays: values against velmoran.RawReader and the writer's
expected spectra in every scan-table layout, the scan table columns,
damaged scans, selection and threads, buffers and errors. Runs under every
interpreter through memoryview; test_arrays_numpy.py adds numpy and pandas."""

import errno
import math
import os
import struct
import threading
import time
import unittest

import velmoran
import velmoran_arrays as va
from dataset_tools import TempDir, make_dataset, needs_generator

# (mode, layout, generator options): every scan-table layout.
LAYOUTS = [
    ("synth", 284, ("--ms1", 4, "--ms2", 8, "--points", 300, "--peaks", 40)),
    ("synth", 220, ("--ms1", 4, "--ms2", 8, "--peaks", 40)),
    ("synth", 216, ("--ms1", 4, "--ms2", 8, "--peaks", 40)),
    ("mrm", 196, ("--scans", 24, "--peaks", 10)),
    ("mrm", 186, ("--scans", 24, "--peaks", 10)),
]


def values(array):
    return memoryview(array).tolist()


def nan_or(value):
    return math.nan if value is None else value


def same_float(a, b):
    return a == b or (math.isnan(a) and math.isnan(b))


@needs_generator
class LayoutTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.runs = {}
        for mode, layout, options in LAYOUTS:
            cls.runs[layout] = make_dataset(
                cls.tmp.path, "l%d.d" % layout, mode, "--layout", layout, *options)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def test_spectra_equal_raw_reader_and_writer_in_every_layout(self):
        for layout, (path, expected) in self.runs.items():
            with self.subTest(layout=layout):
                run = va.open(path)
                raw = velmoran.RawReader(path)
                self.assertEqual((len(run), run.record_length), (len(expected), layout))
                by_index = [run[i] for i in range(len(run))]
                iterated = list(run.spectra(threads=2))
                peaks = run.peaks(threads=2)
                offsets = values(peaks.offsets)
                self.assertEqual(values(peaks.index), list(range(len(run))))
                for i, want in enumerate(expected):
                    old = raw.read_spectrum(i)
                    for s in (by_index[i], iterated[i]):
                        self.assertEqual(values(s.mz), old.mz)
                        self.assertEqual(values(s.intensity), old.intensity)
                        self.assertEqual(values(s.mz), want["mz"])
                        self.assertEqual(values(s.intensity), want["intensity"])
                        self.assertEqual((s.index, s.scan_id, s.ms_level, s.rt_sec),
                                         (i, want["scan_id"], want["ms_level"],
                                          want["retention_time_sec"]))
                        self.assertEqual(s.precursor_mz, want.get("precursor_mz"))
                        self.assertEqual(s.mrm_channel, want.get("mrm_channel"))
                        self.assertEqual(s.mz_range, tuple(want["mz_range"]) if "mz_range" in want else None)
                        self.assertEqual(s.centroided, bool(want["mz"]) and not want["from_profile"])
                        self.assertIsNone(s.error)
                    lo, hi = offsets[i], offsets[i + 1]
                    self.assertEqual(values(peaks.mz)[lo:hi], old.mz)
                    self.assertEqual(values(peaks.intensity)[lo:hi], old.intensity)

    def test_scan_columns_match_the_writer(self):
        for layout, (path, expected) in self.runs.items():
            with self.subTest(layout=layout):
                scans = va.open(path).scans
                formats = {name: column.format for name, column in scans.items()}
                self.assertEqual(formats, {
                    "scan_id": "q", "ms_level": "q", "rt_sec": "d", "precursor_mz": "d",
                    "mrm_channel": "q", "mz_low": "d", "mz_high": "d",
                    "profile_points": "q", "peak_points": "q"})
                col = {name: values(column) for name, column in scans.items()}
                for i, want in enumerate(expected):
                    self.assertEqual(col["scan_id"][i], want["scan_id"])
                    self.assertEqual(col["ms_level"][i], want["ms_level"])
                    self.assertEqual(col["rt_sec"][i], want["retention_time_sec"])
                    self.assertTrue(same_float(col["precursor_mz"][i], nan_or(want.get("precursor_mz"))))
                    self.assertEqual(col["mrm_channel"][i], want.get("mrm_channel", -1))
                    low, high = want.get("mz_range", (None, None))
                    self.assertTrue(same_float(col["mz_low"][i], nan_or(low)))
                    self.assertTrue(same_float(col["mz_high"][i], nan_or(high)))
                    points = len(want["mz"])
                    self.assertEqual(col["profile_points"][i] if want["from_profile"] else col["peak_points"][i], points)
                # Which layouts carry which fields, as the writer stores them.
                has = lambda key: any(key in s for s in expected)
                self.assertEqual(has("precursor_mz"), layout in (284, 220, 216))
                self.assertEqual(has("mrm_channel"), layout in (196, 186))
                self.assertEqual(has("mz_range"), layout == 284)
                self.assertFalse(any("precursor_mz" in s for s in expected if s["ms_level"] < 2))


@needs_generator
class RunTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.path, cls.expected = make_dataset(
            cls.tmp.path, "run.d", "synth", "--ms1", 6, "--ms2", 18, "--points", 200, "--peaks", 30)
        cls.opened = va.open(cls.path)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def test_selection_keeps_table_order_on_any_number_of_threads(self):
        rts = [s["retention_time_sec"] for s in self.expected]
        levels = [s["ms_level"] for s in self.expected]
        low, high = rts[3], rts[10]  # bounds equal to scans' times: inclusive
        cases = [
            ({}, range(len(rts))),
            ({"ms_level": 2}, [i for i in range(len(rts)) if levels[i] == 2]),
            ({"ms_level": [1, 2]}, range(len(rts))),
            ({"ms_level": {1}}, [i for i in range(len(rts)) if levels[i] == 1]),
            ({"ms_level": 7}, []),
            ({"rt": (low, high)}, range(3, 11)),
            ({"rt": [low, None]}, range(3, len(rts))),
            ({"ms_level": 1, "rt": (None, high)}, [i for i in range(11) if levels[i] == 1]),
        ]
        for kwargs, want in cases:
            for threads in (1, 2, 5):
                with self.subTest(kwargs=kwargs, threads=threads):
                    got = [s.index for s in self.opened.spectra(threads=threads, **kwargs)]
                    self.assertEqual(got, list(want))
                    peaks = self.opened.peaks(threads=threads, **kwargs)
                    self.assertEqual(values(peaks.index), list(want))
                    self.assertEqual(len(peaks.offsets), len(want) + 1)

    def test_argument_errors(self):
        cases = [
            (TypeError, lambda: self.opened.spectra(ms_level="2")),
            (TypeError, lambda: self.opened.spectra(ms_level=[1, 2.0])),
            (TypeError, lambda: self.opened.peaks(rt=5)),
            (TypeError, lambda: self.opened.peaks(rt=(1, 2, 3))),
            (TypeError, lambda: self.opened.peaks(rt=("a", 2))),
            (TypeError, lambda: self.opened.peaks(threads=1.5)),
            (ValueError, lambda: self.opened.peaks(threads=0)),
            (TypeError, lambda: self.opened.spectra(1, 2, 3, 4, 5)),
            (TypeError, lambda: self.opened.spectra(level=1)),
            (TypeError, lambda: self.opened.spectra(1, ms_level=1)),
            (TypeError, lambda: self.opened["0"]),
            (TypeError, lambda: self.opened[1.0]),
            (IndexError, lambda: self.opened[len(self.opened)]),
            (IndexError, lambda: self.opened[-len(self.opened) - 1]),
            (TypeError, lambda: va.open(3)),
            (TypeError, lambda: va.open()),
            (TypeError, lambda: va.Spectrum()),
        ]
        for exception, call in cases:
            with self.subTest(call=call):
                self.assertRaises(exception, call)

    def test_negative_index_counts_from_the_end(self):
        self.assertEqual(self.opened[-1].index, len(self.opened) - 1)
        self.assertEqual(self.opened[-len(self.opened)].index, 0)

    def test_reprs(self):
        first = self.expected[1]
        spectrum = self.opened[1]
        self.assertEqual(repr(self.opened), "Run(%r, %d scans)" % (self.path, len(self.expected)))
        self.assertEqual(repr(spectrum), "Spectrum(scan %d, MS%d, %d points, RT %.2f s)" % (
            first["scan_id"], first["ms_level"], len(first["mz"]), first["retention_time_sec"]))
        self.assertEqual(repr(spectrum.mz), "Array('float64', %d items)" % len(first["mz"]))
        self.assertRegex(repr(self.opened.peaks(ms_level=2)), r"^Peaks\(18 spectra, 540 points\)$")

    def test_buffers_are_read_only_and_outlive_their_owners(self):
        run = va.open(self.path)
        spectrum = run[0]
        view = memoryview(spectrum.mz)
        self.assertEqual((view.readonly, view.format, view.itemsize, view.ndim),
                         (True, "d", 8, 1))
        self.assertEqual(memoryview(spectrum.intensity).format, "f")
        self.assertTrue(view.c_contiguous)
        self.assertIs(spectrum.mz, spectrum.mz)
        with self.assertRaises((BufferError, TypeError)):
            struct.pack_into("d", spectrum.mz, 0, 1.0)
        peaks_view = memoryview(run.peaks().mz)
        del spectrum, run
        self.assertEqual(view.tolist(), self.expected[0]["mz"])
        self.assertEqual(len(peaks_view), sum(len(s["mz"]) for s in self.expected))

    def test_paths_may_be_bytes_or_path_like(self):
        import pathlib
        for path in (os.fsencode(self.path), pathlib.Path(self.path)):
            with self.subTest(path=path):
                run = va.open(path)
                self.assertEqual((run.path, run.name), (self.path, "run.d"))

    def test_scans_frame_without_pandas_says_so(self):
        try:
            import pandas  # noqa: F401
            self.skipTest("pandas is installed")
        except ImportError:
            pass
        for call in (self.opened.scans_frame, self.opened.peaks(ms_level=1).frame):
            with self.subTest(call=call), self.assertRaisesRegex(ImportError,
                                                                  "needs pandas") as raised:
                call()
            # Raised from the import's own failure.
            self.assertIsInstance(raised.exception.__cause__, ImportError)


@needs_generator
class DamagedTest(unittest.TestCase):
    def test_scans_past_a_truncated_file_are_empty_with_an_error_and_the_rest_intact(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        path, expected = make_dataset(tmp.path, "cut.d", "synth", "--ms1", 4, "--ms2", 12,
                                      "--points", 100, "--peaks", 20, "--layout", 284)
        peak_file = os.path.join(path, "AcqData", "MSPeak.bin")
        os.truncate(peak_file, os.path.getsize(peak_file) // 2)
        run = va.open(path)
        raw = velmoran.RawReader(path)
        errors = []
        for i, want in enumerate(expected):
            s = run[i]
            self.assertEqual(values(s.mz), raw.read_spectrum(i).mz)
            if s.error is None:
                self.assertEqual(values(s.mz), want["mz"])
            else:
                self.assertEqual((len(s), s.error), (0, "I/O error: failed to fill whole buffer"))
                errors.append(i)
        centroid = [i for i, s in enumerate(expected) if not s["from_profile"]]
        self.assertEqual(errors, centroid[len(centroid) - len(errors):])
        self.assertTrue(0 < len(errors) < len(centroid))
        self.assertEqual([s.error for s in run.spectra()], [run[i].error for i in range(len(run))])


class OpenErrorTest(unittest.TestCase):
    def test_system_errors_are_os_error_subclasses_and_bad_tables_format_errors(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        a_file = os.path.join(tmp.path, "file")
        open(a_file, "w").close()
        no_table = os.path.join(tmp.path, "no_table.d")
        os.makedirs(os.path.join(no_table, "AcqData"))
        table_dir = os.path.join(tmp.path, "table_dir.d")
        os.makedirs(os.path.join(table_dir, "AcqData", "MSScan.bin"))
        bad_magic = os.path.join(tmp.path, "bad_magic.d")
        os.makedirs(os.path.join(bad_magic, "AcqData"))
        with open(os.path.join(bad_magic, "AcqData", "MSScan.bin"), "wb") as f:
            f.write(bytes(92))
        missing = os.path.join(tmp.path, "missing.d")
        cases = [
            (missing, FileNotFoundError, errno.ENOENT, os.path.join(missing, "AcqData")),
            (a_file, NotADirectoryError, errno.ENOTDIR, os.path.join(a_file, "AcqData")),
            (no_table, FileNotFoundError, errno.ENOENT,
             os.path.join(no_table, "AcqData", "MSScan.bin")),
            (table_dir, IsADirectoryError, errno.EISDIR,
             os.path.join(table_dir, "AcqData", "MSScan.bin")),
        ]
        for path, exception, number, filename in cases:
            with self.subTest(path=path):
                with self.assertRaises(exception) as caught:
                    va.open(path)
                self.assertEqual((caught.exception.errno, caught.exception.filename),
                                 (number, filename))
        with self.assertRaises(va.FormatError) as caught:
            va.open(bad_magic)
        self.assertIsInstance(caught.exception, ValueError)
        self.assertEqual(str(caught.exception), "parse error: Invalid MSScan magic: 0")


@needs_generator
class ThreadsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.path, _ = make_dataset(cls.tmp.path, "big.d", "synth", "--ms1", 300, "--ms2", 0,
                                   "--points", 20000, expect=False)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def test_a_python_thread_keeps_running_while_peaks_reads(self):
        run = va.open(self.path)
        ticks = [0]
        stop = threading.Event()

        def count():
            while not stop.is_set():
                ticks[0] += 1

        counter = threading.Thread(target=count)
        counter.start()
        try:
            # The counter's pace while this thread sleeps, then during peaks().
            before = ticks[0]
            time.sleep(0.1)
            rate = (ticks[0] - before) / 0.1
            before = ticks[0]
            started = time.perf_counter()
            peaks = run.peaks(threads=1)
            elapsed = time.perf_counter() - started
            during = ticks[0] - before
        finally:
            stop.set()
            counter.join()
        self.assertEqual(len(peaks.mz), 300 * 20000)
        # Were the lock held, the counter would get at most one switch
        # interval (5 ms) of the read; it gets a good part of all of it.
        self.assertGreater(elapsed, 0.02)
        self.assertGreater(during, 0.2 * rate * elapsed)

    def test_threads_share_runs_and_iterators(self):
        run = va.open(self.path)
        shared = run.spectra(threads=2)
        taken = [[] for _ in range(4)]
        separate = [None] * 4

        def work(k):
            for spectrum in shared:
                taken[k].append(spectrum.index)
            separate[k] = [len(s) for s in va.open(self.path).spectra(threads=2)]

        workers = [threading.Thread(target=work, args=(k,)) for k in range(4)]
        for w in workers:
            w.start()
        for w in workers:
            w.join()
        every = sorted(i for part in taken for i in part)
        self.assertEqual(every, list(range(len(run))))
        for part in taken:
            self.assertEqual(part, sorted(part))
        self.assertEqual(separate, [[20000] * len(run)] * 4)


if __name__ == "__main__":
    unittest.main()
