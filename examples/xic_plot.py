"""Plot extracted ion chromatograms of a few targets to a PNG.

    python3 examples/xic_plot.py RUN.d --mz 524.3 --mz 760.585 [--ppm 10] -o xic.png
    python3 examples/xic_plot.py RUN.d --targets targets.csv --da 0.01 -o xic.png

Runs `velmoran xic ... --format json` and draws one line per target:
summed intensity against retention time. The program is --velmoran
PROGRAM, else $VELMORAN, else `velmoran` on PATH (the package's), else the
one scripts/demo.sh and scripts/convert.sh build (build/demo/cli/velmoran).
Needs matplotlib (Debian: python3-matplotlib, for /usr/bin/python3).
"""

import argparse
import json
import os
import shutil
import subprocess
import sys

# Where the README's commands build the program, from this file's folder.
BUILT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "build", "demo", "cli", "velmoran")


def find_velmoran(given):
    """The program to run, or None."""
    if given:
        return given
    if os.environ.get("VELMORAN"):
        return os.environ["VELMORAN"]
    on_path = shutil.which("velmoran")
    if on_path:
        return on_path
    return os.path.normpath(BUILT) if os.access(BUILT, os.X_OK) else None


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("run", help="the run: a .d directory")
    parser.add_argument("--mz", action="append", default=[], help="target m/z (repeat)")
    parser.add_argument("--targets", help="targets file: one m/z per line, or CSV name,mz")
    tolerance = parser.add_mutually_exclusive_group()
    tolerance.add_argument("--ppm", help="tolerance in ppm (default 10)")
    tolerance.add_argument("--da", help="tolerance in m/z units")
    parser.add_argument("--ms-level", default="1", help="MS level of the scans (default 1)")
    parser.add_argument("-o", "--output", required=True, help="the PNG to write")
    parser.add_argument("--velmoran", help="the velmoran program (default: $VELMORAN, PATH, build/demo)")
    args = parser.parse_args()
    if not args.mz and not args.targets:
        parser.error("give targets with --mz or --targets")

    try:
        import matplotlib
        matplotlib.use("Agg")
        import matplotlib.pyplot as plt
    except ImportError:
        sys.exit("xic_plot: matplotlib is not installed for %s (Debian: apt-get install "
                 "python3-matplotlib, then run this with /usr/bin/python3)" % sys.executable)

    velmoran = find_velmoran(args.velmoran)
    if velmoran is None:
        sys.exit("xic_plot: no velmoran program found: build it with scripts/convert.sh, or name it "
                 "with --velmoran PROGRAM or VELMORAN=PROGRAM")
    command = [velmoran, "xic", args.run, "--format", "json", "--ms-level", args.ms_level]
    command += [f"--mz={mz}" for mz in args.mz]
    if args.targets:
        command += ["--targets", args.targets]
    command += ["--da", args.da] if args.da else ["--ppm", args.ppm or "10"]
    try:
        proc = subprocess.run(command, stdout=subprocess.PIPE)
    except OSError as error:
        sys.exit("xic_plot: cannot run %s: %s (name the program with --velmoran PROGRAM or "
                 "VELMORAN=PROGRAM)" % (velmoran, error.strerror))
    if proc.returncode != 0:
        sys.exit(proc.returncode)  # velmoran has said why on standard error

    # Rows come scan by scan, targets in the order given: gather each
    # target's chromatogram, keeping that order.
    chromatograms = {}
    for row in json.loads(proc.stdout):
        times, intensities = chromatograms.setdefault(row["target"], ([], []))
        times.append(row["rt_sec"] / 60.0)
        intensities.append(row["intensity"])

    fig, ax = plt.subplots(figsize=(9, 4.5))
    for target, (times, intensities) in chromatograms.items():
        ax.plot(times, intensities, linewidth=1, label=target)
    ax.set_xlabel("retention time (min)")
    ax.set_ylabel("intensity")
    tolerance = f"{args.da} Da" if args.da else f"{args.ppm or '10'} ppm"
    ax.set_title(f"Extracted ion chromatograms, {tolerance}")
    if chromatograms:
        ax.legend(fontsize="small")
    fig.tight_layout()
    fig.savefig(args.output, dpi=120)
    print(f"wrote {args.output}: {len(chromatograms)} chromatograms")


if __name__ == "__main__":
    main()
