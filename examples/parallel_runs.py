"""Read many runs in parallel with worker processes.

    python3 examples/parallel_runs.py RUN1.d RUN2.d ...

velmoran holds the interpreter lock while it reads, so threads do not read
runs in parallel; processes do. Each worker opens its own RawReader and
sends back only small results, not the spectra. Exit status 1 when any run
could not be read (each is named on standard error), else 0.
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
    failed = 0
    with ProcessPoolExecutor() as pool:
        for path, result, error in pool.map(summarise, paths):
            if error:
                print("%s: %s" % (path, error), file=sys.stderr)
                failed += 1
            else:
                scans, points, tic = result
                print("%s: %d scans, %d points, total ion current %.4g" % (path, scans, points, tic))
    if failed:
        print("%d of %d runs failed" % (failed, len(paths)), file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
