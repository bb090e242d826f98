"""Six everyday analyses written with velmoran_arrays and with pymzML, side
by side: lines of code, time, and whether the results agree.

    PYTHONPATH=<build>/python/X.Y python3 bench/analyses_bench.py \
        --velmoran <build>/cli/velmoran [--rounds 3] RUN.d RUN.mzML MRM.d MRM.mzML

RUN.mzML and MRM.mzML are the runs converted by `velmoran convert
--compression none` (pymzML reads mzML, not the datasets). Each round runs
every variant once, in turn, each in a fresh interpreter that imports what
it needs and then times only its analysis (perf_counter), so that other
load on the machine touches both sides alike; the best and the median of
the rounds are printed. Lines of code count the analysis' own lines, blank
lines and comments left out. Then two ratios the module is held to: Run.xic
with 20 targets against the `velmoran xic` process with the same
arguments (its text sent to /dev/null), and peaks(peaks="picked") against
peaks(). A benchmark, not a test: it passes or fails nothing. Needs numpy,
pandas and pymzML (Debian: python3-numpy, python3-pandas, python3-pymzml).
"""

import argparse
import json
import os
import pickle
import statistics
import subprocess
import sys
import time

PRELUDE = """
import pickle, sys, time
import numpy as np
import pandas as pd
sys.path[:0] = %(path_entries)r
import velmoran_arrays
import pymzml
path, mzml, mrm, mrm_mzml = %(paths)r
targets, precursors = %(targets)r
started = time.perf_counter()
"""
EPILOGUE = """
elapsed = time.perf_counter() - started
sys.stdout.buffer.write(pickle.dumps((elapsed, result)))
"""

# Each analysis: (what it computes, velmoran_arrays code, pymzML code); the
# code sets `result`.
ANALYSES = {
    "TIC and BPC of the MS1 scans": ("""
run = velmoran_arrays.open(path)
result = (np.asarray(run.tic().intensity), np.asarray(run.bpc().intensity))
""", """
tic, bpc = [], []
for s in pymzml.run.Reader(mzml):
    if isinstance(s, pymzml.spec.Spectrum) and s.ms_level == 1:
        intensity = s.i
        tic.append(float(intensity.sum(dtype=float)) if len(intensity) else 0.0)
        bpc.append(float(intensity.max()) if len(intensity) else 0.0)
result = (np.array(tic), np.array(bpc))
"""),
    "20 XICs at 10 ppm": ("""
run = velmoran_arrays.open(path)
result = np.asarray(run.xic(targets, ppm=10).intensity)
""", """
rows = []
for s in pymzml.run.Reader(mzml):
    if isinstance(s, pymzml.spec.Spectrum) and s.ms_level == 1:
        mz, intensity = s.mz, s.i
        rows.append([intensity[(mz >= t - t * 1e-5) & (mz <= t + t * 1e-5)].sum(dtype=float)
                     for t in targets])
result = np.array(rows).T
"""),
    "MS2 spectra by precursor: their base peaks": ("""
run = velmoran_arrays.open(path)
scans = run.scans_frame()
near = np.abs(scans.precursor_mz.values[:, None] - precursors).min(axis=1) <= 0.01
peaks = run.peaks(index=scans.index[(scans.ms_level == 2) & near])
result = np.asarray(peaks.base_peak()[0])
""", """
found = []
for s in pymzml.run.Reader(mzml):
    if isinstance(s, pymzml.spec.Spectrum) and s.ms_level == 2:
        selected = s.selected_precursors
        if selected and min(abs(selected[0]["mz"] - p) for p in precursors) <= 0.01:
            found.append(s.mz[np.argmax(s.i)] if len(s.i) else np.nan)
result = np.array(found)
"""),
    "MS1 points as a long pandas table": ("""
run = velmoran_arrays.open(path)
result = run.peaks(ms_level=1).frame()
""", """
parts = []
for k, s in enumerate(pymzml.run.Reader(mzml)):
    if isinstance(s, pymzml.spec.Spectrum) and s.ms_level == 1:
        parts.append(pd.DataFrame({"index": k, "scan_id": s.ID,
                                   "rt_sec": s.scan_time_in_minutes() * 60,
                                   "mz": s.mz, "intensity": s.i}))
result = pd.concat(parts, ignore_index=True)
"""),
    "A spectrum at a time: the 10 highest points of every MS2 spectrum": ("""
run = velmoran_arrays.open(path)
result = []
for s in run.spectra(ms_level=2):
    result.append(np.sort(np.asarray(s.mz)[np.argsort(s.intensity, kind="stable")[-10:]]))
""", """
result = []
for s in pymzml.run.Reader(mzml):
    if isinstance(s, pymzml.spec.Spectrum) and s.ms_level == 2:
        result.append(np.sort(s.mz[np.argsort(s.i, kind="stable")[-10:]]))
"""),
    "MRM channel traces": ("""
run = velmoran_arrays.open(mrm)
result = {c: np.asarray(t.intensity) for c, t in run.channels().items()}
""", """
result = {}
for c in pymzml.run.Reader(mrm_mzml, skip_chromatogram=False):
    if isinstance(c, pymzml.spec.Chromatogram) and "channel=" in c.ID:
        result[int(c.ID.split("channel=")[1].split()[0])] = np.asarray(c.i)
"""),
}


def lines_of(code):
    return sum(1 for line in code.strip().splitlines()
               if line.strip() and not line.strip().startswith("#"))


def run_variant(code, paths, targets):
    source = PRELUDE % {"path_entries": [p for p in sys.path if p], "paths": paths,
                        "targets": targets}
    source += code + EPILOGUE
    out = subprocess.run([sys.executable, "-c", source], check=True,
                         capture_output=True).stdout
    return pickle.loads(out)


def agree(a, b):
    import numpy as np
    import pandas as pd
    if isinstance(a, pd.DataFrame):
        return a.shape == b.shape and all(np.allclose(a[c], b[c]) for c in ("rt_sec", "mz",
                                                                         "intensity"))
    if isinstance(a, dict):
        return a.keys() == b.keys() and all(agree(a[k], b[k]) for k in a)
    if isinstance(a, (tuple, list)):
        return len(a) == len(b) and all(agree(x, y) for x, y in zip(a, b))
    a, b = np.asarray(a, dtype=float), np.asarray(b, dtype=float)
    return a.shape == b.shape and np.allclose(a, b, rtol=1e-9, equal_nan=True)


def choose_targets(path):
    """20 m/z of MS1 points spread over the run, and 5 precursors."""
    import numpy as np
    import velmoran_arrays
    run = velmoran_arrays.open(path)
    mz = np.asarray(run.peaks(ms_level=1, threads=1).mz)
    targets = [float(x) for x in np.sort(mz)[np.linspace(0, len(mz) - 1, 22).astype(int)][1:-1]]
    precursor = np.asarray(run.scans["precursor_mz"])
    precursor = precursor[~np.isnan(precursor)]
    precursors = [float(x) for x in precursor[:: max(1, len(precursor) // 5)][:5]]
    return targets, precursors


def timed(function, rounds):
    seconds = []
    for _ in range(rounds):
        started = time.perf_counter()
        function()
        seconds.append(time.perf_counter() - started)
    return seconds


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--velmoran", required=True, help="the velmoran program")
    parser.add_argument("--rounds", type=int, default=3)
    parser.add_argument("run")
    parser.add_argument("mzml")
    parser.add_argument("mrm")
    parser.add_argument("mrm_mzml")
    args = parser.parse_args()
    paths = (args.run, args.mzml, args.mrm, args.mrm_mzml)
    targets = choose_targets(args.run)

    print("load average at start: %.2f %.2f %.2f" % os.getloadavg())
    print("| analysis | velmoran_arrays lines | pymzML lines | velmoran_arrays best ms | "
          "median ms | pymzML best ms | median ms | pymzML / velmoran_arrays | same results |")
    print("|---|---:|---:|---:|---:|---:|---:|---:|---|")
    totals = [0, 0]
    for name, (ours, theirs) in ANALYSES.items():
        times = ([], [])
        results = [None, None]
        lines = (lines_of(ours), lines_of(theirs))
        totals[0] += lines[0]
        totals[1] += lines[1]
        try:
            for _ in range(args.rounds):
                for side, code in enumerate((ours, theirs)):
                    seconds, results[side] = run_variant(code, paths, targets)
                    times[side].append(seconds)
        except subprocess.CalledProcessError as failed:
            reason = failed.stderr.decode(errors="replace").strip().splitlines()[-1:]
            print("| %s | %d | %d | failed: %s | | | | | |" % (name, *lines, " ".join(reason)))
            continue
        best = (min(times[0]), min(times[1]))
        print("| %s | %d | %d | %.1f | %.1f | %.1f | %.1f | %.1f | %s |" % (
            name, lines[0], lines[1], best[0] * 1e3, statistics.median(times[0]) * 1e3,
            best[1] * 1e3, statistics.median(times[1]) * 1e3, best[1] / best[0],
            "yes" if agree(*results) else "NO"))
    print("| all six | %d | %d | | | | | | |" % tuple(totals))

    import velmoran_arrays
    run = velmoran_arrays.open(args.run)
    command = [args.velmoran, "xic", args.run, "--ppm", "10", "-o", os.devnull, "--no-fsync"]
    for t in targets[0]:
        command += ["--mz", repr(t)]
    pairs = {"Run.xic, 20 targets / velmoran xic": (
        lambda: run.xic(targets[0], ppm=10),
        lambda: subprocess.run(command, check=True)),
        "peaks(peaks=\"picked\") / peaks()": (
        lambda: run.peaks(peaks="picked"), lambda: run.peaks())}
    for name, (ours, yardstick) in pairs.items():
        ours_seconds, yardstick_seconds = [], []
        for _ in range(max(args.rounds, 5)):  # alternated, so that load touches both
            ours_seconds += timed(ours, 1)
            yardstick_seconds += timed(yardstick, 1)
        print("%s: %.1f ms / %.1f ms = %.2f (best of %d each)" % (
            name, min(ours_seconds) * 1e3, min(yardstick_seconds) * 1e3,
            min(ours_seconds) / min(yardstick_seconds), len(ours_seconds)))
    print("load average at the end: %.2f %.2f %.2f" % os.getloadavg())


if __name__ == "__main__":
    main()
