"""Run.qc() of velmoran_arrays under every interpreter: the value types
mzQC's JSON gives them, the same answer from threads running at once (the
interpreter lock is released while the run is read), and a run cut short
as FormatError. Each metric's value is checked against numpy in
tests/qc/qc_test.py."""

import os
import threading
import unittest

import velmoran_arrays as va
from dataset_tools import TempDir, make_dataset, needs_generator


@needs_generator
class RunQcTest(unittest.TestCase):
    def setUp(self):
        temp = TempDir()
        self.addCleanup(temp.remove)
        self.dir = temp.path

    def test_values_have_the_types_of_the_file(self):
        path, _ = make_dataset(self.dir, "run.d", "synth", "--ms1", 5, "--ms2", 10,
                               "--points", 200, expect=False)
        metrics = va.open(path).qc()
        self.assertIs(type(metrics["MS:4000059"]), int)
        self.assertEqual(metrics["MS:4000059"], 5)
        self.assertIs(type(metrics["MS:4000053"]), float)
        self.assertTrue(all(type(v) is int for v in metrics["MS:4000061"]))
        table = metrics["MS:4000104"]
        self.assertEqual(sorted(table), ["MS:1000285", "MS:1000767", "MS:1000894", "MS:1003059"])
        self.assertEqual(len(table["MS:1000767"]), 5)
        self.assertTrue(all(type(v) is str for v in table["MS:1000767"]))

    def test_threads_get_the_same_answer(self):
        path, _ = make_dataset(self.dir, "run.d", "synth", "--ms1", 8, "--ms2", 8,
                               "--points", 500, expect=False)
        run = va.open(path)
        results = [None] * 4

        def measure(i):
            results[i] = run.qc()

        threads = [threading.Thread(target=measure, args=(i,)) for i in range(4)]
        for t in threads:
            t.start()
        for t in threads:
            t.join()
        self.assertTrue(all(r == results[0] for r in results))

    def test_a_run_cut_short_is_a_format_error(self):
        path, _ = make_dataset(self.dir, "run.d", "synth", "--ms1", 4, "--ms2", 4, expect=False)
        run = va.open(path)
        with open(os.path.join(path, "AcqData", "MSProfile.bin"), "r+b") as f:
            f.truncate(100)
        with open(os.path.join(path, "AcqData", "MSPeak.bin"), "r+b") as f:
            f.truncate(10)
        try:
            metrics = run.qc()
        except va.FormatError:
            return
        # Blocks that cannot be read are empty spectra: all scans still there.
        self.assertEqual(metrics["MS:4000059"] + metrics["MS:4000060"], 8)


if __name__ == "__main__":
    unittest.main()
