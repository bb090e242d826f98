"""velmoran.RawReader(path) end to end, beside the floor, and its memory.

    PYTHONPATH=<build>/python/X.Y pythonX.Y bench/e2e_python.py \\
        --floor <build>/bench/e2e_bench [--reps 7] [--memory-reps 3] RUN.d...

For every run (a dataset made by velmoran-mkdataset), after reading its
files once so that they are in the page cache:

- time: RawReader(path) in this interpreter, best and median of --reps
  constructions; after each one the reader is dropped and the freed memory
  handed back to the system (outside the timing), so that every
  construction starts, as in a fresh process, with its memory still to be
  faulted in;
- floor: the C++ floor program (e2e_bench --floor-only) run now, on the same
  files, once with liblzf (the yardstick) and once with the library's own
  LZF decoder (the floor of everything but the decoder);
- memory: in a fresh interpreter per measurement, the resident set before
  the construction (baseline), after it (held) and at its highest
  (getrusage ru_maxrss, peak), as the median of --memory-reps, with the
  time of that first construction.

Prints one table of times and ratios and one of memory, in bytes per point
too, so that several runs of growing size show how the cost grows. This is
a benchmark: it prints figures and passes or fails nothing.
"""

import argparse
import ctypes
import ctypes.util
import gc
import json
import os
import platform
import resource
import statistics
import subprocess
import sys
import time

MIB = 1024.0 * 1024.0
# Targets: RawReader(path) against the liblzf floor; peak memory of the
# construction against what the reader holds afterwards.
TIME_TARGET = 1.25
PEAK_FACTOR = 1.1
PEAK_ALLOWANCE = 64 * MIB


def resident_bytes():
    with open("/proc/self/statm") as statm:
        return int(statm.read().split()[1]) * os.sysconf("SC_PAGE_SIZE")


def peak_resident_bytes():
    # ru_maxrss is in KiB on Linux.
    return resource.getrusage(resource.RUSAGE_SELF).ru_maxrss * 1024


def release_freed_memory():
    """Hands the memory freed by a dropped reader back to the system."""
    libc_name = ctypes.util.find_library("c")
    if libc_name:
        trim = getattr(ctypes.CDLL(libc_name), "malloc_trim", None)
        if trim is not None:
            trim(0)


def warm_page_cache(run):
    for name in ("MSScan.bin", "MSProfile.bin", "MSPeak.bin"):
        path = os.path.join(run, "AcqData", name)
        if os.path.exists(path):
            with open(path, "rb") as data:
                while data.read(1 << 20):
                    pass


def time_constructions(run, reps):
    import velmoran

    seconds = []
    for _ in range(reps):
        start = time.perf_counter()
        reader = velmoran.RawReader(run)
        seconds.append(time.perf_counter() - start)
        scans = reader.scan_count
        del reader
        gc.collect()
        release_freed_memory()
    return min(seconds), statistics.median(seconds), scans


def child_memory(run):
    """Runs in a fresh interpreter: one construction, its time and memory."""
    import velmoran

    gc.collect()
    baseline = resident_bytes()
    start = time.perf_counter()
    reader = velmoran.RawReader(run)
    seconds = time.perf_counter() - start
    held = resident_bytes()
    peak = peak_resident_bytes()
    json.dump({"seconds": seconds, "baseline": baseline, "held": held - baseline,
               "peak": peak - baseline, "scans": reader.scan_count}, sys.stdout)


def measure_memory(run, reps):
    samples = []
    for _ in range(reps):
        out = subprocess.run([sys.executable, os.path.abspath(__file__), "--child-memory", run],
                             check=True, stdout=subprocess.PIPE, universal_newlines=True).stdout
        samples.append(json.loads(out))
    return {key: statistics.median(s[key] for s in samples)
            for key in ("seconds", "baseline", "held", "peak")}


def run_floor(floor_program, run, reps, own_lzf):
    command = [floor_program, "--floor-only", "--tsv", "--reps", str(reps), run]
    if own_lzf:
        command.insert(1, "--own-lzf")
    out = subprocess.run(command, check=True, stdout=subprocess.PIPE,
                         universal_newlines=True).stdout
    fields = out.strip().split("\t")
    # floor RUN SCANS POINTS BEST MEDIAN BEST_CPU
    return {"scans": int(fields[2]), "points": int(fields[3]), "best": float(fields[4]),
            "median": float(fields[5])}


def describe_machine():
    model = "unknown CPU"
    try:
        with open("/proc/cpuinfo") as cpuinfo:
            for line in cpuinfo:
                if line.startswith("model name"):
                    model = line.split(":", 1)[1].strip()
                    break
    except OSError:
        pass
    return "%s, %d cores; Python %s (%s)" % (model, os.cpu_count() or 0,
                                             platform.python_version(), sys.executable)


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("runs", nargs="*", metavar="RUN.d")
    parser.add_argument("--floor", help="path of the e2e_bench program")
    parser.add_argument("--reps", type=int, default=7, help="constructions timed per run")
    parser.add_argument("--memory-reps", type=int, default=3,
                        help="fresh interpreters per run for the memory figures")
    parser.add_argument("--child-memory", metavar="RUN.d", help=argparse.SUPPRESS)
    args = parser.parse_args()
    if args.child_memory:
        child_memory(args.child_memory)
        return
    if not args.runs or not args.floor:
        parser.error("give --floor and at least one run")

    print(describe_machine())
    results = []
    for run in args.runs:
        warm_page_cache(run)
        best, median, scans = time_constructions(run, args.reps)
        floor = run_floor(args.floor, run, args.reps, own_lzf=False)
        own = run_floor(args.floor, run, args.reps, own_lzf=True)
        memory = measure_memory(run, args.memory_reps)
        if floor["scans"] != scans:
            sys.exit("%s: RawReader has %d scans, the floor %d" % (run, scans, floor["scans"]))
        results.append((run, best, median, floor, own, memory))

    print()
    print("RawReader(path): best of %d constructions (median in brackets); floors from "
          "e2e_bench in this invocation" % args.reps)
    print("%-24s %6s %10s %17s %17s %12s %10s %9s" % (
        "run", "scans", "points", "RawReader ms", "floor ms", "ratio", "vs own", "ns/point"))
    print("%-24s %6s %10s %17s %17s %12s %10s %9s" % (
        "", "", "", "", "(liblzf)", "(liblzf)", "LZF floor", ""))
    for run, best, median, floor, own, _ in results:
        ratio = best / floor["best"]
        print("%-24s %6d %10d %8.1f (%6.1f) %8.1f (%6.1f) %6.3f %-5s %10.3f %9.2f" % (
            run, floor["scans"], floor["points"], best * 1e3, median * 1e3,
            floor["best"] * 1e3, floor["median"] * 1e3, ratio,
            "ok" if ratio <= TIME_TARGET else "OVER", best / own["best"],
            best / floor["points"] * 1e9))
    print("Target: RawReader / liblzf floor <= %.2f." % TIME_TARGET)

    print()
    print("Memory of one construction in a fresh interpreter (median of %d); baseline: the "
          "resident set before it" % args.memory_reps)
    print("%-24s %10s %9s %9s %9s %9s %9s %10s %7s" % (
        "run", "points", "first ms", "held MiB", "peak MiB", "held B/pt", "peak B/pt",
        "limit MiB", "peak"))
    for run, _, _, floor, _, memory in results:
        points = floor["points"]
        limit = PEAK_FACTOR * memory["held"] + PEAK_ALLOWANCE
        print("%-24s %10d %9.1f %9.1f %9.1f %9.2f %9.2f %10.1f %7s" % (
            run, points, memory["seconds"] * 1e3, memory["held"] / MIB, memory["peak"] / MIB,
            memory["held"] / points, memory["peak"] / points, limit / MIB,
            "ok" if memory["peak"] <= limit else "OVER"))
    print("Target: peak <= %.1f x held + %d MiB (limit)." % (PEAK_FACTOR, PEAK_ALLOWANCE / MIB))


if __name__ == "__main__":
    main()
