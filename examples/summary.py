"""Open an acquisition dataset with velmoran and print a readable summary.

    python3 examples/summary.py RUN.d [--first 5] [--png chromatogram.png]

Prints the scans by MS level, the retention-time range, the points in
total, how long loading took, the first few spectra and a text chart of the
total-ion-current (TIC) chromatogram. With --png it also draws the
chromatogram and one spectrum with matplotlib, where that is installed.
"""

import argparse
import os
import sys
import time
from collections import Counter

import velmoran


def dataset_bytes(path):
    total = 0
    acq = os.path.join(path, "AcqData")
    for name in ("MSScan.bin", "MSPeak.bin", "MSProfile.bin"):
        try:
            total += os.path.getsize(os.path.join(acq, name))
        except OSError:
            pass
    return total


def base_peak(spectrum):
    intensity = spectrum.intensity
    if not intensity:
        return None, 0.0
    best = max(range(len(intensity)), key=intensity.__getitem__)
    return spectrum.mz[best], intensity[best]


def text_chart(times, values, width=64, height=10):
    """A TIC chromatogram as rows of characters, highest row first."""
    if not values or max(values) <= 0:
        return ["(no signal)"]
    lo, hi = min(times), max(times)
    span = (hi - lo) or 1.0
    columns = [0.0] * width
    for t, v in zip(times, values):
        c = min(width - 1, int((t - lo) / span * width))
        columns[c] = max(columns[c], v)
    # Scale between the lowest and highest column, so that the shape of
    # the chromatogram shows above a high baseline.
    top = max(columns)
    bottom = min(columns)
    rows = []
    for level in range(height, 0, -1):
        threshold = bottom + (top - bottom) * (level - 0.5) / height
        rows.append("|" + "".join("#" if v >= threshold else " " for v in columns))
    rows[0] += " %.3g" % top
    rows[-1] += " %.3g" % bottom
    rows.append("+" + "-" * width)
    rows.append(" %-*s%s" % (width - 8, "%.2f min" % (lo / 60), "%.2f min" % (hi / 60)))
    return rows


def write_png(path, times, tics, spectrum):
    try:
        import matplotlib

        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        print(
            "\nmatplotlib is not installed for %s, so no PNG was written.\n"
            "On Debian: apt-get install python3-matplotlib, then run this script with\n"
            "/usr/bin/python3 (or pip install matplotlib into this interpreter)."
            % sys.executable
        )
        return False
    fig, (top, bottom) = plt.subplots(2, 1, figsize=(10, 7))
    top.plot([t / 60 for t in times], tics, linewidth=0.8)
    top.set_xlabel("retention time (min)")
    top.set_ylabel("total ion current")
    top.set_title("TIC chromatogram")
    if spectrum is not None and len(spectrum):
        bottom.plot(spectrum.mz, spectrum.intensity, linewidth=0.6)
        bottom.set_title(repr(spectrum))
    bottom.set_xlabel("m/z")
    bottom.set_ylabel("intensity")
    fig.tight_layout()
    fig.savefig(path, dpi=110)
    print("\nwrote %s" % path)
    return True


def main(argv=None):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("dataset", help="path of a .d acquisition dataset")
    parser.add_argument("--first", type=int, default=5, help="spectra to show (default 5)")
    parser.add_argument("--png", help="also write the chromatogram and a spectrum to this PNG")
    args = parser.parse_args(argv)

    start = time.perf_counter()
    try:
        reader = velmoran.RawReader(args.dataset)
    except RuntimeError as error:
        print("cannot read %s: %s" % (args.dataset, error), file=sys.stderr)
        return 1
    seconds = time.perf_counter() - start

    spectra = [reader.read_spectrum(i) for i in range(reader.scan_count)]
    levels = Counter(s.ms_level for s in spectra)
    points = sum(len(s) for s in spectra)
    empty = sum(1 for s in spectra if not s)
    times = [s.retention_time_sec for s in spectra]
    ms1 = [s for s in spectra if s.ms_level == 1] or spectra
    tic_times = [s.retention_time_sec for s in ms1]
    tics = [sum(s.intensity) for s in ms1]
    size = dataset_bytes(args.dataset)

    print(repr(reader))
    print("scans by MS level: " + ", ".join("MS%d: %d" % kv for kv in sorted(levels.items())))
    if times:
        print("retention time:    %.2f to %.2f min" % (min(times) / 60, max(times) / 60))
    print("points in total:   %d (%d empty spectra)" % (points, empty))
    print(
        "loaded in %.3f s:  %.1f M points/s, %.1f MB/s of dataset files"
        % (seconds, points / seconds / 1e6 if seconds else 0, size / seconds / 1e6 if seconds else 0)
    )

    print("\nfirst spectra:")
    for s in spectra[: args.first]:
        mz, intensity = base_peak(s)
        peak = "base peak %.4f @ %.0f" % (mz, intensity) if mz is not None else "no points"
        print("  %-36s MS%d  %s  TIC %.4g" % (repr(s), s.ms_level, peak, sum(s.intensity)))

    print("\nTIC chromatogram (%s scans):" % ("MS1" if levels.get(1) else "all"))
    for row in text_chart(tic_times, tics):
        print("  " + row)

    if args.png:
        richest = max(ms1, key=len) if ms1 else None
        write_png(args.png, tic_times, tics, richest)
    return 0


if __name__ == "__main__":
    sys.exit(main())
