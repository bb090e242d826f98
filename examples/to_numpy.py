"""Turn spectra into numpy arrays, where numpy is installed.

    python3 examples/to_numpy.py RUN.d
"""

import sys

import velmoran

try:
    import numpy as np
except ImportError:
    print("numpy is not installed for this interpreter (Debian: apt-get install python3-numpy)")
    sys.exit(0)

reader = velmoran.RawReader(sys.argv[1])
for index in range(min(5, reader.scan_count)):
    spectrum = reader.read_spectrum(index)
    mz = np.asarray(spectrum.mz, dtype=np.float64)
    # Intensities are stored as 32-bit floats; float32 holds them exactly.
    intensity = np.asarray(spectrum.intensity, dtype=np.float32)
    if mz.size:
        weighted = float(np.sum(mz * intensity) / max(float(np.sum(intensity)), 1e-30))
        print("%s  mean m/z weighted by intensity: %.4f" % (spectrum, weighted))
    else:
        print("%s  empty" % spectrum)
