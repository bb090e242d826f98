"""Where convert, scans and xic put their output: whole or not at all,
through symbolic links, in place for standard output, with the mode a user
expects, and nothing left behind when a command fails or is killed; the
same for an unpacked mzPeak archive (a directory), and an mzPeak archive
written in memory that does not grow with the run.

Environment: VELMORAN (the program) and VELMORAN_MKDATASET (the generator).
"""
import hashlib
import os
import re
import resource
import shutil
import signal
import stat
import subprocess
import tempfile
import time
import unittest

VELMORAN = os.environ["VELMORAN"]
MKDATASET = os.environ["VELMORAN_MKDATASET"]

# The three commands that write a file, each with its -o.
COMMANDS = {
    "convert": lambda run, out: ["convert", "-q", run, "-o", out],
    "scans": lambda run, out: ["scans", run, "-o", out],
    "xic": lambda run, out: ["xic", run, "--mz", "500", "--mz", "700", "--ppm", "20", "--ms-level",
                             "2", "-o", out],
}


def velmoran(args, **kwargs):
    return subprocess.run([VELMORAN, *args], capture_output=True, **kwargs)


def copy_for_another_user(directory):
    """The program copied into `directory` (made reachable by every user),
    with the shared libraries it loads from outside the system's
    directories: the build tree may lie where only its owner may enter
    (a clone in root's home, mode 0700). Returns the copy and the
    environment that finds those libraries."""
    os.makedirs(directory, exist_ok=True)
    os.chmod(directory, 0o755)
    program = os.path.join(directory, "velmoran")
    shutil.copy(VELMORAN, program)
    os.chmod(program, 0o755)
    loaded = subprocess.run(["ldd", VELMORAN], capture_output=True, text=True).stdout
    for library in re.findall(r"=> (/\S+)", loaded):
        if not library.startswith(("/lib/", "/lib64/", "/usr/")):
            shutil.copy(library, directory)
            os.chmod(os.path.join(directory, os.path.basename(library)), 0o755)
    return program, dict(os.environ, LD_LIBRARY_PATH=directory)


def as_nobody():
    """preexec_fn that drops root to uid and gid 65534 (None when not root:
    the test runs as an unprivileged user already)."""
    if os.geteuid() != 0:
        return None
    return lambda: (os.setgroups([]), os.setgid(65534), os.setuid(65534))


def tree_digest(top):
    """Every file under `top` with the SHA-256 of its contents."""
    found = {}
    for directory, _, files in os.walk(top):
        for name in files:
            path = os.path.join(directory, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, top)] = hashlib.sha256(f.read()).hexdigest()
    return found


class Placement(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        os.chmod(cls.tmp.name, 0o755)  # readable by the unprivileged user below
        cls.nobody_program, cls.nobody_env = copy_for_another_user(
            os.path.join(cls.tmp.name, "bin"))
        cls.dataset = os.path.join(cls.tmp.name, "run.d")
        subprocess.run([MKDATASET, "synth", cls.dataset, "--ms1", "40", "--ms2", "120", "--points",
                        "20000", "--peaks", "300", "--seed", "8"], check=True, capture_output=True)
        # Long enough to be interrupted midway: about a second of convert.
        cls.long_run = os.path.join(cls.tmp.name, "long.d")
        subprocess.run([MKDATASET, "synth", cls.long_run, "--ms1", "400", "--ms2", "1200",
                        "--points", "20000", "--peaks", "300", "--seed", "9"],
                       check=True, capture_output=True)

    @classmethod
    def tearDownClass(cls):
        cls.tmp.cleanup()

    def setUp(self):
        self.work = tempfile.mkdtemp(dir=self.tmp.name)
        os.chmod(self.work, 0o755)

    def path(self, name):
        return os.path.join(self.work, name)

    def expected(self, command):
        """The command's output written to a fresh file."""
        out = self.path(command + ".expected")
        velmoran(COMMANDS[command](self.dataset, out), check=True)
        with open(out, "rb") as f:
            return f.read()

    def test_a_failure_midway_leaves_the_old_file_whole(self):
        # A file size limit (ulimit -f) makes a write fail after 4 KiB: a
        # direct write would leave the target cut short; put in place, it
        # stays untouched. SIGXFSZ keeps its default action here, which
        # would kill the command and leave a named temporary behind.
        def limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))
        for command, args in COMMANDS.items():
            for named in ("0", "1"):
                with self.subTest(command=command, named=named):
                    self.check_file_too_large(command, args, named, limit)

    def check_file_too_large(self, command, args, named, limit):
        target = self.path(command + ".out")
        with open(target, "wb") as f:
            f.write(b"old contents\n")
        proc = velmoran(args(self.dataset, target), preexec_fn=limit,
                        env=dict(os.environ, VELMORAN_NAMED_TEMPORARY=named))
        self.assertEqual(proc.returncode, 1, proc.stderr)
        self.assertIn(b"File too large", proc.stderr)
        with open(target, "rb") as f:
            self.assertEqual(f.read(), b"old contents\n")
        self.assertEqual(sorted(os.listdir(self.work)), [command + ".out"])
        os.remove(target)

    def test_symbolic_link_is_written_through_and_kept(self):
        for command, args in COMMANDS.items():
            with self.subTest(command):
                real, link, dangling = self.path("real"), self.path("link"), self.path("dangling")
                with open(real, "w") as f:
                    f.write("old\n")
                os.symlink("real", link)
                os.symlink("missing", dangling)
                velmoran(args(self.dataset, link), check=True)
                velmoran(args(self.dataset, dangling), check=True)
                expected = self.expected(command)
                for name in (link, dangling):
                    self.assertTrue(os.path.islink(name))
                with open(real, "rb") as f:
                    self.assertEqual(f.read(), expected)
                with open(self.path("missing"), "rb") as f:
                    self.assertEqual(f.read(), expected)
                for name in os.listdir(self.work):
                    os.remove(self.path(name))

    def test_the_file_standard_output_goes_to_is_written_in_place(self):
        before = os.lstat("/dev/stdout")
        for command, args in COMMANDS.items():
            with self.subTest(command):
                target = self.path(command + ".redirected")
                with open(target, "wb") as out:
                    proc = subprocess.run([VELMORAN, *args(self.dataset, "/dev/stdout")], stdout=out,
                                          stderr=subprocess.PIPE)
                self.assertEqual(proc.returncode, 0, proc.stderr)
                with open(target, "rb") as f:
                    self.assertEqual(f.read(), self.expected(command))
                after = os.lstat("/dev/stdout")
                self.assertEqual((after.st_ino, after.st_mode), (before.st_ino, before.st_mode))

    def test_nothing_under_dev_is_renamed_over(self):
        if not os.path.isdir("/dev/shm"):
            self.skipTest("no /dev/shm")
        fd, target = tempfile.mkstemp(dir="/dev/shm", prefix="velmoran-test-")
        os.close(fd)
        try:
            inode = os.stat(target).st_ino
            velmoran(COMMANDS["scans"](self.dataset, target), check=True)
            self.assertEqual(os.stat(target).st_ino, inode)  # written in place
            with open(target, "rb") as f:
                self.assertEqual(f.read(), self.expected("scans"))
        finally:
            os.remove(target)

    def test_modes(self):
        target = self.path("private.tsv")
        with open(target, "w") as f:
            f.write("old\n")
        os.chmod(target, 0o600)
        velmoran(COMMANDS["scans"](self.dataset, target), check=True)
        self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o600)
        for mask, mode in ((0o077, 0o600), (0o022, 0o644), (0o002, 0o664)):
            for named in ("0", "1"):
                with self.subTest(umask=oct(mask), named=named):
                    target = self.path("new-%o-%s.tsv" % (mask, named))
                    env = dict(os.environ, VELMORAN_NAMED_TEMPORARY=named)
                    velmoran(COMMANDS["scans"](self.dataset, target), check=True, env=env,
                             preexec_fn=lambda: os.umask(mask))
                    self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), mode)

    def test_a_directory_that_cannot_be_written_is_named(self):
        locked = self.path("locked")
        os.mkdir(locked)
        target = os.path.join(locked, "scans.tsv")
        with open(target, "w") as f:
            f.write("old\n")
        os.chmod(target, 0o666)
        os.chmod(locked, 0o555)
        # root writes anywhere: run as an unprivileged user then.
        proc = self.as_nobody(COMMANDS["scans"](self.dataset, target))
        self.assertEqual(proc.returncode, 1)
        self.assertIn("velmoran: %s: directory %s: I/O error: Permission denied" % (target, locked),
                      proc.stderr)
        with open(target) as f:
            self.assertEqual(f.read(), "old\n")

    def as_nobody(self, args):
        """Runs the command as uid 65534 when the test runs as root, from
        the copy that user can reach."""
        return subprocess.run([self.nobody_program, *args], capture_output=True, text=True,
                               env=self.nobody_env, preexec_fn=as_nobody())

    def test_a_file_the_user_may_not_write_is_refused(self):
        # As `echo x > ro.tsv` and cp refuse; its directory may be written.
        os.chmod(self.work, 0o777)
        for command, args in COMMANDS.items():
            with self.subTest(command):
                target = self.path(command + ".ro")
                with open(target, "w") as f:
                    f.write("old\n")
                os.chmod(target, 0o444)
                proc = self.as_nobody(args(self.dataset, target))
                self.assertEqual(proc.returncode, 1, proc.stderr)
                # convert names the run first: "velmoran: RUN: TARGET: ...".
                self.assertIn("%s: I/O error: Permission denied" % target, proc.stderr)
                with open(target) as f:
                    self.assertEqual(f.read(), "old\n")
                self.assertEqual(os.listdir(self.work), [command + ".ro"])
                if os.geteuid() == 0:
                    # root may write it, as the shell lets root; the mode stays.
                    velmoran(args(self.dataset, target), check=True)
                    self.assertEqual(stat.S_IMODE(os.stat(target).st_mode), 0o444)
                os.remove(target)

    def test_no_output_lands_on_or_in_an_input_run(self):
        # The run's own files under every name a user may give them, and
        # new files inside the run.
        run = os.path.join(self.work, "v.d")
        shutil.copytree(self.dataset, run, symlinks=True)
        outside = self.path("outside")
        os.mkdir(outside)
        os.link(os.path.join(run, "AcqData", "MSPeak.bin"), os.path.join(outside, "hard.bin"))
        os.symlink(os.path.join(run, "AcqData", "MSScan.bin"), os.path.join(outside, "soft.bin"))
        os.symlink(os.path.join(run, "AcqData", "new.bin"), os.path.join(outside, "dangling.bin"))
        targets = [os.path.join(run, "AcqData", name)
                   for name in ("MSScan.bin", "MSPeak.bin", "MSProfile.bin", "new.bin")]
        targets += [os.path.join(run, "out.tsv"), os.path.join(run, ".", "AcqData", "..", "x"),
                    *(os.path.join(outside, name)
                      for name in ("hard.bin", "soft.bin", "dangling.bin"))]
        before, around = tree_digest(run), sorted(os.listdir(outside))
        for command, args in COMMANDS.items():
            for target in targets:
                with self.subTest(command=command, target=target):
                    proc = velmoran(args(run, target), text=True)
                    self.assertEqual(proc.returncode, 1, proc.stderr)
                    self.assertIn("%s: " % target, proc.stderr)
                    self.assertIn("input run %s" % run, proc.stderr)
                    self.assertEqual(tree_digest(run), before)
                    self.assertEqual(sorted(os.listdir(outside)), around)
        # Several runs into a directory inside one of them: not even the
        # directory is made.
        other = os.path.join(self.work, "w.d")
        shutil.copytree(self.dataset, other)
        proc = velmoran(["convert", "-q", other, run, "-o", os.path.join(run, "mzml")], text=True)
        self.assertEqual(proc.returncode, 1, proc.stderr)
        self.assertIn("input run %s" % run, proc.stderr)
        self.assertEqual(tree_digest(run), before)
        # Standard output appended to a run's file by the shell, as cat
        # refuses `cat f >> f`.
        with open(os.path.join(run, "AcqData", "MSPeak.bin"), "ab") as out:
            proc = subprocess.run([VELMORAN, "scans", run], stdout=out, stderr=subprocess.PIPE,
                                  text=True)
        self.assertEqual(proc.returncode, 1, proc.stderr)
        self.assertIn("velmoran: standard output: the same file as", proc.stderr)
        self.assertEqual(tree_digest(run), before)

    def test_relative_names_given_from_inside_a_run(self):
        # A bare name is resolved from the working directory like ./name; a
        # run given as . or .. names its outputs for its directory.
        run = os.path.join(self.work, "v.d")
        other = os.path.join(self.work, "w.d")
        for copy in (run, other):
            shutil.copytree(self.dataset, copy)
        inside, out = os.path.join(run, "AcqData"), self.path("out")
        rows = [  # (working directory, arguments, status, files then in `out`)
            (run, ["qc", ".", "-o", "x.mzQC"], 1, None),
            (run, ["scans", ".", "-o", "x.tsv"], 1, None),
            (inside, ["convert", "-q", ".."], 1, None),
            (inside, ["qc", ".."], 1, None),
            (run, ["convert", "-q", ".", other, "-o", out], 0, ["v.mzML", "w.mzML"]),
            (inside, ["qc", "..", other, "-o", os.path.join(out, "b.mzQC")], 0, ["b.mzQC"]),
        ]
        before = tree_digest(run)
        for cwd, args, status, made in rows:
            with self.subTest(cwd=os.path.relpath(cwd, self.work), args=args):
                shutil.rmtree(out, ignore_errors=True)
                if made == ["b.mzQC"]:
                    os.mkdir(out)
                proc = velmoran(args, cwd=cwd, text=True)
                self.assertEqual(proc.returncode, status, proc.stderr)
                self.assertEqual(tree_digest(run), before)
                if made is None:
                    self.assertIn("inside the input run", proc.stderr)
                else:
                    self.assertEqual(sorted(os.listdir(out)), made)

    def test_a_name_too_long_for_the_temporary_suffix(self):
        name = "x" * 250 + ".tsv"  # 254 bytes, the most a name may have is 255
        velmoran(COMMANDS["scans"](self.dataset, self.path(name)), check=True)
        self.assertEqual(os.listdir(self.work), [name])

    def test_the_file_reaches_the_disk_before_its_name(self):
        # After a crash a renamed file must not be empty: the data is
        # flushed before the rename (unless --no-fsync).
        strace = shutil.which("strace")
        if strace is None:
            self.skipTest("no strace")
        # LeakSanitizer cannot run under a tracer; a sanitized build is
        # traced without it.
        env = dict(os.environ)
        env["ASAN_OPTIONS"] = ":".join(filter(None, [env.get("ASAN_OPTIONS"), "detect_leaks=0"]))
        for extra, flushed in (([], True), (["--no-fsync"], False)):
            with self.subTest(extra=extra):
                log = self.path("strace.log")
                subprocess.run([strace, "-f", "-o", log, "-e", "trace=fsync,fdatasync,rename,renameat,renameat2",
                                VELMORAN, *COMMANDS["scans"](self.dataset, self.path("out.tsv")), *extra],
                               check=True, capture_output=True, env=env)
                with open(log) as f:
                    calls = [line.split()[1].split("(")[0] for line in f if "(" in line]
                os.remove(log)
                renamed = next(i for i, call in enumerate(calls) if call.startswith("rename"))
                self.assertEqual(any(call in ("fsync", "fdatasync") for call in calls[:renamed]),
                                 flushed, calls)

    def mzpeak(self, target, *extra, run=None, **kwargs):
        return velmoran(["convert", "-q", run or self.dataset, "--format", "mzpeak", *extra, "-o",
                         target], text=True, **kwargs)

    def snapshot(self):
        """Every name in the work directory with what it holds."""
        found = {}
        for name in os.listdir(self.work):
            path = self.path(name)
            if os.path.isdir(path):
                found[name] = tree_digest(path)
            else:
                with open(path) as f:
                    found[name] = f.read()
        return found

    def test_an_unpacked_archive_appears_whole_or_not_at_all(self):
        out = self.path("out")
        fresh = self.path("fresh")
        self.mzpeak(fresh, "--unpacked", check=True)
        expected = tree_digest(fresh)
        shutil.rmtree(fresh)

        def earlier():  # an archive of an earlier conversion, another layout
            self.mzpeak(out, "--unpacked", "--mzpeak-layout", "point", check=True)

        def foreign():
            os.mkdir(out)
            with open(os.path.join(out, "notes.txt"), "w") as f:
                f.write("mine\n")

        def a_file():
            with open(out, "w") as f:
                f.write("mine\n")

        def link_to_earlier():
            earlier()
            os.rename(out, self.path("real"))
            os.symlink("real", out)

        def file_limit():
            resource.setrlimit(resource.RLIMIT_FSIZE, (4096, 4096))

        rows = [  # (what is at the target, limit, status, message or the archive expected)
            (None, file_limit, 1, "File too large"),
            (earlier, file_limit, 1, "File too large"),
            (foreign, None, 1, "Directory not empty"),
            (a_file, None, 1, "Not a directory"),
            (earlier, None, 0, expected),
            (link_to_earlier, None, 0, expected),
        ]
        for prepare, limit, status, outcome in rows:
            with self.subTest(target=prepare and prepare.__name__, limit=limit is not None):
                if prepare:
                    prepare()
                before = self.snapshot()
                proc = self.mzpeak(out, "--unpacked", preexec_fn=limit)
                self.assertEqual(proc.returncode, status, proc.stderr)
                if status:
                    self.assertIn("%s: I/O error: %s" % (out, outcome), proc.stderr)
                    self.assertEqual(self.snapshot(), before)  # no temporary, the old target untouched
                else:
                    self.assertEqual(tree_digest(out), outcome)
                    self.assertEqual(os.path.islink(out), prepare is link_to_earlier)
                    self.assertFalse([n for n in os.listdir(self.work) if ".tmp-" in n])
                for name in os.listdir(self.work):
                    path = self.path(name)
                    if os.path.isdir(path) and not os.path.islink(path):
                        shutil.rmtree(path)
                    else:
                        os.remove(path)
        # A parent the user may not write: named, and nothing made.
        locked = self.path("locked")
        os.mkdir(locked, 0o555)
        proc = velmoran(["convert", "-q", self.dataset, "--format", "mzpeak", "--unpacked", "-o",
                         os.path.join(locked, "out")], text=True) if os.geteuid() != 0 else \
            self.as_nobody(["convert", "-q", self.dataset, "--format", "mzpeak", "--unpacked",
                            "-o", os.path.join(locked, "out")])
        self.assertEqual(proc.returncode, 1, proc.stderr)
        self.assertIn("Permission denied", proc.stderr)
        self.assertEqual(os.listdir(locked), [])

    def test_an_interrupted_archive_leaves_nothing(self):
        # The ZIP's members are anonymous scratch files; its output is named
        # here so that the test sees the conversion under way.
        for extra in (["--unpacked"], []):
            with self.subTest(extra=extra):
                proc = subprocess.Popen([VELMORAN, "convert", "-q", self.long_run, "--format",
                                         "mzpeak", *extra, "-o", self.path("out")],
                                        stderr=subprocess.DEVNULL,
                                        env=dict(os.environ, VELMORAN_NAMED_TEMPORARY="1"))
                deadline = time.monotonic() + 10
                while not any(n.startswith(".out.tmp-") for n in os.listdir(self.work)):
                    self.assertIsNone(proc.poll(), "the command ended before the signal")
                    self.assertLess(time.monotonic(), deadline, "no temporary appeared")
                    time.sleep(0.001)
                proc.send_signal(signal.SIGINT)
                self.assertEqual(proc.wait(), -signal.SIGINT)
                self.assertEqual(os.listdir(self.work), [])

    def test_interruption_leaves_no_temporary(self):
        cases = [(command, sig, "1") for command in COMMANDS
                 for sig in (signal.SIGINT, signal.SIGTERM)]
        cases.append(("convert", signal.SIGKILL, "0"))  # anonymous temporary
        for command, sig, named in cases:
            with self.subTest(command=command, signal=sig.name, named=named):
                target = self.path("out")
                with open(target, "w") as f:
                    f.write("old\n")
                args = COMMANDS[command](self.long_run, target)
                env = dict(os.environ, VELMORAN_NAMED_TEMPORARY=named)
                proc = subprocess.Popen([VELMORAN, *args], env=env, stderr=subprocess.DEVNULL)
                self.wait_until_writing(proc, named == "1")
                proc.send_signal(sig)
                self.assertEqual(proc.wait(), -sig, "the command ended before the signal")
                self.assertEqual(os.listdir(self.work), ["out"])
                with open(target) as f:
                    self.assertEqual(f.read(), "old\n")

    def wait_until_writing(self, proc, named):
        deadline = time.monotonic() + 10
        while time.monotonic() < deadline and proc.poll() is None:
            if not named:
                # Nothing to see: give it time to open and write.
                time.sleep(0.3)
                return
            if any(".tmp-" in name for name in os.listdir(self.work)):
                return
            time.sleep(0.001)
        self.fail("no temporary appeared")


class ClosedPipe(unittest.TestCase):
    def test_a_reader_that_stops_early_ends_the_command_quietly(self):
        with tempfile.TemporaryDirectory() as tmp:
            run = os.path.join(tmp, "run.d")
            subprocess.run([MKDATASET, "synth", run, "--ms1", "500", "--ms2", "1500", "--points",
                            "50", "--peaks", "20", "--seed", "3"], check=True, capture_output=True)
            for args in (["scans", run], ["xic", run, "--mz", "300", "--mz", "400", "--mz", "500",
                                                   "--ppm", "10", "--ms-level", "2"]):
                with self.subTest(args[0]):
                    # velmoran ... | head -1: the table is far larger than the pipe's buffer.
                    proc = subprocess.Popen([VELMORAN, *args], stdout=subprocess.PIPE,
                                            stderr=subprocess.PIPE)
                    proc.stdout.readline()
                    proc.stdout.close()
                    error = proc.stderr.read()
                    proc.stderr.close()
                    self.assertEqual((proc.wait(), error), (0, b""))


@unittest.skipIf(os.environ.get("VELMORAN_SANITIZED"), "the sanitizer's quarantine holds freed memory")
class ArchiveMemory(unittest.TestCase):
    def test_an_archive_is_not_held_in_memory(self):
        # The members stream to scratch files and the ZIP is copied from
        # them: the memory a conversion takes grows far less with the run
        # than the archive does (holding it, memory grew by twice the
        # archive).
        with tempfile.TemporaryDirectory() as tmp:
            rss = {}
            for name, scans in (("small", "100"), ("large", "4000")):
                run = os.path.join(tmp, name + ".d")
                subprocess.run([MKDATASET, "synth", run, "--ms1", scans, "--ms2", "0", "--points",
                                "20000", "--peaks", "300", "--seed", "5"], check=True,
                               capture_output=True)
                archive = os.path.join(tmp, name + ".mzpeak")
                pid = os.posix_spawn(VELMORAN, [VELMORAN, "convert", "-q", run, "--format",
                                                "mzpeak", "-o", archive], os.environ)
                _, status, usage = os.wait4(pid, 0)
                self.assertEqual(os.waitstatus_to_exitcode(status), 0)
                rss[name] = usage.ru_maxrss * 1024
                shutil.rmtree(run)
            size = os.path.getsize(archive)
            self.assertGreater(size, 40 << 20)
            self.assertLess(rss["large"] - rss["small"], size // 2, rss)


class Threads(unittest.TestCase):
    def test_the_default_follows_the_cpus_the_process_may_use(self):
        if not hasattr(os, "sched_setaffinity"):
            self.skipTest("no CPU affinity here")
        with tempfile.TemporaryDirectory() as tmp:
            run = os.path.join(tmp, "run.d")
            subprocess.run([MKDATASET, "synth", run, "--ms1", "300", "--ms2", "900", "--points",
                            "20000", "--peaks", "300", "--seed", "3"], check=True, capture_output=True)
            # taskset -c 0 velmoran convert: the process never has a second thread.
            proc = subprocess.Popen([VELMORAN, "convert", "-q", run, "-o", os.path.join(tmp, "o.mzML")],
                                    preexec_fn=lambda: os.sched_setaffinity(0, {min(os.sched_getaffinity(0))}))
            most = 0
            while proc.poll() is None:
                try:
                    most = max(most, len(os.listdir("/proc/%d/task" % proc.pid)))
                except FileNotFoundError:
                    break
                time.sleep(0.005)
            self.assertEqual(proc.wait(), 0)
            self.assertEqual(most, 1)

    def test_threads_beyond_the_bound_are_a_usage_error(self):
        proc = velmoran(["convert", "--threads", "257", "run.d"], text=True)
        self.assertEqual(proc.returncode, 2)
        self.assertIn("--threads", proc.stderr)


if __name__ == "__main__":
    unittest.main()
