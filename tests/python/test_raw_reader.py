"""RawReader: argument binding and conversion, errors, representation and
the values read from generated datasets."""

import gc
import os
import pathlib
import shutil
import subprocess
import sys
import unittest
import weakref

import velmoran
from dataset_tools import TempDir, make_dataset, needs_generator

HAS_NOTES = sys.version_info >= (3, 11)


class Index:
    def __init__(self, value):
        self.value = value

    def __index__(self):
        return self.value


class NotesMixin:
    def assert_raises_noted(self, exception, parameter, call, *args, **kwargs):
        """`call` raises `exception`, noted with the parameter's name where
        exceptions take notes."""
        with self.assertRaises(exception) as caught:
            call(*args, **kwargs)
        notes = getattr(caught.exception, "__notes__", None)
        self.assertEqual(notes, ["while processing '%s'" % parameter] if HAS_NOTES else None)
        return caught.exception


class ConstructorTest(NotesMixin, unittest.TestCase):
    def test_binding_messages(self):
        m = "RawReader.__new__()"
        cases = [
            ((), {}, m + " missing 1 required positional argument: 'path'"),
            (("a", "b"), {}, m + " takes 1 positional arguments but 2 were given"),
            (("a", "b", "c"), {"path": "d"}, m + " takes 1 positional arguments but 3 were given"),
            ((), {"paht": "a"}, m + " got an unexpected keyword argument 'paht'"),
            (("a",), {"x": 1, "path": "b"}, m + " got an unexpected keyword argument 'x'"),
            (("a",), {"path": "b", "x": 1}, m + " got multiple values for argument 'path'"),
            ((), {"path": "a", "x": 1}, m + " got an unexpected keyword argument 'x'"),
        ]
        for args, kwargs, message in cases:
            with self.subTest(args=args, kwargs=kwargs):
                with self.assertRaises(TypeError) as caught:
                    velmoran.RawReader(*args, **kwargs)
                self.assertEqual(str(caught.exception), message)
                self.assertFalse(hasattr(caught.exception, "__notes__"))

    def test_path_must_be_a_str(self):
        for value in (b"/tmp", pathlib.Path("/tmp"), None, 3):
            with self.subTest(value=value):
                self.assert_raises_noted(TypeError, "path", velmoran.RawReader, value)
        self.assert_raises_noted(UnicodeEncodeError, "path", velmoran.RawReader, "run\udc80.d")

    def test_open_errors_are_runtime_errors_with_the_library_text(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        no_table = os.path.join(tmp.path, "no_table.d")
        os.makedirs(os.path.join(no_table, "AcqData"))
        bad_magic = os.path.join(tmp.path, "bad_magic.d")
        os.makedirs(os.path.join(bad_magic, "AcqData"))
        with open(os.path.join(bad_magic, "AcqData", "MSScan.bin"), "wb") as f:
            f.write(bytes(92))
        cases = [
            ("/no/such/dir", "parse error: AcqData directory not found"),
            (no_table, "I/O error: %s (os error 2)" % os.strerror(2)),
            (bad_magic, "parse error: Invalid MSScan magic: 0"),
        ]
        for path, message in cases:
            with self.subTest(path=path):
                with self.assertRaises(RuntimeError) as caught:
                    velmoran.RawReader(path)
                self.assertEqual(str(caught.exception), message)


@needs_generator
class ReaderTest(NotesMixin, unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.path, cls.expected = make_dataset(cls.tmp.path, "run.d", "synth", "--ms1", 3,
                                              "--ms2", 6, "--points", 50, "--peaks", 20)
        cls.reader = velmoran.RawReader(cls.path)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def test_path_by_keyword_or_str_subclass(self):
        class Text(str):
            pass

        for reader in (velmoran.RawReader(path=self.path), velmoran.RawReader(Text(self.path))):
            self.assertEqual(reader.scan_count, len(self.expected))
            self.assertEqual(reader.read_spectrum(4).mz, self.expected[4]["mz"])

    def test_path_holding_a_nul_names_no_dataset(self):
        # The system would stop at the NUL and open the dataset before it.
        with self.assertRaises(RuntimeError) as caught:
            velmoran.RawReader(self.path + "\0/../other")
        self.assertEqual(str(caught.exception), "parse error: AcqData directory not found")

    def test_read_spectrum_binding_messages(self):
        m = "RawReader.read_spectrum()"
        cases = [
            ((), {}, m + " missing 1 required positional argument: 'scan_index'"),
            ((0, 1), {}, m + " takes 1 positional arguments but 2 were given"),
            ((), {"index": 0}, m + " got an unexpected keyword argument 'index'"),
            ((0,), {"scan_index": 1, "x": 2}, m + " got multiple values for argument 'scan_index'"),
            ((0,), {"x": 2, "scan_index": 1}, m + " got an unexpected keyword argument 'x'"),
        ]
        for args, kwargs, message in cases:
            with self.subTest(args=args, kwargs=kwargs):
                with self.assertRaises(TypeError) as caught:
                    self.reader.read_spectrum(*args, **kwargs)
                self.assertEqual(str(caught.exception), message)

    def test_index_conversion(self):
        n = self.reader.scan_count
        for index, position in ((True, 1), (Index(2), 2), (n - 1, n - 1)):
            with self.subTest(index=index):
                spectrum = self.reader.read_spectrum(index)
                self.assertEqual(spectrum.mz, self.expected[position]["mz"])
        self.assertEqual(self.reader.read_spectrum(scan_index=3).mz, self.expected[3]["mz"])
        for value, exception in ((1.0, TypeError), ("0", TypeError), (Index(1.5), TypeError),
                                 (-1, OverflowError), (2**64, OverflowError)):
            with self.subTest(value=value):
                self.assert_raises_noted(exception, "scan_index", self.reader.read_spectrum, value)
        for value in (n, 2**64 - 1):
            with self.subTest(value=value):
                with self.assertRaises(RuntimeError) as caught:
                    self.reader.read_spectrum(value)
                self.assertEqual(str(caught.exception), "scan %d out of range" % value)

    def test_values_equal_the_generators(self):
        runs = [
            ("profile.d", "synth", "--ms1", 4, "--ms2", 8, "--points", 300, "--seed", 7),
            ("centroid.d", "synth", "--layout", 216, "--ms1", 3, "--ms2", 5, "--peaks", 40),
            ("mrm.d", "mrm", "--layout", 186, "--scans", 25, "--peaks", 15),
        ]
        for name, mode, *options in runs:
            with self.subTest(name):
                path, expected = make_dataset(self.tmp.path, name, mode, *options)
                reader = velmoran.RawReader(path)
                self.assertEqual(reader.scan_count, len(expected))
                for i, scan in enumerate(expected):
                    spectrum = reader.read_spectrum(i)
                    got = (spectrum.ms_level, spectrum.retention_time_sec, spectrum.mz,
                           spectrum.intensity)
                    want = (scan["ms_level"], scan["retention_time_sec"], scan["mz"],
                            scan["intensity"])
                    self.assertEqual(got, want, "scan %d" % i)

    def test_repr(self):
        one_scan, _ = make_dataset(self.tmp.path, "it's one.d", "synth", "--ms1", 1, "--ms2", 0)
        cases = [
            (self.path, "RawReader('%s', 9 scans)" % self.path),
            (self.path + "/", "RawReader('%s/', 9 scans)" % self.path),
            (one_scan, "RawReader('%s', 1 scans)" % one_scan),
        ]
        for path, text in cases:
            with self.subTest(path=path):
                reader = velmoran.RawReader(path)
                self.assertEqual(repr(reader), text)
                self.assertEqual(str(reader), text)

    def test_reader_keeps_everything_once_built(self):
        path, expected = make_dataset(self.tmp.path, "deleted.d", "synth", "--ms1", 2, "--ms2", 3)
        reader = velmoran.RawReader(path)
        shutil.rmtree(path)
        self.assertEqual(repr(reader), "RawReader('%s', 5 scans)" % path)
        self.assertEqual([reader.read_spectrum(i).mz for i in range(5)],
                         [scan["mz"] for scan in expected])

    @unittest.skipIf(os.environ.get("VELMORAN_SANITIZED"),
                     "the sanitizer's allocator aborts on exhaustion instead of failing")
    def test_running_out_of_memory_raises_memory_error(self):
        # Copying a spectrum of 2M points (24 MB) under an address-space
        # limit a few MB above the current size fails in C++; the failure
        # must come out as MemoryError, not end the process.
        path, _ = make_dataset(self.tmp.path, "big.d", "synth", "--ms1", 1, "--ms2", 0,
                               "--points", 2_000_000, expect=False)
        child = """if True:
            import resource, sys, velmoran
            reader = velmoran.RawReader(sys.argv[1])
            with open("/proc/self/status") as f:
                size = next(int(l.split()[1]) * 1024 for l in f if l.startswith("VmSize:"))
            resource.setrlimit(resource.RLIMIT_AS, (size + (8 << 20), resource.RLIM_INFINITY))
            try:
                reader.read_spectrum(0)
            except MemoryError:
                print("MemoryError")
        """
        result = subprocess.run([sys.executable, "-c", child, path], capture_output=True,
                                text=True, timeout=120)
        self.assertEqual((result.returncode, result.stdout), (0, "MemoryError\n"), result.stderr)

    def test_immutable_instance(self):
        with self.assertRaises(AttributeError):
            self.reader.scan_count = 1
        with self.assertRaises(AttributeError):
            self.reader.extra = 1
        with self.assertRaises(TypeError):
            weakref.ref(self.reader)
        self.assertFalse(gc.is_tracked(self.reader))


if __name__ == "__main__":
    unittest.main()
