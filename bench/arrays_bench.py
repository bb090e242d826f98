"""velmoran_arrays beside the C++ read of the same run, side by side.

    PYTHONPATH=<build>/python/X.Y python3 bench/arrays_bench.py \
        --read-run <build>/bench/read_run [--mzml RUN.mzML] [--rounds 5] RUN.d [LONG_RUN.d]

Each round runs every variant once, in turn, each in a fresh interpreter
that imports what it needs, then times only its work (perf_counter) and
reports its peak resident memory above the resident memory before the work
(ru_maxrss against /proc/self/statm): the figures come from one invocation,
so other load on the machine touches all of them alike; the least CPU
time (user + system, every thread) is the figure other load disturbs
least. The yardstick is
bench/read_run (open, iter_spectra, next to the end, records dropped) timed
as a whole process. Prints the best and the median of the rounds, and the
ratios the targets are stated in. A benchmark, not a test: it passes or
fails nothing. Needs numpy; pymzML for --mzml.
"""

import argparse
import json
import os
import resource
import statistics
import subprocess
import sys
import time

# Each variant: code run after the imports, with `path` bound; it sets
# `points` to the points it read.
PRELUDE = """
import json, resource, sys, time
import numpy
sys.path[:0] = %(path_entries)r
import velmoran, velmoran_arrays
path = %(run)r
page = __import__("os").sysconf("SC_PAGE_SIZE")
base = int(open("/proc/self/statm").read().split()[1]) * page
def cpu():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return usage.ru_utime + usage.ru_stime
cpu_started = cpu()
started = time.perf_counter()
"""
EPILOGUE = """
elapsed = time.perf_counter() - started
cpu_seconds = cpu() - cpu_started
peak = resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024
print(json.dumps({"seconds": elapsed, "cpu": cpu_seconds, "peak": max(peak - base, 0),
                  "points": points}))
"""
VARIANTS = {
    "peaks, 1 thread": """
p = velmoran_arrays.open(path).peaks(threads=1)
points = len(p.mz)
""",
    "peaks, 2 threads": """
p = velmoran_arrays.open(path).peaks(threads=2)
points = len(p.mz)
""",
    "spectra + numpy.asarray": """
points = 0
for s in velmoran_arrays.open(path).spectra():
    mz, intensity = numpy.asarray(s.mz), numpy.asarray(s.intensity)
    points += len(mz)
""",
    "RawReader + numpy.asarray of the lists": """
r = velmoran.RawReader(path)
points = 0
for i in range(r.scan_count):
    s = r.read_spectrum(i)
    mz, intensity = numpy.asarray(s.mz), numpy.asarray(s.intensity)
    points += len(mz)
""",
}
PYMZML = """
import pymzml
points = 0
for s in pymzml.run.Reader(%(mzml)r):
    mz, intensity = s.mz, s.i
    points += len(mz)
"""


def run_variant(code, run, mzml=None):
    source = PRELUDE % {"path_entries": [p for p in sys.path if p], "run": run}
    source += code % {"mzml": mzml} if mzml else code
    source += EPILOGUE
    out = subprocess.run([sys.executable, "-c", source], check=True, capture_output=True,
                         text=True).stdout
    return json.loads(out.strip().splitlines()[-1])


def children_cpu():
    usage = resource.getrusage(resource.RUSAGE_CHILDREN)
    return usage.ru_utime + usage.ru_stime


def read_run_seconds(read_run, run):
    """(wall, CPU) seconds of one whole read_run process."""
    cpu_started = children_cpu()
    started = time.perf_counter()
    subprocess.run([read_run, run], check=True, stdout=subprocess.DEVNULL)
    return time.perf_counter() - started, children_cpu() - cpu_started


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--read-run", required=True, help="path of bench/read_run")
    parser.add_argument("--mzml", help="the run as uncompressed mzML, for pymzML")
    parser.add_argument("--rounds", type=int, default=5)
    parser.add_argument("run")
    parser.add_argument("long_run", nargs="?", help="a longer run: memory of spectra() on it")
    args = parser.parse_args()

    read_run_seconds(args.read_run, args.run)  # the files into the page cache
    cpp = "C++ read (read_run)"
    times, cpus, peaks = {cpp: []}, {cpp: []}, {}
    points = 0

    def record(name, result):
        times.setdefault(name, []).append(result["seconds"])
        cpus.setdefault(name, []).append(result["cpu"])
        peaks[name] = max(peaks.get(name, 0), result["peak"])

    for _ in range(args.rounds):
        wall, cpu = read_run_seconds(args.read_run, args.run)
        times[cpp].append(wall)
        cpus[cpp].append(cpu)
        for name, code in VARIANTS.items():
            result = run_variant(code, args.run)
            record(name, result)
            points = result["points"]
    if args.mzml:
        for _ in range(min(args.rounds, 2)):
            record("pymzML over uncompressed mzML", run_variant(PYMZML, args.run, args.mzml))

    read = min(times[cpp])
    read_cpu = min(cpus[cpp])
    raw = min(times["RawReader + numpy.asarray of the lists"])
    print("run %s: %d points; load average %.2f %.2f %.2f" % ((args.run, points) + os.getloadavg()))
    print("| variant | best ms | median ms | / C++ read | RawReader+numpy / this | least CPU ms | CPU / C++ read CPU | peak MiB above start | bytes per point |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---:|")
    for name, seconds in times.items():
        best = min(seconds)
        peak = peaks.get(name)
        print("| %s | %.1f | %.1f | %.2f | %.1f | %.1f | %.2f | %s | %s |" % (
            name, best * 1e3, statistics.median(seconds) * 1e3, best / read, raw / best,
            min(cpus[name]) * 1e3, min(cpus[name]) / read_cpu,
            "%.1f" % (peak / 2**20) if peak is not None else "",
            "%.2f" % (peak / points) if peak is not None and points else ""))
    one, two = min(times["peaks, 1 thread"]), min(times["peaks, 2 threads"])
    print("peaks: 2 threads are %.2fx faster than 1" % (one / two))
    if args.long_run:
        result = run_variant(VARIANTS["spectra + numpy.asarray"], args.long_run)
        print("spectra + numpy.asarray over %s (%d points): %.1f ms, peak %.1f MiB above start" % (
            args.long_run, result["points"], result["seconds"] * 1e3, result["peak"] / 2**20))


if __name__ == "__main__":
    main()
