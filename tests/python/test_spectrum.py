"""Spectrum: representation, lists, lifetime and memory."""

import gc
import math
import random
import struct
import unittest
import weakref

import velmoran
from dataset_tools import (TempDir, make_dataset, minutes_for_seconds, needs_generator,
                           set_retention_times)

# A one-peak centroid run in the 220 layout: every scan is small, and its
# retention time is patched in.
LAYOUT = 220


def float32(value):
    return struct.unpack("<f", struct.pack("<f", value))[0]


def resident_bytes():
    with open("/proc/self/statm") as f:
        return int(f.read().split()[1]) * 4096


@needs_generator
class SpectrumTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.path, cls.expected = make_dataset(cls.tmp.path, "run.d", "synth", "--layout", LAYOUT,
                                              "--ms1", 2, "--ms2", 4, "--peaks", 50)
        cls.reader = velmoran.RawReader(cls.path)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def spectra_with_times(self, name, minutes):
        path, _ = make_dataset(self.tmp.path, name, "synth", "--layout", LAYOUT, "--ms1", 0,
                               "--ms2", len(minutes), "--peaks", 1)
        set_retention_times(path, LAYOUT, minutes)
        reader = velmoran.RawReader(path)
        return [reader.read_spectrum(i) for i in range(len(minutes))]

    def test_repr_of_retention_times(self):
        cases = [
            (90.0, "90.00"), (0.125, "0.12"), (0.375, "0.38"), (0.625, "0.62"),
            (1234.5678, "1234.57"), (2.675, "2.67"), (0.005, "0.01"), (0.0, "0.00"),
            (-0.001, "-0.00"), (-0.0, "-0.00"), (-0.005, "-0.01"), (-12.345, "-12.35"),
            (1e300, "%d.00" % int(1e300)),  # written out in full, every digit exact
            (math.nan, "NaN"), (math.inf, "inf"), (-math.inf, "-inf"),
        ]
        spectra = self.spectra_with_times("times.d", [minutes_for_seconds(s) for s, _ in cases])
        for (seconds, text), spectrum in zip(cases, spectra):
            with self.subTest(seconds=seconds):
                if not math.isnan(seconds):
                    self.assertEqual(spectrum.retention_time_sec, seconds)
                self.assertEqual(repr(spectrum), "Spectrum(1 peaks, RT %ss)" % text)

    def test_repr_rounds_like_python(self):
        # Python formats the exact binary value correctly rounded, ties to even.
        rng = random.Random(5)
        minutes = [rng.uniform(-1, 1) * 10.0 ** rng.randint(-6, 20) for _ in range(300)]
        ties = (minutes_for_seconds(rng.randint(-10**6, 10**6) / 8) for _ in range(200))
        minutes += [m for m in ties if m is not None]
        spectra = self.spectra_with_times("random.d", minutes)
        self.assertGreater(sum(s.retention_time_sec * 8 % 2 == 1 for s in spectra), 50)
        for spectrum in spectra:
            rt = spectrum.retention_time_sec
            self.assertEqual(repr(spectrum), "Spectrum(1 peaks, RT %ss)" % format(rt, ".2f"))

    def test_empty_and_single_point(self):
        for peaks in (0, 1):
            with self.subTest(peaks=peaks):
                path, expected = make_dataset(self.tmp.path, "p%d.d" % peaks, "synth", "--layout",
                                              LAYOUT, "--ms1", 0, "--ms2", 1, "--peaks", peaks)
                spectrum = velmoran.RawReader(path).read_spectrum(0)
                self.assertEqual(len(spectrum), peaks)
                self.assertEqual(bool(spectrum), bool(peaks))
                self.assertEqual((spectrum.mz, spectrum.intensity),
                                 (expected[0]["mz"], expected[0]["intensity"]))
                self.assertTrue(repr(spectrum).startswith("Spectrum(%d peaks, RT " % peaks))

    def test_attributes(self):
        spectrum = self.reader.read_spectrum(1)
        scan = self.expected[1]
        self.assertEqual(len(spectrum), len(scan["mz"]))
        self.assertEqual(spectrum.ms_level, scan["ms_level"])
        self.assertIsInstance(spectrum.ms_level, int)
        self.assertEqual(spectrum.retention_time_sec, scan["retention_time_sec"])
        self.assertTrue(all(type(v) is float for v in spectrum.mz + spectrum.intensity))
        self.assertEqual(spectrum.intensity, [float32(v) for v in spectrum.intensity])
        self.assertEqual(str(spectrum), repr(spectrum))

    def test_lists_are_fresh_on_every_read(self):
        spectrum = self.reader.read_spectrum(2)
        self.assertIsNot(spectrum.mz, spectrum.mz)
        self.assertIsNot(spectrum.intensity, spectrum.intensity)
        mz = spectrum.mz
        mz.append(1.0)
        mz[0] = -1.0
        self.assertEqual(len(spectrum), len(self.expected[2]["mz"]))
        self.assertEqual(spectrum.mz, self.expected[2]["mz"])

    def test_distinct_objects_compared_by_identity(self):
        a, b = self.reader.read_spectrum(3), self.reader.read_spectrum(3)
        self.assertIsNot(a, b)
        self.assertNotEqual(a, b)
        self.assertEqual((a.mz, a.intensity, a.ms_level, a.retention_time_sec),
                         (b.mz, b.intensity, b.ms_level, b.retention_time_sec))

    def test_read_only_value(self):
        spectrum = self.reader.read_spectrum(0)
        for name in ("mz", "intensity", "ms_level", "retention_time_sec", "extra"):
            with self.subTest(name):
                with self.assertRaises(AttributeError):
                    setattr(spectrum, name, 1)
        with self.assertRaises(TypeError):
            spectrum[0]
        with self.assertRaises(TypeError):
            iter(spectrum)
        with self.assertRaises(TypeError):
            weakref.ref(spectrum)
        self.assertFalse(gc.is_tracked(spectrum))

    def test_spectrum_outlives_its_reader(self):
        reader = velmoran.RawReader(self.path)
        spectrum = reader.read_spectrum(5)
        del reader
        gc.collect()
        self.assertEqual(spectrum.mz, self.expected[5]["mz"])
        self.assertEqual(spectrum.intensity, self.expected[5]["intensity"])

    def test_memory_stays_flat(self):
        read = self.reader.read_spectrum

        def churn(calls):
            for i in range(calls):
                spectrum = read(i % 6)
                spectrum.mz
                spectrum.intensity

        churn(10_000)
        before = resident_bytes()
        churn(100_000)
        grown = resident_bytes() - before
        # A leak of one spectrum or one list per call would be tens of MB.
        self.assertLess(grown, 4 << 20)


if __name__ == "__main__":
    unittest.main()
