"""velmoran_arrays' values as Python containers, under every interpreter
(numpy optional): Array as a sequence and through memoryview, Run as a
context manager and container, the selections its members take (numpy
arguments where numpy is installed), and pickling through a process pool.
Expected values come from the generator's description of what it wrote."""

import math
import multiprocessing
import os
import pickle
import struct
import subprocess
import sys
import textwrap
import unittest

import velmoran_arrays as va
from dataset_tools import TempDir, make_dataset, needs_generator, set_retention_times

try:
    import numpy
except ImportError:
    numpy = None


def positions(spectra):
    return [s.index for s in spectra]


# Pool workers: module-level so that they pickle by reference.
def first_spectrum(run):
    return run[0]


def ms2_peaks(run):
    return run.peaks(ms_level=2, threads=1)


def echo(value):
    return value


def every_result(run):
    """One of each result type, empty ones included (level 99: no scans)."""
    return [run[0], run.peaks(ms_level=1), run.peaks(ms_level=99), run.peaks(ms_level=99).mz,
            run.xic([500.0, 700.0], ppm=10), run.xic([500.0], da=0.5, ms_level=99),
            run.xic([], ppm=10), run.tic(), run.bpc(ms_level=99), run.channels(), run.qc()]


def summary(value):
    """What a result holds, comparable across processes."""
    if isinstance(value, (list, tuple)):
        return [summary(v) for v in value]
    if isinstance(value, dict):
        return {k: summary(v) for k, v in value.items()}
    if isinstance(value, va.Array):
        return (value.shape, repr(value.tolist()))  # repr: NaN equals NaN
    if type(value).__module__ != "velmoran_arrays":
        return repr(value)
    names = ("mz", "intensity", "index", "offsets", "rt_sec")
    arrays = [summary(getattr(value, n)) for n in names if getattr(value, n, None) is not None]
    return (repr(value), arrays) if arrays else repr(value)


@needs_generator
class ArrayTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.path, cls.expected = make_dataset(
            cls.tmp.path, "run.d", "synth", "--ms1", 3, "--ms2", 3, "--points", 40, "--peaks", 6)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def test_an_array_is_a_read_only_sequence(self):
        spectrum = va.open(self.path)[0]
        want = self.expected[0]
        for array, items, dtype in ((spectrum.mz, want["mz"], "float64"),
                                    (spectrum.intensity, want["intensity"], "float32")):
            with self.subTest(dtype=dtype):
                self.assertEqual((len(array), array.dtype, array.shape), (len(items), dtype, (len(items),)))
                self.assertEqual((array[0], array[-1], array[-len(items)]), (items[0], items[-1], items[0]))
                self.assertEqual(list(array), items)
                self.assertEqual(array.tolist(), items)
                self.assertEqual(sum(array), sum(items))
                self.assertEqual(array[2:5].tolist(), items[2:5])
                self.assertEqual(array[::-2].tolist(), items[::-2])
                self.assertEqual(array[5:2].tolist(), [])
                for bad, exception in ((len(items), IndexError), (-len(items) - 1, IndexError),
                                       (True, TypeError), (1.0, TypeError), ("0", TypeError)):
                    with self.assertRaises(exception):
                        array[bad]
                view = memoryview(array)
                self.assertTrue(view.readonly)
                self.assertEqual(view.tolist(), items)

    def test_a_slice_is_a_view_of_the_same_memory(self):
        mz = va.open(self.path)[0].mz
        interface = mz.__array_interface__
        self.assertEqual((interface["version"], interface["typestr"], interface["shape"]),
                         (3, "<f8", (len(mz),)))
        self.assertIs(interface["data"][1], True)  # read-only
        part = mz[3:7]
        self.assertEqual(part.__array_interface__["data"][0], interface["data"][0] + 3 * 8)
        del mz
        self.assertEqual(part.tolist(), self.expected[0]["mz"][3:7])

    def test_importing_the_module_imports_no_numpy(self):
        code = ("import sys, velmoran_arrays as va; r = va.open(sys.argv[1]); "
                "a = r[0].mz; a[1:3]; list(a); a.__array_interface__; r.scans; "
                "print('numpy' in sys.modules)")
        out = subprocess.run([sys.executable, "-c", code, self.path], check=True,
                             stdout=subprocess.PIPE, text=True).stdout
        self.assertEqual(out.strip(), "False")

    def test_integer_columns_are_int64_and_differences_do_not_wrap(self):
        scans = va.open(self.path).scans
        for name in ("scan_id", "ms_level", "profile_points", "peak_points", "mrm_channel"):
            self.assertEqual(scans[name].dtype, "int64", name)
        for name in ("rt_sec", "precursor_mz", "mz_low", "mz_high"):
            self.assertEqual(scans[name].dtype, "float64", name)
        differences = [p - q for p, q in zip(scans["peak_points"], scans["profile_points"])]
        self.assertLess(min(differences), 0)
        self.assertEqual(list(scans["mrm_channel"]), [-1] * len(self.expected))

    def test_values_pickle_by_value(self):
        run = va.open(self.path)
        spectrum, peaks = run[4], run.peaks()
        for protocol in (2, pickle.HIGHEST_PROTOCOL):
            with self.subTest(protocol=protocol):
                copy = pickle.loads(pickle.dumps(spectrum, protocol))
                for name in ("index", "scan_id", "ms_level", "rt_sec", "precursor_mz",
                             "mrm_channel", "mz_range", "centroided", "error"):
                    self.assertEqual(getattr(copy, name), getattr(spectrum, name), name)
                self.assertEqual((copy.mz.tolist(), copy.intensity.tolist()),
                                 (spectrum.mz.tolist(), spectrum.intensity.tolist()))
                copy = pickle.loads(pickle.dumps(peaks, protocol))
                for name in ("mz", "intensity", "offsets", "index"):
                    self.assertEqual(getattr(copy, name).tolist(), getattr(peaks, name).tolist())
                self.assertEqual(copy.errors, peaks.errors)

    def test_a_two_dimensional_array_is_rows(self):
        # Rebuilt from a pickled state: rows of columns, row-major.
        values = [float(i) for i in range(6)]
        state = ("d", (2, 3), struct.pack("<6d", *values))
        array = va.Array._from_state(state)
        self.assertEqual((len(array), array.shape, repr(array)),
                         (2, (2, 3), "Array('float64', 2 x 3 items)"))
        self.assertEqual(array.tolist(), [[0.0, 1.0, 2.0], [3.0, 4.0, 5.0]])
        self.assertEqual(array[-1].tolist(), [3.0, 4.0, 5.0])
        self.assertEqual(memoryview(array).shape, (2, 3))
        self.assertEqual(pickle.loads(pickle.dumps(array)).tolist(), array.tolist())
        for bad in (("d", (2, 2), state[2]), ("x", (6,), state[2]), ("d", (-1,), b""),
                    ("d", (2 ** 62, 4), b"")):
            with self.subTest(state=bad[:2]), self.assertRaises(ValueError):
                va.Array._from_state(bad)


@needs_generator
class RunContainerTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.path, cls.expected = make_dataset(
            cls.tmp.path, "run.d", "synth", "--ms1", 4, "--ms2", 8, "--points", 30, "--peaks", 5)
        cls.opened = va.open(cls.path)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def test_leaving_with_closes_and_what_was_handed_out_stays_valid(self):
        with va.open(self.path) as run:
            spectrum, peaks, scans = run[1], run.peaks(), run.scans
            iterator = run.spectra()
            self.assertFalse(run.closed)
        self.assertTrue(run.closed)
        self.assertEqual(repr(run), "Run(%r, closed)" % self.path)
        self.assertEqual(run.path, self.path)
        for call in (lambda: len(run), lambda: run[0], lambda: run[0:2], lambda: iter(run),
                     lambda: run.spectra(), lambda: run.peaks(), lambda: run.scans,
                     lambda: run.name, lambda: run.qc(), lambda: run.channels(),
                     lambda: run.scans_frame(), lambda: pickle.dumps(run),
                     lambda: run.__enter__()):
            with self.subTest(call=call), self.assertRaisesRegex(ValueError, "^closed run$"):
                call()
        run.close()  # closing again does nothing
        self.assertEqual(spectrum.mz.tolist(), self.expected[1]["mz"])
        self.assertEqual(len(peaks), len(self.expected))
        self.assertEqual(list(scans["scan_id"]), [s["scan_id"] for s in self.expected])
        self.assertEqual(positions(iterator), list(range(len(self.expected))))

    def test_iteration_slices_positions_and_masks(self):
        run, n = self.opened, len(self.expected)
        levels = [s["ms_level"] for s in self.expected]
        mask = [level == 2 for level in levels]
        cases = [
            (list(run), range(n)),
            (run[2:9:3], range(2, 9, 3)),
            (run[::-1], range(n - 1, -1, -1)),
            (run[5:2], []),
            (run[::10 ** 12], [0]),
            (run[[7, 0, -1, 7]], [7, 0, n - 1, 7]),
            (run[()], []),
            (run[mask], [i for i in range(n) if mask[i]]),
            (run[(i for i in (3, 1))], [3, 1]),
        ]
        if numpy is not None:
            cases += [(run[numpy.array([4, 2], dtype=numpy.int32)], [4, 2]),
                      (run[numpy.array(mask)], [i for i in range(n) if mask[i]]),
                      (run[[numpy.bool_(m) for m in mask]], [i for i in range(n) if mask[i]])]
        for got, want in cases:
            with self.subTest(want=list(want)):
                self.assertEqual(positions(got), list(want))
        self.assertEqual(run[[5]][0].mz.tolist(), self.expected[5]["mz"])
        bad = [(ValueError, [True, False]), (IndexError, [n]), (IndexError, [-n - 1]),
               (TypeError, [1.5]), (TypeError, [1, True]), (TypeError, True), (TypeError, "01"),
               (TypeError, {"a": 1}.keys())]
        if numpy is not None:
            bad += [(TypeError, numpy.array([1.0, 2.0])), (ValueError, numpy.zeros(n + 1, bool))]
        for exception, key in bad:
            with self.subTest(key=key), self.assertRaises(exception):
                run[key]

    def test_selections(self):
        run, n = self.opened, len(self.expected)
        rts = [s["retention_time_sec"] for s in self.expected]
        levels = [s["ms_level"] for s in self.expected]
        ms1 = [i for i in range(n) if levels[i] == 1]
        cases = [
            ({"index": [9, 1, 4]}, [9, 1, 4]),
            ({"index": [9, 1, 4], "ms_level": 1}, [i for i in (9, 1, 4) if levels[i] == 1]),
            ({"index": [9, 1, 4], "rt": (rts[2], None)}, [9, 4]),
            ({"index": [False] * n}, []),
            ({"rt": (None, None)}, range(n)),
            ({"rt": (rts[5], rts[5])}, [5]),
            ({"ms_level": 2 ** 40}, []),
            ({"ms_level": (1,)}, ms1),
        ]
        if numpy is not None:
            cases += [
                ({"ms_level": numpy.array([1, 2])}, range(n)),
                ({"ms_level": numpy.uint32(1)}, ms1),
                ({"ms_level": numpy.int64(1), "threads": numpy.int8(2)}, ms1),
                ({"rt": numpy.array([rts[3], rts[6]])}, range(3, 7)),
                ({"rt": (numpy.float32(0), numpy.float64(rts[1]))}, range(0, 2)),
                ({"index": numpy.array([3, 0])}, [3, 0]),
            ]
        for kwargs, want in cases:
            with self.subTest(kwargs=kwargs):
                self.assertEqual(positions(run.spectra(**kwargs)), list(want))
                self.assertEqual(list(run.peaks(**kwargs).index), list(want))
        invalid = [
            (ValueError, "rt", {"rt": (rts[6], rts[3])}),
            (ValueError, "rt", {"rt": (math.nan, None)}),
            (ValueError, "rt", {"rt": (None, math.nan)}),
            (ValueError, "ms_level", {"ms_level": 0}),
            (ValueError, "ms_level", {"ms_level": [1, -2]}),
            (TypeError, "ms_level", {"ms_level": True}),
            (TypeError, "rt", {"rt": (True, None)}),
            (TypeError, "rt", {"rt": "ab"}),
            (TypeError, "threads", {"threads": True}),
            (ValueError, "threads", {"threads": 0}),
            (IndexError, "index", {"index": [n]}),
        ]
        for exception, name, kwargs in invalid:
            for member in (run.spectra, run.peaks):
                with self.subTest(kwargs=kwargs, member=member.__name__):
                    with self.assertRaisesRegex(exception, name):
                        member(**kwargs)

    def test_open_bounds_select_scans_without_a_time(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        path, expected = make_dataset(tmp.path, "nan.d", "synth", "--ms1", 2, "--ms2", 2)
        run = va.open(path)
        set_retention_times(path, run.record_length, [math.nan])
        run = va.open(path)
        self.assertTrue(math.isnan(run.scans["rt_sec"][0]))
        everything = positions(run.spectra())
        self.assertEqual(everything, list(range(len(expected))))
        self.assertEqual(positions(run.spectra(rt=(None, None))), everything)
        self.assertEqual(list(run.peaks(rt=[None, None]).index), everything)
        self.assertEqual(positions(run.spectra(rt=(None, math.inf))), everything[1:])

    def test_every_result_type_comes_back_from_a_process_pool(self):
        run = va.open(self.path)
        with multiprocessing.get_context("spawn").Pool(1) as pool:
            # A result that does not load hangs the pool: bounded here.
            results = pool.apply_async(every_result, (run,)).get(timeout=120)
        self.assertEqual(summary(results), summary(every_result(run)))

    def test_a_pickled_run_opens_from_another_working_directory(self):
        here = os.getcwd()
        self.addCleanup(os.chdir, here)
        os.chdir(os.path.dirname(self.path))
        pickled = pickle.dumps(va.open(os.path.basename(self.path)))
        os.chdir("/")
        self.assertEqual(len(pickle.loads(pickled)), len(self.expected))

    def test_results_come_back_from_a_process_pool(self):
        run = va.open(self.path)
        restored = pickle.loads(pickle.dumps(run))
        self.assertEqual((restored.path, len(restored)), (run.path, len(run)))
        context = multiprocessing.get_context("spawn")
        with context.Pool(2) as pool:
            spectrum = pool.apply(first_spectrum, (run,))
            peaks = pool.apply(ms2_peaks, (run,))
            array = pool.apply(echo, (run[3].intensity,))
        self.assertEqual(spectrum.mz.tolist(), self.expected[0]["mz"])
        levels = [s["ms_level"] for s in self.expected]
        self.assertEqual(list(peaks.index), [i for i in range(len(levels)) if levels[i] == 2])
        self.assertEqual((array.dtype, array.tolist()), ("float32", self.expected[3]["intensity"]))



def state_array(format, shape, values):
    return va.Array._from_state((format, shape, struct.pack("<%d%s" % (len(values), format),
                                                           *values)))


class PickledStateTest(unittest.TestCase):
    def test_array_shapes_on_load(self):
        # Every dimension >= 0, the product fits and equals the bytes.
        for format, shape, size, loads in (
                ("d", (3, 0), 0, True), ("d", (0,), 0, True), ("q", (0, 5), 0, True),
                ("f", (2, 3), 24, True), ("d", (0, 2 ** 62), 0, False),
                ("d", (2 ** 62, 4), 0, False), ("d", (2 ** 32, 2 ** 32), 0, False),
                ("d", (-1,), 0, False), ("d", (2, 2), 48, False), ("I", (1,), 4, False),
                ("d", (), 0, False), ("d", (1, 1, 1), 8, False)):
            with self.subTest(shape=shape):
                state = (format, shape, bytes(size))
                if not loads:
                    self.assertRaises(ValueError, va.Array._from_state, state)
                    continue
                array = va.Array._from_state(state)
                copy = pickle.loads(pickle.dumps(array))
                self.assertEqual((copy.shape, len(copy), len(copy.tolist()), memoryview(copy).shape),
                                 (shape, shape[0], shape[0], shape))

    def test_xic_state_checks_both_dimensions(self):
        state = {"mz": state_array("d", (2,), [500.0, 600.0]),
                 "index": state_array("q", (3,), [0, 1, 2]),
                 "rt_sec": state_array("d", (3,), [1.0, 2.0, 3.0])}
        state["intensity"] = va.Array._from_state(("d", (2, 3), bytes(48)))
        self.assertEqual(repr(va.Xic._from_state(state)), "Xic(2 targets, 3 scans)")
        state["intensity"] = va.Array._from_state(("d", (3, 2), bytes(48)))
        self.assertRaises(ValueError, va.Xic._from_state, state)

    # Python code run while a state is read (a number's __float__, a key's
    # __eq__) empties the dict it came from; a debug allocator makes a read
    # of what that freed crash.
    HOSTILE = """
        import gc, struct
        import velmoran_arrays as va
        def fresh(format, values):
            return va.Array._from_state((format, (len(values),),
                                         struct.pack("<%d%s" % (len(values), format), *values)))
        class Clears:
            def __init__(self, state):
                self.state = state
            def __float__(self):
                self.state.clear()
                gc.collect()
                return 7.5
        state = {"mz": fresh("d", [1.0, 2.0]), "intensity": fresh("f", [3.0, 4.0]), "index": 0,
                 "scan_id": 1, "ms_level": 1, "precursor_mz": None, "mrm_channel": None,
                 "mz_range": None, "centroided": False, "error": None}
        state["rt_sec"] = Clears(state)
        spectrum = va.Spectrum._from_state(state)
        print(spectrum.rt_sec, spectrum.mz.tolist(), spectrum.intensity.tolist())
        class Key:
            def __hash__(self):
                return hash("mz")
            def __eq__(self, other):
                return False
        for kind in (va.Spectrum, va.Peaks, va.Xic, va.Chromatogram):
            try:
                kind._from_state({Key(): 0, "mz": fresh("d", [])})
            except TypeError as e:
                print(kind.__name__, "TypeError")
    """

    def test_a_state_changed_while_read_is_no_use_after_free(self):
        env = dict(os.environ, PYTHONMALLOC="debug")
        # The debug allocator keeps a header before every block, so the leak
        # checker of a sanitized build finds no pointer to the interpreter's
        # own blocks at exit and reports them all: leave it to AddressSanitizer.
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "").replace("detect_leaks=1",
                                                                  "detect_leaks=0")
        done = subprocess.run([sys.executable, "-c", textwrap.dedent(self.HOSTILE)], env=env,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
        self.assertEqual(done.stdout.decode().split("\n")[:5],
                         ["7.5 [1.0, 2.0] [3.0, 4.0]", "Spectrum TypeError", "Peaks TypeError",
                          "Xic TypeError", "Chromatogram TypeError"])


if __name__ == "__main__":
    unittest.main()
