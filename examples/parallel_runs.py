"""Read many runs in parallel with worker processes.

    python3 examples/parallel_runs.py RUN1.d RUN2.d ...

velmoran holds the interpreter lock while it reads, so threads do not read
runs in parallel; processes do. Each worker opens its own RawReader and
sends back only small results, not the spectra.
"""

import sys
from concurrent.futures import ProcessPoolExecutor

import velmoran


def summarise(path):
    try:
        reader = velmoran.RawReader(path)
    except RuntimeError as error:
        return path, None, str(error)
    points = 0
    tic = 0.0
    for index in range(reader.scan_count):
        spectrum = reader.read_spectrum(index)
        intensity = spectrum.intensity
        points += len(intensity)
        tic += sum(intensity)
    return path, (reader.scan_count, points, tic), None


def main(paths):
    with ProcessPoolExecutor() as pool:
        for path, result, error in pool.map(summarise, paths):
            if error:
                print("%s: %s" % (path, error))
            else:
                scans, points, tic = result
                print("%s: %d scans, %d points, total ion current %.4g" % (path, scans, points, tic))


if __name__ == "__main__":
    main(sys.argv[1:])
