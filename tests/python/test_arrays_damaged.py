"""Run.peaks() on damaged runs: the errors of the scans it could not read,
and memory that follows the data, not the counts a scan table claims."""

import os
import struct
import subprocess
import sys
import textwrap
import unittest

import velmoran_arrays as va
from dataset_tools import PAYLOAD_OFFSET_FIELD, TempDir, make_dataset, needs_generator

# The 284 layout's two block descriptors, and the point count in each.
DESCRIPTORS_284 = (156, 220)
POINT_COUNT_FIELD = 16


def per_spectrum(peaks):
    offsets = memoryview(peaks.offsets).tolist()
    return [b - a for a, b in zip(offsets, offsets[1:])]


@needs_generator
class PeaksErrorsTest(unittest.TestCase):
    def test_errors_name_each_damaged_scan_as_spectra_does(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        path, _ = make_dataset(tmp.path, "cut.d", "synth", "--ms1", 10, "--ms2", 40,
                               "--points", 100, "--peaks", 20, expect=False)
        run = va.open(path)
        self.assertEqual(run.peaks(threads=2).errors, {})
        peak_file = os.path.join(path, "AcqData", "MSPeak.bin")
        os.truncate(peak_file, os.path.getsize(peak_file) // 2)
        for threads in (1, 2):
            with self.subTest(threads=threads):
                peaks = run.peaks(ms_level=2, threads=threads)
                reported = {s.index: s.error for s in run.spectra(ms_level=2) if s.error}
                self.assertTrue(0 < len(reported) < len(peaks))
                self.assertEqual(peaks.errors, reported)
                counts = per_spectrum(peaks)
                for k, index in enumerate(memoryview(peaks.index).tolist()):
                    self.assertEqual(counts[k], len(run[index]))
        # A copy each time: changing one changes no other.
        peaks.errors.clear()
        self.assertEqual(peaks.errors, reported)


@needs_generator
@unittest.skipIf(os.environ.get("VELMORAN_SANITIZED"),
                 "the sanitizers reserve far more address space than the limit")
class ClaimedCountsTest(unittest.TestCase):
    LIMITED = """
        import resource, sys
        import velmoran_arrays as va
        resource.setrlimit(resource.RLIMIT_AS, (1 << 30, 1 << 30))
        peaks = va.open(sys.argv[1]).peaks(threads=2)
        offsets = memoryview(peaks.offsets).tolist()
        print(repr(([b - a for a, b in zip(offsets, offsets[1:])], peaks.errors)))
    """

    def test_a_table_claiming_four_billion_points_a_scan_reads_in_one_gib(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        path, _ = make_dataset(tmp.path, "claims.d", "synth", "--ms1", 20, "--ms2", 40,
                               "--points", 200, "--peaks", 20, "--layout", 284, expect=False)
        table_path = os.path.join(path, "AcqData", "MSScan.bin")
        with open(table_path, "r+b") as f:
            table = bytearray(f.read())
            (payload,) = struct.unpack_from("<I", table, PAYLOAD_OFFSET_FIELD)
            for record in range(payload, len(table), 2 * 284):  # every other scan
                for descriptor in DESCRIPTORS_284:
                    struct.pack_into("<I", table, record + descriptor + POINT_COUNT_FIELD,
                                     0xFFFFFFFF)
            f.seek(0)
            f.write(table)
        run = va.open(path)
        claimed = zip(memoryview(run.scans["profile_points"]).tolist()[::2],
                      memoryview(run.scans["peak_points"]).tolist()[::2])
        self.assertEqual({max(pair) for pair in claimed}, {0xFFFFFFFF})
        done = subprocess.run([sys.executable, "-c", textwrap.dedent(self.LIMITED), path],
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=120)
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
        counts, errors = eval(done.stdout.decode())
        self.assertEqual(counts, [len(run[i]) for i in range(len(run))])
        self.assertEqual(errors, {i: run[i].error for i in range(len(run)) if run[i].error})
        self.assertEqual(sorted(errors), list(range(0, len(run), 2)))
        self.assertGreater(sum(counts), 0)

    def test_scans_sharing_blocks_hold_more_points_than_the_files_and_all_are_kept(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        path, _ = make_dataset(tmp.path, "shared.d", "synth", "--ms1", 10, "--ms2", 30,
                               "--peaks", 50, "--layout", 220, expect=False)
        table_path = os.path.join(path, "AcqData", "MSScan.bin")
        with open(table_path, "rb") as f:
            table = f.read()
        (payload,) = struct.unpack_from("<I", table, PAYLOAD_OFFSET_FIELD)
        with open(table_path, "ab") as f:  # every record, and so every block, four times
            f.write(table[payload:] * 3)
        run = va.open(path)
        peaks = run.peaks(threads=2)
        self.assertEqual(per_spectrum(peaks), [len(run[i]) for i in range(len(run))])
        self.assertGreater(len(peaks.mz), os.path.getsize(
            os.path.join(path, "AcqData", "MSPeak.bin")) // 12)
        mz = memoryview(peaks.mz).tolist()
        offsets = memoryview(peaks.offsets).tolist()
        last = len(run) - 1
        self.assertEqual(mz[offsets[last]:offsets[last + 1]], memoryview(run[last].mz).tolist())


if __name__ == "__main__":
    unittest.main()
