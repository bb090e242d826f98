"""How fast Spectrum.mz and Spectrum.intensity build their lists.

    PYTHONPATH=<build>/python/3.9 python bench/python_lists_bench.py \
        --mkdataset <build>/tests/velmoran-mkdataset [--points 100,10000,1000000]

For each size n it reads one MS1 profile spectrum of n points and times a
read of `mz` and of `intensity` against array('d', ...).tolist() of the same
length, the interpreter's own fastest way from a C array of doubles to a
list of floats (best of several rounds). A ratio of 1.0 means "as fast as
tolist"; the goal is 1.1 at most. This is a benchmark, not a test: it
prints figures and passes or fails nothing.
"""

import argparse
import os
import sys
import tempfile
import timeit
from array import array

import velmoran


def best_seconds(statement, number, repeat):
    return min(timeit.repeat(statement, number=number, repeat=repeat)) / number


def measure(mkdataset, points, workdir):
    path = os.path.join(workdir, "run%d.d" % points)
    command = "%s synth %s --ms1 1 --ms2 0 --points %d >/dev/null" % (mkdataset, path, points)
    if os.system(command) != 0:
        sys.exit("velmoran-mkdataset failed: " + command)
    spectrum = velmoran.RawReader(path).read_spectrum(0)
    if len(spectrum) != points:
        sys.exit("the profile decoded to %d points, not %d" % (len(spectrum), points))
    doubles = array("d", spectrum.mz)
    # About a tenth of a second of work per round, at least one call.
    number = max(1, 20_000_000 // (points * 10))
    mz = best_seconds(lambda: spectrum.mz, number, 7)
    intensity = best_seconds(lambda: spectrum.intensity, number, 7)
    tolist = best_seconds(doubles.tolist, number, 7)
    return mz, intensity, tolist


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--mkdataset", default=os.environ.get("VELMORAN_MKDATASET"),
                        help="path of velmoran-mkdataset (default: $VELMORAN_MKDATASET)")
    parser.add_argument("--points", default="100,1000,10000,100000,1000000",
                        help="comma-separated spectrum sizes")
    args = parser.parse_args()
    if not args.mkdataset:
        parser.error("give --mkdataset or set VELMORAN_MKDATASET")

    print("Python %s" % sys.version.split()[0])
    print("%9s %12s %12s %12s %9s %9s" % ("points", "tolist us", "mz us", "intens. us",
                                          "mz/tol", "int/tol"))
    with tempfile.TemporaryDirectory(prefix="velmoran-bench-") as workdir:
        for points in (int(p) for p in args.points.split(",")):
            mz, intensity, tolist = measure(args.mkdataset, points, workdir)
            print("%9d %12.2f %12.2f %12.2f %9.3f %9.3f" % (
                points, tolist * 1e6, mz * 1e6, intensity * 1e6, mz / tolist, intensity / tolist))


if __name__ == "__main__":
    main()
