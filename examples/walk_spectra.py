"""Open a run and walk its spectra.

    python3 examples/walk_spectra.py RUN.d
"""

import sys

import velmoran

reader = velmoran.RawReader(sys.argv[1])  # reads and decodes the whole run
print(reader)
for index in range(reader.scan_count):
    spectrum = reader.read_spectrum(index)
    mz = spectrum.mz  # a new list on every access: keep it
    intensity = spectrum.intensity
    if mz:
        print(
            "%5d  MS%d  %8.2f s  %6d points  m/z %.4f..%.4f  max %.0f"
            % (index, spectrum.ms_level, spectrum.retention_time_sec, len(mz), min(mz), max(mz), max(intensity))
        )
    else:
        print("%5d  MS%d  %8.2f s  (empty)" % (index, spectrum.ms_level, spectrum.retention_time_sec))
