"""Pull the MS2 (fragment) spectra out of a run.

    python3 examples/ms2_spectra.py RUN.d
"""

import sys

import velmoran

reader = velmoran.RawReader(sys.argv[1])
ms2 = [
    spectrum
    for spectrum in (reader.read_spectrum(i) for i in range(reader.scan_count))
    if spectrum.ms_level == 2
]
print("%d MS2 spectra of %d scans" % (len(ms2), reader.scan_count))
for spectrum in ms2[:10]:
    pairs = sorted(zip(spectrum.intensity, spectrum.mz), reverse=True)[:3]
    top = ", ".join("%.4f (%.0f)" % (mz, intensity) for intensity, mz in pairs)
    print("%s  top peaks: %s" % (spectrum, top or "none"))
