"""velmoran_arrays with numpy and pandas: arrays shared without a copy,
read-only, of the right dtype; the scan table as a DataFrame. Skipped where
numpy is missing (CTest runs them under an interpreter that has it)."""

import unittest

import velmoran
import velmoran_arrays as va
import test_arrays_container
# The exit test once more where numpy and pandas exist: it then also calls
# the members that run them.
from test_arrays_process import ExitTest  # noqa: F401
from dataset_tools import TempDir, make_dataset, needs_generator

try:
    import numpy
except ImportError:
    numpy = None
try:
    import pandas
except ImportError:
    pandas = None


@needs_generator
@unittest.skipUnless(numpy, "numpy is not installed")
class NumpyTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.path, cls.expected = make_dataset(
            cls.tmp.path, "run.d", "synth", "--ms1", 4, "--ms2", 8, "--points", 500, "--peaks", 25)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def test_arrays_are_shared_read_only_and_typed(self):
        run = va.open(self.path)
        spectrum = run[0]
        peaks = run.peaks(ms_level=2)
        cases = [
            (spectrum.mz, numpy.float64), (spectrum.intensity, numpy.float32),
            (peaks.mz, numpy.float64), (peaks.intensity, numpy.float32),
            (peaks.offsets, numpy.int64), (peaks.index, numpy.int64),
            (run.scans["scan_id"], numpy.int64), (run.scans["mrm_channel"], numpy.int64),
        ]
        for array, dtype in cases:
            with self.subTest(array=array):
                a = numpy.asarray(array)
                self.assertEqual(a.dtype, dtype)
                self.assertFalse(a.flags.writeable)
                self.assertTrue(numpy.shares_memory(a, numpy.asarray(array)))
                with self.assertRaises(ValueError):
                    a[0] = 0
        mz = numpy.asarray(spectrum.mz)
        del spectrum, run
        self.assertEqual(mz.tolist(), self.expected[0]["mz"])

    def test_peaks_slices_by_offsets_equal_raw_reader(self):
        raw = velmoran.RawReader(self.path)
        peaks = va.open(self.path).peaks(threads=2)
        mz, intensity = numpy.asarray(peaks.mz), numpy.asarray(peaks.intensity)
        offsets = numpy.asarray(peaks.offsets)
        for k, position in enumerate(numpy.asarray(peaks.index)):
            old = raw.read_spectrum(int(position))
            self.assertEqual(mz[offsets[k]:offsets[k + 1]].tolist(), old.mz)
            self.assertEqual(intensity[offsets[k]:offsets[k + 1]].tolist(), old.intensity)

    def test_arrays_convert_through_every_numpy_entry(self):
        mz = va.open(self.path)[0].mz
        base = numpy.asarray(mz)
        for made in (numpy.asarray(mz[2:9]), numpy.array(mz[2:9], copy=False),
                     mz[2:9].__array__(), numpy.asarray(memoryview(mz[2:9]))):
            self.assertEqual(made.tolist(), self.expected[0]["mz"][2:9])
            self.assertTrue(numpy.shares_memory(made, base))
        copied = mz.__array__(copy=True)
        self.assertFalse(numpy.shares_memory(copied, base))
        self.assertEqual(mz.__array__(dtype="float32").dtype, numpy.float32)
        self.assertEqual(numpy.asarray(mz).sum(), sum(self.expected[0]["mz"]))

    def test_copy_false_gives_a_view_or_refuses(self):
        # numpy 2's protocol, called directly (numpy 1 never passes copy).
        mz = va.open(self.path)[0].mz
        base = numpy.asarray(mz)
        for dtype in (None, "float64", numpy.dtype("<f8")):
            with self.subTest(dtype=dtype):
                self.assertTrue(numpy.shares_memory(mz.__array__(dtype, copy=False), base))
        with self.assertRaises(ValueError):
            mz.__array__("float32", copy=False)

    def test_zero_dimensional_numpy_values_are_arguments(self):
        run = va.open(self.path)
        levels = [s["ms_level"] for s in self.expected]
        for call, want in (
                (lambda: run[numpy.array(3)].index, 3),
                (lambda: run.spectrum(numpy.array(-1)).index, len(levels) - 1),
                (lambda: run.peaks(index=[numpy.array(2)]).index.tolist(), [2]),
                (lambda: [s.index for s in run.spectra(ms_level=numpy.array(1))],
                 [i for i, level in enumerate(levels) if level == 1]),
                (lambda: run.xic(numpy.array(500.0), ppm=10).mz.tolist(), [500.0])):
            self.assertEqual(call(), want)
        with self.assertRaises(TypeError):
            run[numpy.bool_(True)]

    @unittest.skipUnless(pandas, "pandas is not installed")
    def test_pandas_sees_one_row_per_element_with_the_column_dtype(self):
        run = va.open(self.path)
        spectrum, n = run[1], len(self.expected)
        series = pandas.Series(spectrum.intensity)
        self.assertEqual((len(series), series.dtype), (len(spectrum), numpy.float32))
        self.assertEqual(series.tolist(), self.expected[1]["intensity"])
        self.assertTrue(numpy.shares_memory(series.to_numpy(), numpy.asarray(spectrum.intensity)))
        frame = pandas.DataFrame({"mz": spectrum.mz, "intensity": spectrum.intensity})
        self.assertEqual(frame.shape, (len(spectrum), 2))
        self.assertEqual(frame.dtypes.tolist(), [numpy.float64, numpy.float32])
        frame = pandas.DataFrame(run.scans)
        self.assertEqual(frame.shape, (n, len(run.scans)))
        self.assertEqual({name: str(dtype) for name, dtype in frame.dtypes.items()}, {
            "scan_id": "int64", "ms_level": "int64", "rt_sec": "float64",
            "precursor_mz": "float64", "mrm_channel": "int64", "mz_low": "float64",
            "mz_high": "float64", "profile_points": "int64", "peak_points": "int64"})
        self.assertEqual(frame["scan_id"].tolist(), [s["scan_id"] for s in self.expected])
        self.assertEqual(run.scans_frame().dtypes.tolist(), frame.dtypes.tolist())

    @unittest.skipUnless(pandas, "pandas is not installed")
    def test_scans_frame_has_the_columns(self):
        run = va.open(self.path)
        frame = run.scans_frame()
        self.assertEqual(list(frame.columns), list(run.scans))
        self.assertEqual(frame["scan_id"].tolist(), [s["scan_id"] for s in self.expected])
        ms2 = frame[frame.ms_level == 2]
        self.assertEqual(ms2["precursor_mz"].tolist(),
                         [s["precursor_mz"] for s in self.expected if s["ms_level"] == 2])
        self.assertTrue(frame[frame.ms_level == 1]["precursor_mz"].isna().all())


# The container tests once more with numpy's arguments (they run with
# whatever numpy the interpreter has).
@unittest.skipUnless(numpy, "numpy is not installed")
class ContainerWithNumpyTest(test_arrays_container.RunContainerTest):
    pass


if __name__ == "__main__":
    unittest.main()
