"""Several threads, each with its own RawReader over the same run, see
exactly the same spectra as a reader made on the main thread."""

import threading
import unittest

import velmoran
from dataset_tools import TempDir, make_dataset, needs_generator


def contents(reader):
    return [
        (s.ms_level, s.retention_time_sec, s.mz, s.intensity)
        for s in (reader.read_spectrum(i) for i in range(reader.scan_count))
    ]


@needs_generator
class ThreadsTest(unittest.TestCase):
    def test_readers_on_threads_agree(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        path, _ = make_dataset(tmp.path, "run.d", "synth", "--ms1", 6, "--ms2", 18,
                               "--points", 3000, "--peaks", 80, expect=False)
        reference = contents(velmoran.RawReader(path))
        results = [None] * 6
        errors = []

        def work(slot):
            try:
                for _ in range(3):
                    got = contents(velmoran.RawReader(path))
                    if got != reference:
                        results[slot] = "differs"
                        return
                results[slot] = "same"
            except BaseException as error:  # reported on the main thread
                errors.append(error)

        threads = [threading.Thread(target=work, args=(i,)) for i in range(len(results))]
        for thread in threads:
            thread.start()
        for thread in threads:
            thread.join()
        self.assertEqual(errors, [])
        self.assertEqual(results, ["same"] * len(results))


if __name__ == "__main__":
    unittest.main()
