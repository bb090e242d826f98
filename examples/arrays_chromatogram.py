"""A base-peak chromatogram and an MS2 precursor table with velmoran_arrays.

    python3 examples/arrays_chromatogram.py RUN.d

peaks() reads every MS1 spectrum at once into flat arrays (on every core,
without holding the interpreter lock); the precursor table comes from the
scan table alone, without reading a single spectrum. With numpy the base
peaks are one reduction per spectrum over views of the flat arrays; without
it, memoryview does the same in plain Python.
"""

import math
import sys

import velmoran_arrays

try:
    import numpy as np
except ImportError:
    np = None

run = velmoran_arrays.open(sys.argv[1])
print(run)

# Base-peak chromatogram: the highest intensity of each MS1 spectrum.
scans = run.scans
rt = memoryview(scans["rt_sec"])
peaks = run.peaks(ms_level=1)
offsets = memoryview(peaks.offsets)
if np is not None:
    intensity = np.asarray(peaks.intensity)  # shares the memory, no copy
    base = [float(intensity[a:b].max()) if b > a else 0.0
            for a, b in zip(offsets[:-1], offsets[1:])]
else:
    intensity = memoryview(peaks.intensity)
    base = [max(intensity[a:b], default=0.0) for a, b in zip(offsets[:-1], offsets[1:])]
print("base-peak chromatogram, %d MS1 spectra:" % len(peaks))
for position, value in list(zip(memoryview(peaks.index), base))[:10]:
    print("  RT %8.2f s  base peak %12.1f" % (rt[position], value))

# MS2 precursor table, from the scan table's columns.
levels = memoryview(scans["ms_level"])
scan_ids = memoryview(scans["scan_id"])
precursors = memoryview(scans["precursor_mz"])
fragments = [i for i in range(len(run)) if levels[i] == 2]
print("%d MS2 scans; the first ones:" % len(fragments))
print("  %6s %10s %12s" % ("scan", "RT s", "precursor"))
for i in fragments[:10]:
    mz = precursors[i]
    print("  %6d %10.2f %12s" % (scan_ids[i], rt[i], "-" if math.isnan(mz) else "%.4f" % mz))
