"""Accuracy of centroided spectra against the true peaks of a generated run.

    picking_accuracy.py TRUTH.json NAME=CENTROIDED.mzML [NAME=CENTROIDED.mzML ...]

TRUTH.json is what `velmoran-mkdataset gauss RUN.d --truth TRUTH.json` wrote:
each scan's Gaussian peaks (apex m/z, height, width at half height) and the
noise floor's standard deviation. Each mzML holds the same scans, picked by
the tool NAME. A true peak is found when a picked peak lies within half its
width at half height of its apex; a picked peak near no true peak is false.
Prints one Markdown row per tool: median and 95th-percentile absolute m/z
error (ppm) of the found peaks above 10x the noise, the share of those
peaks found, and false peaks per spectrum.
"""
import bisect
import json
import sys

import numpy
import pymzml


def spectra_of(path):
    """scan number -> (m/z array, intensity array), sorted by m/z."""
    out = {}
    for spectrum in pymzml.run.Reader(path):
        native = spectrum.get("id") if hasattr(spectrum, "get") else None
        ident = spectrum.ID if native is None else native
        scan = int(str(ident).split("=")[-1])
        mz = numpy.asarray(spectrum.mz, dtype=float)
        intensity = numpy.asarray(spectrum.i, dtype=float)
        order = numpy.argsort(mz, kind="stable")
        out[scan] = (mz[order], intensity[order])
    return out


def measure(truth, picked):
    floor = 10.0 * truth["noise_sd"]
    errors, strong, found, false_peaks, scans = [], 0, 0, 0, 0
    for scan in truth["scans"]:
        true_mz = numpy.asarray(scan["true_mz"])
        height = numpy.asarray(scan["true_height"])
        fwhm = numpy.asarray(scan["true_fwhm"])
        mz, _ = picked.get(scan["scan_id"], (numpy.empty(0), numpy.empty(0)))
        scans += 1
        for k in range(len(true_mz)):
            at = bisect.bisect_left(mz, true_mz[k])
            near = [j for j in (at - 1, at) if 0 <= j < len(mz)]
            best = min(near, key=lambda j: abs(mz[j] - true_mz[k])) if near else None
            hit = best is not None and abs(mz[best] - true_mz[k]) <= fwhm[k] / 2
            if height[k] > floor:
                strong += 1
                if hit:
                    found += 1
                    errors.append(abs(mz[best] - true_mz[k]) / true_mz[k] * 1e6)
        for value in mz:
            at = bisect.bisect_left(true_mz, value)
            near = [j for j in (at - 1, at) if 0 <= j < len(true_mz)]
            if not any(abs(value - true_mz[j]) <= fwhm[j] / 2 for j in near):
                false_peaks += 1
    errors = numpy.asarray(errors)
    return {
        "median_ppm": float(numpy.median(errors)) if errors.size else float("nan"),
        "p95_ppm": float(numpy.percentile(errors, 95)) if errors.size else float("nan"),
        "found": found / strong if strong else float("nan"),
        "strong": strong,
        "false_per_spectrum": false_peaks / scans if scans else float("nan"),
    }


def main(argv):
    if len(argv) < 3:
        print(__doc__, file=sys.stderr)
        return 2
    with open(argv[1]) as f:
        truth = json.load(f)
    print("| picker | median m/z error (ppm) | 95th percentile (ppm) "
          "| true peaks > 10x noise found | false peaks per spectrum |")
    print("|---|---|---|---|---|")
    for item in argv[2:]:
        name, path = item.split("=", 1)
        r = measure(truth, spectra_of(path))
        print(f"| {name} | {r['median_ppm']:.3f} | {r['p95_ppm']:.3f} "
              f"| {100 * r['found']:.2f} % of {r['strong']} | {r['false_per_spectrum']:.2f} |")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
