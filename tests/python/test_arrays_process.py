"""velmoran_arrays and the process around it: a daemon thread inside a call
when the interpreter exits, a child made by fork(), Ctrl-C during a long
call, and the default number of worker threads under a CPU affinity."""

import collections
import importlib.util
import itertools
import os
import resource
import shutil
import signal
import subprocess
import sys
import textwrap
import threading
import time
import unittest
import warnings

import velmoran_arrays as va
from dataset_tools import PAYLOAD_OFFSET_FIELD, TempDir, make_dataset, needs_generator

SANITIZED = bool(os.environ.get("VELMORAN_SANITIZED"))


def run_python(code, *args, prefix=(), env=None, timeout=120):
    """Runs `code` in a fresh interpreter (the module on the same path)."""
    return subprocess.run(list(prefix) + [sys.executable, "-c", textwrap.dedent(code)]
                          + [str(a) for a in args], env=env,
                          stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout)


def thread_count():
    return len(os.listdir("/proc/self/task"))


def settled_thread_count(baseline, within=5.0):
    """The thread count once it is back at `baseline`, or after `within` s.
    A joined thread may stay listed for a moment: the kernel wakes the
    joiner before it takes the thread out of /proc/self/task."""
    deadline = time.monotonic() + within
    while True:
        count = thread_count()
        if count <= baseline or time.monotonic() > deadline:
            return count
        time.sleep(0.01)


def repeat_records(dataset, times):
    """Appends the scan table's records `times` - 1 more times: a run that
    reads the same blocks again and again, long to read from little data."""
    path = os.path.join(dataset, "AcqData", "MSScan.bin")
    with open(path, "rb") as f:
        table = f.read()
    payload = int.from_bytes(table[PAYLOAD_OFFSET_FIELD:PAYLOAD_OFFSET_FIELD + 4], "little")
    with open(path, "ab") as f:
        f.write(table[payload:] * (times - 1))


@needs_generator
class ExitTest(unittest.TestCase):
    # Every member that may give up the interpreter lock (the module lists
    # them in _lock_releasing), with a call of it. Daemon threads loop on
    # the call while the main thread exits.
    CALLS = {
        "open()": "va.open(path)",
        "open(transitions=)": "va.open(mrm, transitions=listing)",
        "Run.__getitem__": "run[len(run) - 1]; run[0:3]",
        "Run.spectrum()": "run.spectrum(len(run) - 1, peaks='picked')",
        "Run.peaks()": "run.peaks(threads=2)",
        "Run.scans_frame()": "run.scans_frame(totals=True)",
        "Run.close()": "va.open(path).close()",
        "Run.__exit__()": "with va.open(path): pass",
        "Run.qc()": "run.qc()",
        "Run.channels()": "mrm_run.channels(threads=2)",
        "Run.transitions()": "mrm_run.transitions(listing)",
        "Run.xic()": "run.xic([300.0, 500.0], ppm=10, threads=2)",
        "Run.tic()": "run.tic(threads=2)",
        "Run.bpc()": "run.bpc(threads=2)",
        "SpectrumIterator.__next__": "next(iter(run.spectra(threads=2)))",
        "SpectrumIterator.__del__": "it = run.spectra(threads=2); next(it); del it",
        "Peaks.frame()": "peaks.frame()",
        "Array.__array__()": "peaks.mz.__array__(); peaks.intensity.__array__(copy=True)",
    }
    NEED_PANDAS = {"Run.scans_frame()", "Peaks.frame()", "Array.__array__()"}
    SCRIPT = """
        import sys, threading, time
        import velmoran_arrays as va
        path, mrm, listing, call = sys.argv[1:5]
        run, mrm_run = va.open(path), va.open(mrm)
        peaks = run.peaks()
        code = compile(call, "<call>", "exec")
        def loop():
            while True:
                exec(code)
        for _ in range(2):
            threading.Thread(target=loop, daemon=True).start()
        time.sleep(0.05)
        sys.exit(3)
    """

    def test_the_table_names_every_member_that_releases_the_lock(self):
        self.assertEqual(sorted(self.CALLS), sorted(va._lock_releasing))

    def test_daemon_threads_inside_calls_at_exit_leave_the_scripts_status(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        path, _ = make_dataset(tmp.path, "small.d", "synth", "--ms1", 4, "--ms2", 8,
                               "--points", 500, "--peaks", 20, expect=False)
        listing = os.path.join(tmp.path, "list.csv")
        mrm, _ = make_dataset(tmp.path, "mrm.d", "mrm", "--scans", 40, "--peaks", 500,
                              "--transitions", listing, expect=False)
        # The interpreter never frees what its daemon threads hold at exit:
        # no leak of ours, but the leak checker would report it.
        env = dict(os.environ)
        env["ASAN_OPTIONS"] = env.get("ASAN_OPTIONS", "").replace("detect_leaks=1",
                                                                  "detect_leaks=0")
        # An abort came in most tries of a faulty member; bounded in time all the same.
        deadline = time.monotonic() + 120
        for member, call in self.CALLS.items():
            if member in self.NEED_PANDAS and not importlib.util.find_spec("pandas"):
                continue  # test_arrays_numpy.py runs them where pandas is
            for attempt in range(4):
                with self.subTest(member=member, attempt=attempt):
                    done = run_python(self.SCRIPT, path, mrm, listing, call, env=env)
                    self.assertEqual(done.returncode, 3, done.stderr.decode(errors="replace"))
                if time.monotonic() > deadline:
                    break


@needs_generator
class ForkTest(unittest.TestCase):
    def test_a_child_goes_on_with_spectra_peaks_and_single_scans(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        path, _ = make_dataset(tmp.path, "run.d", "synth", "--ms1", 10, "--ms2", 30,
                               "--points", 2000, "--peaks", 50, expect=False)
        run = va.open(path)
        sizes = [len(run[i]) for i in range(len(run))]
        iterator = run.spectra(threads=2)
        first = [next(iterator).index for _ in range(3)]  # the workers run now
        reader, writer = os.pipe()
        with warnings.catch_warnings():
            # 3.12 and later warn of fork() in a process with threads.
            warnings.simplefilter("ignore", DeprecationWarning)
            pid = os.fork()
        if pid == 0:  # the child: report what it read, leave at once
            status = 1
            try:
                os.close(reader)
                rest = [(s.index, len(s)) for s in iterator]
                peaks = run.peaks(threads=2)
                offsets = memoryview(peaks.offsets).tolist()
                counted = [b - a for a, b in zip(offsets, offsets[1:])]
                single = len(run[len(run) - 1])
                os.write(writer, repr((rest, counted, single)).encode())
                status = 0
            finally:
                os._exit(status)
        os.close(writer)
        self.addCleanup(os.close, reader)
        # The parent goes on as before.
        self.assertEqual([s.index for s in iterator], list(range(3, len(run))))
        deadline = time.monotonic() + 30
        while True:
            done, status = os.waitpid(pid, os.WNOHANG)
            if done:
                break
            if time.monotonic() > deadline:
                os.kill(pid, signal.SIGKILL)
                os.waitpid(pid, 0)
                self.fail("the child hangs")
            time.sleep(0.05)
        self.assertEqual(os.waitstatus_to_exitcode(status), 0)
        with os.fdopen(os.dup(reader), "rb") as f:
            rest, counted, single = eval(f.read().decode())
        self.assertEqual(first, [0, 1, 2])
        self.assertEqual(rest, [(i, sizes[i]) for i in range(3, len(run))])
        self.assertEqual(counted, sizes)
        self.assertEqual(single, sizes[-1])


@needs_generator
class InterruptTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        # 1,800 scans of 20,000 points: 36 M points, a few seconds to read.
        cls.path, _ = make_dataset(cls.tmp.path, "long.d", "synth", "--ms1", 300, "--ms2", 0,
                                   "--points", 20000, expect=False)
        repeat_records(cls.path, 6)
        # An MRM run of 15,000 scans of 20,000 peaks: channels() sums them all.
        cls.mrm_path, _ = make_dataset(cls.tmp.path, "long_mrm.d", "mrm", "--scans", 300,
                                       "--peaks", 20000, expect=False)
        repeat_records(cls.mrm_path, 50)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    def interrupt(self, call):
        """Sends SIGINT 0.3 s into `call`; the delay until KeyboardInterrupt,
        the threads and the address space it leaves behind."""
        call(warm=True)  # the threads' memory pools exist from here on
        threads, size = thread_count(), vm_size()
        sent = []

        def send():
            sent.append(time.monotonic())
            os.kill(os.getpid(), signal.SIGINT)

        timer = threading.Timer(0.3, send)
        with self.assertRaises(KeyboardInterrupt):
            timer.start()
            try:
                call(warm=False)
            finally:
                timer.cancel()
        delay = time.monotonic() - sent[0]
        timer.join()
        return delay, settled_thread_count(threads) - threads, vm_size() - size

    def check(self, call):
        delay, threads, grown = self.interrupt(call)
        self.assertLess(delay, 1.0 if SANITIZED else 0.2)
        self.assertEqual(threads, 0)
        # The arrays of every point would be 432 MB; the timer's thread may
        # add a memory pool of 64 MB.
        self.assertLess(grown, 160 << 20)

    def test_ctrl_c_stops_peaks(self):
        run = va.open(self.path)
        self.check(lambda warm: run.peaks(rt=(0, 10) if warm else None, threads=2))

    def test_ctrl_c_stops_channels(self):
        run = va.open(self.mrm_path)
        self.check(lambda warm: run.channels(threads=2))

    def test_ctrl_c_stops_qc(self):
        run = va.open(self.mrm_path)
        self.check(lambda warm: run.qc())

    def test_ctrl_c_stops_spectra_consumed_without_python_code(self):
        run = va.open(self.path)
        # A deque of no length consumes in C: no bytecode runs between spectra.
        # The run is read 20 times over (Python runs only between readings),
        # so that a quiet machine is still reading when the signal comes.
        self.check(lambda warm: collections.deque(
            run.spectra(rt=(0, 10), threads=2) if warm else itertools.chain.from_iterable(
                map(lambda _: run.spectra(threads=2), range(20))), maxlen=0))


@needs_generator
class ResourceTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = TempDir()
        cls.path, _ = make_dataset(cls.tmp.path, "run.d", "synth", "--ms1", 4, "--ms2", 4,
                                   "--points", 500, "--peaks", 20, expect=False)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.remove()

    @unittest.skipIf(SANITIZED, "the sanitizers' runtime reserves address space of its own")
    def test_xic_allocates_for_the_workers_it_uses_not_those_asked(self):
        # 4 scans of 40,000 targets: 320 KB a worker, 330 MB for 1,024. The
        # address space is held to what 4 workers took, plus 100 MB.
        script = """
            import resource, sys
            import velmoran_arrays as va
            run = va.open(sys.argv[1])
            targets = [300.0 + k / 100 for k in range(40000)]
            run.xic(targets, ppm=1, threads=4)
            with open("/proc/self/statm") as f:
                size = int(f.read().split()[0]) * resource.getpagesize()
            resource.setrlimit(resource.RLIMIT_AS, (size + (100 << 20), resource.RLIM_INFINITY))
            print(len(run.xic(targets, ppm=1, threads=1024).rt_sec))
        """
        done = run_python(script, self.path)
        self.assertEqual((done.returncode, done.stdout), (0, b"4\n"),
                         done.stderr.decode(errors="replace"))

    @unittest.skipIf(SANITIZED, "the sanitizers' runtime sizes thread stacks itself")
    def test_threads_that_cannot_start_raise_the_oserror_of_their_errno(self):
        # A stack limit of 1 TiB makes every new thread's stack too large to map.
        soft, hard = resource.getrlimit(resource.RLIMIT_STACK)
        if hard != resource.RLIM_INFINITY and hard < 1 << 40:
            self.skipTest("the stack's hard limit is below 1 TiB")
        script = """
            import sys
            import velmoran_arrays as va
            run = va.open(sys.argv[1])
            for call in (lambda: run.peaks(threads=2), lambda: list(run.spectra(threads=2)),
                         lambda: run.xic([500.0], ppm=10, threads=2),
                         lambda: run.tic(threads=2)):
                try:
                    call()
                    print("no error")
                except OSError as e:
                    print(type(e).__name__, e.errno)
        """
        done = subprocess.run([sys.executable, "-c", textwrap.dedent(script), self.path],
                              preexec_fn=lambda: resource.setrlimit(
                                  resource.RLIMIT_STACK, (1 << 40, hard)),
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=60)
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
        self.assertEqual(done.stdout.decode().split(), ["BlockingIOError", "11"] * 4)


def vm_size():
    with open("/proc/self/status") as f:
        for line in f:
            if line.startswith("VmSize:"):
                return int(line.split()[1]) * 1024
    return 0


@needs_generator
class DefaultThreadsTest(unittest.TestCase):
    @unittest.skipIf(SANITIZED, "sanitizers' allocators keep their own counts")
    def test_many_threads_asked_allocate_for_the_workers_used(self):
        # 16 scans give work to two workers: xic(threads=1024) must not make
        # scratch for 1,024 (20,000 targets: 160 kB of sums each, 164 MB).
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        path, _ = make_dataset(tmp.path, "run.d", "synth", "--ms1", 16, "--ms2", 0,
                               "--points", 100, expect=False)
        done = run_python("""
            import resource, sys
            import velmoran_arrays as va
            run = va.open(sys.argv[1])
            targets = [100.0 + 0.01 * i for i in range(20000)]
            run.xic(targets, da=0.001, threads=1)
            before = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss
            run.xic(targets, da=0.001, threads=1024)
            print(resource.getrusage(resource.RUSAGE_SELF).ru_maxrss - before)
        """, path)
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
        self.assertLess(int(done.stdout) * 1024, 32 << 20)

    SCRIPT = """
        import os, sys
        import velmoran_arrays as va
        run = va.open(sys.argv[1])
        before = len(os.listdir("/proc/self/task"))
        iterator = run.spectra()
        next(iterator)
        print(len(os.listdir("/proc/self/task")) - before)
    """

    @unittest.skipUnless(shutil.which("taskset"), "taskset (util-linux) is not installed")
    def test_threads_none_uses_the_cpus_the_process_may_run_on(self):
        tmp = TempDir()
        self.addCleanup(tmp.remove)
        path, _ = make_dataset(tmp.path, "run.d", "synth", "--ms1", 8, "--ms2", 8,
                               "--points", 100, "--peaks", 10, expect=False)
        allowed = sorted(os.sched_getaffinity(0))
        done = run_python(self.SCRIPT, path, prefix=("taskset", "-c", str(allowed[0])))
        self.assertEqual(done.returncode, 0, done.stderr.decode(errors="replace"))
        self.assertEqual(int(done.stdout), 1)
        # Without it, every allowed CPU unless a control group's quota says less.
        done = run_python(self.SCRIPT, path)
        self.assertIn(int(done.stdout), range(1, len(allowed) + 1))


if __name__ == "__main__":
    unittest.main()
