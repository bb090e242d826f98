"""Run.channels(), Run.transitions() and open(transitions=): an MRM run's
channel chromatograms against the generator's expected spectra (math.fsum
of each fragment scan's intensities), the transition list read with csv,
and, when VELMORAN names the program, against the chromatograms of the mzML
it writes (decoded here with base64, zlib and struct).
"""
import base64
import csv
import gc
import math
import os
import pickle
import re
import struct
import subprocess
import unittest
import zlib

import velmoran_arrays

from dataset_tools import MKDATASET, TempDir, make_dataset, needs_generator


def expected_channels(scans):
    traces = {}
    for index, scan in enumerate(scans):
        if scan["ms_level"] >= 2 and "mrm_channel" in scan:
            trace = traces.setdefault(scan["mrm_channel"], ([], [], []))
            trace[0].append(index)
            trace[1].append(scan["retention_time_sec"])
            trace[2].append(math.fsum(scan["intensity"]))
    return traces


@needs_generator
class ChannelsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.runs = {}
        for layout in (196, 186):
            path, scans = make_dataset(cls.tmp.path, f"mrm{layout}.d", "mrm", "--layout", layout,
                                       "--scans", 70, "--seed", 3)
            cls.runs[layout] = (path, scans)
        cls.list = os.path.join(cls.tmp.path, "list.csv")
        subprocess.run([MKDATASET, "mrm", os.path.join(cls.tmp.path, "other.d"), "--transitions",
                        cls.list], check=True, stdout=subprocess.DEVNULL)
        with open(cls.list, newline="") as f:
            cls.rows = {int(r["channel"]): r for r in csv.DictReader(f)}

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def check(self, channels, scans, with_list):
        want = expected_channels(scans)
        self.assertEqual(list(channels), sorted(want))
        for channel, chromatogram in channels.items():
            index, rt, intensity = want[channel]
            self.assertIsInstance(chromatogram, velmoran_arrays.Chromatogram)
            self.assertEqual(chromatogram.channel, channel)
            self.assertEqual(len(chromatogram), len(index))
            self.assertEqual(list(memoryview(chromatogram.index)), index)
            self.assertEqual(list(memoryview(chromatogram.rt_sec)), rt)
            for got, value in zip(memoryview(chromatogram.intensity), intensity):
                self.assertAlmostEqual(got, value, delta=1e-12 * value)
            row = self.rows[channel] if with_list else None
            self.assertEqual(chromatogram.q1, float(row["precursor_mz"]) if row else None)
            self.assertEqual(chromatogram.q3, float(row["product_mz"]) if row else None)
            self.assertEqual(chromatogram.name, row["name"] if row else None)
            energy = row["collision_energy"] if row else ""
            self.assertEqual(chromatogram.collision_energy, float(energy) if energy else None)

    def test_channels_of_both_layouts_with_and_without_a_list(self):
        for layout, (path, scans) in self.runs.items():
            with self.subTest(layout=layout):
                run = velmoran_arrays.open(path)
                self.check(run.channels(), scans, with_list=False)
                self.assertEqual(run.transitions(self.list), len(self.rows))
                self.check(run.channels(threads=1), scans, with_list=True)
                # A pickled run reopens with the list it was given.
                self.check(pickle.loads(pickle.dumps(run)).channels(), scans, with_list=True)
                self.check(velmoran_arrays.open(path, transitions=self.list).channels(threads=3),
                           scans, with_list=True)

    def test_arrays_outlive_the_run(self):
        path, scans = self.runs[196]
        chromatogram = next(iter(velmoran_arrays.open(path).channels().values()))
        gc.collect()
        self.assertEqual(len(memoryview(chromatogram.rt_sec)), len(chromatogram))
        self.assertIn("Chromatogram(channel=", repr(chromatogram))

    def test_a_run_without_channels_has_none(self):
        path, _ = make_dataset(self.tmp.path, "dda.d", "synth", "--ms1", 2, "--ms2", 3,
                               "--points", 50, "--peaks", 5, expect=False)
        self.assertEqual(velmoran_arrays.open(path).channels(), {})

    def test_bad_lists_and_arguments(self):
        path, _ = self.runs[186]
        run = velmoran_arrays.open(path)
        bad = os.path.join(self.tmp.path, "bad.csv")
        with open(bad, "w") as f:
            f.write("channel,precursor_mz,product_mz\n1,300,100\n2,nan,100\n")
        with self.assertRaises(velmoran_arrays.FormatError) as raised:
            run.transitions(bad)
        self.assertIn("bad.csv:3: column precursor_mz", str(raised.exception))
        self.assertIsInstance(raised.exception, ValueError)
        with self.assertRaises(FileNotFoundError) as raised:
            velmoran_arrays.open(path, transitions=os.path.join(self.tmp.path, "missing.csv"))
        self.assertEqual(raised.exception.filename, os.path.join(self.tmp.path, "missing.csv"))
        with self.assertRaises(TypeError):
            run.transitions(3)
        with self.assertRaises(TypeError):
            run.channels(threads="2")
        with self.assertRaises(ValueError):
            run.channels(threads=0)
        with self.assertRaises(TypeError):
            velmoran_arrays.Chromatogram()
        # A failed list leaves the one before in place.
        run.transitions(self.list)
        with self.assertRaises(velmoran_arrays.FormatError):
            run.transitions(bad)
        self.assertIsNotNone(next(iter(run.channels().values())).q1)


def mzml_chromatograms(path):
    """Each chromatogram's id, times and intensities, decoded from the file."""
    with open(path, encoding="utf-8") as f:
        text = f.read()
    found = {}
    for element in re.findall(r"<chromatogram .*?</chromatogram>", text, re.S):
        identifier = re.search(r' id="([^"]*)"', element).group(1)
        arrays = []
        for array in re.findall(r"<binaryDataArray .*?</binaryDataArray>", element, re.S):
            data = re.search(r"<binary>(.*?)</binary>", array, re.S)
            raw = base64.b64decode(data.group(1)) if data else b""
            if 'accession="MS:1000574"' in array and raw:
                raw = zlib.decompress(raw)
            if 'accession="MS:1000523"' not in array:
                raise AssertionError(f"{identifier}: an array that is not 64-bit")
            arrays.append(list(struct.unpack(f"<{len(raw) // 8}d", raw)))
        found[identifier] = arrays
    return found


@needs_generator
@unittest.skipUnless(os.environ.get("VELMORAN"), "VELMORAN does not name the velmoran program")
class EqualsMzmlTest(unittest.TestCase):
    def test_channels_equal_the_mzml_chromatograms(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        for layout in (196, 186):
            with self.subTest(layout=layout):
                path, _ = make_dataset(tmp.path, f"run{layout}.d", "mrm", "--layout", layout,
                                       "--scans", 90, "--seed", 8)
                listing = os.path.join(tmp.path, f"list{layout}.csv")
                subprocess.run([MKDATASET, "mrm", os.path.join(tmp.path, "x.d"), "--transitions",
                                listing], check=True, stdout=subprocess.DEVNULL)
                mzml = os.path.join(tmp.path, f"run{layout}.mzML")
                subprocess.run([os.environ["VELMORAN"], "convert", "-q", path, "-o", mzml,
                                "--transitions", listing], check=True)
                written = mzml_chromatograms(mzml)
                channels = velmoran_arrays.open(path, transitions=listing).channels()
                self.assertEqual(len(written), 2 + len(channels))
                for channel, chromatogram in channels.items():
                    ids = [i for i in written if i.endswith(f" channel={channel}") or
                           f" channel={channel} name=" in i]
                    self.assertEqual(len(ids), 1, ids)
                    self.assertIn(f"Q1={chromatogram.q1!r} Q3={chromatogram.q3!r}", ids[0])
                    times, intensities = written[ids[0]]
                    self.assertEqual(times, list(memoryview(chromatogram.rt_sec)))
                    self.assertEqual(intensities, list(memoryview(chromatogram.intensity)))


if __name__ == "__main__":
    unittest.main()
