"""Search-ready output as a user meets it: centroids (the instrument's or
ours), filters at their inclusive edges, gzip output read back by pymzML
and OpenMS, and the usage errors of the new options.

    peaks_cases.py CASE VELMORAN RUN.d EXPECT.json WORKDIR

RUN.d is a run whose fragment scans carry a profile beside the instrument's
centroids (velmoran-mkdataset synth --profile-ms2); EXPECT.json is what the
generator says it holds. CASE is one of centroid, filters, gzip, validate,
order, usage. Runs under Debian's python3 (pymzML); exit 77 skips.
"""
import gzip
import json
import os
import re
import shutil
import struct
import subprocess
import sys

import numpy

SKIP = 77


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def convert(velmoran, *args, ok=True):
    done = subprocess.run([velmoran, "convert", "-q", *args], capture_output=True)
    if ok and done.returncode != 0:
        fail(f"convert {' '.join(args)} exited {done.returncode}: {done.stderr.decode()}")
    return done


def spectra(path):
    """id -> (ms level, m/z, intensity, centroid?) in file order, via pymzML."""
    import pymzml
    out = {}
    for s in pymzml.run.Reader(path):
        centroid = s.get("MS:1000127") is not None
        out[s.get("id") if s.get("id") else str(s.ID)] = (
            s.ms_level, numpy.asarray(s.mz, dtype=float), numpy.asarray(s.i, dtype=float),
            centroid)
    return out


def scan_of(ident):
    return int(str(ident).split("=")[-1])


def case_centroid(velmoran, run_dir, expected, work):
    by_scan = {s["scan_id"]: s for s in expected}
    out = os.path.join(work, "centroid.mzML")
    convert(velmoran, run_dir, "-o", out, "--peaks", "centroid", "--compression", "none")
    text = open(out).read()
    if 'accession="MS:1000035" name="peak picking"' not in text:
        fail("centroid output of a run with profile-only scans names no peak picking")
    picked_out = os.path.join(work, "picked.mzML")
    convert(velmoran, run_dir, "-o", picked_out, "--peaks", "picked", "--compression", "none")
    picked = spectra(picked_out)
    checked = 0
    for ident, (level, mz, intensity, centroid) in spectra(out).items():
        want = by_scan[scan_of(ident)]
        if not centroid:
            fail(f"{ident}: not labelled centroid spectrum")
        if "peak_mz" in want:
            # The instrument's centroids, bit for bit.
            if mz.tolist() != want["peak_mz"] or intensity.tolist() != want["peak_intensity"]:
                fail(f"{ident}: centroid mode did not take the instrument's peaks")
            # Our picking of the same scan's profile finds each of the
            # instrument's peaks that stands clear of the noise and of its
            # neighbours (overlapping peaks merge in a profile).
            _, pmz, _, _ = picked[ident]
            step = (want["mz"][-1] - want["mz"][0]) / (len(want["mz"]) - 1)
            peaks = want["peak_mz"]
            clear = [m for k, (m, h) in enumerate(zip(peaks, want["peak_intensity"]))
                     if h > 5000 and all(abs(m - o) > 12 * step for o in peaks[:k] + peaks[k + 1:])]
            missed = [m for m in clear if numpy.min(numpy.abs(pmz - m)) > step / 2]
            if missed:
                fail(f"{ident}: picking missed {missed} of {len(clear)} clear peaks")
            checked += len(clear)
        else:
            # No instrument peaks: the profile picked, far fewer points.
            if len(mz) == 0 or len(mz) * 5 > len(want["mz"]):
                fail(f"{ident}: {len(mz)} picked peaks of a {len(want['mz'])}-point profile")
            if numpy.any(intensity <= 0) or numpy.any(numpy.diff(mz) <= 0):
                fail(f"{ident}: picked peaks not positive and in m/z order")
    if checked == 0:
        fail("the run has no clear instrument peak to look for")


def index_offsets(data):
    """Checks that every offset of the index points at its element; returns
    the spectrum ids in index order."""
    ids = []
    for name, body in re.findall(rb'<index name="(\w+)">(.*?)</index>', data, re.S):
        element = b"<" + name + b" "
        for ref, offset in re.findall(rb'<offset idRef="([^"]+)">(\d+)</offset>', body):
            if not data[int(offset):].startswith(element):
                fail(f"offset of {ref.decode()} does not point at its element")
            if name == b"spectrum":
                ids.append(ref.decode())
    if not ids:
        fail("the index lists no spectrum")
    return ids


def case_filters(velmoran, run_dir, expected, work):
    def written(*args):
        out = os.path.join(work, "f.mzML")
        convert(velmoran, run_dir, "-o", out, "--compression", "none", *args)
        data = open(out, "rb").read()
        indexes = [int(i) for i in re.findall(rb'<spectrum index="(\d+)"', data)]
        if indexes != list(range(len(indexes))):
            fail(f"{args}: spectrum index attributes are not 0..n-1: {indexes[:8]}")
        index_offsets(data)
        return spectra(out)

    times = [s["retention_time_sec"] for s in expected]
    scans = [s["scan_id"] for s in expected]
    # --rt and --scans: both edges inside, their neighbours outside.
    got = [scan_of(i) for i in written("--rt", f"{times[3]!r}:{times[7]!r}")]
    if got != scans[3:8]:
        fail(f"--rt edges: scans {got}, want {scans[3:8]}")
    got = [scan_of(i) for i in written("--scans", f"{scans[2]}-{scans[5]}")]
    if got != scans[2:6]:
        fail(f"--scans edges: scans {got}, want {scans[2:6]}")

    # Point filters on the profiles, as the generator made them.
    first = expected[0]
    mz = numpy.asarray(first["mz"])
    inten = numpy.asarray(first["intensity"])
    low, high = mz[10], mz[50]
    s = written("--scans", f"{first['scan_id']}-{first['scan_id']}", "--mz", f"{low!r}:{high!r}")
    _, got_mz, _, _ = next(iter(s.values()))
    if got_mz.tolist() != mz[10:51].tolist():
        fail("--mz window does not keep exactly the points from its low to its high edge")

    floor = float(numpy.sort(inten[inten > 0])[len(inten[inten > 0]) // 2])
    s = written("--scans", f"{first['scan_id']}-{first['scan_id']}", "--min-intensity",
                repr(floor))
    _, got_mz, got_i, _ = next(iter(s.values()))
    if got_mz.tolist() != mz[inten >= floor].tolist():
        fail("--min-intensity does not keep exactly the points at or above X")

    n = 25
    s = written("--scans", f"{first['scan_id']}-{first['scan_id']}", "--top", str(n))
    _, got_mz, got_i, _ = next(iter(s.values()))
    order = sorted(range(len(inten)), key=lambda k: (-inten[k], mz[k]))[:n]
    if got_mz.tolist() != sorted(mz[order].tolist()):
        fail("--top does not keep the N most intense points in m/z order")

    s = written("--scans", f"{first['scan_id']}-{first['scan_id']}", "--drop-zeros")
    _, got_mz, got_i, _ = next(iter(s.values()))
    nonzero = inten != 0
    keep = nonzero | numpy.r_[False, nonzero[:-1]] | numpy.r_[nonzero[1:], False]
    if got_mz.tolist() != mz[keep].tolist() or got_i.tolist() != inten[keep].tolist():
        fail("--drop-zeros does not keep every non-zero point and the zeros beside them")
    if keep.all():
        fail("the test profile has no zero to drop")


def case_gzip(velmoran, run_dir, expected, work):
    plain = os.path.join(work, "run.mzML")
    packed = os.path.join(work, "run.mzML.gz")
    convert(velmoran, run_dir, "-o", plain, "--peaks", "picked", "--threads", "2")
    convert(velmoran, run_dir, "-o", packed, "--peaks", "picked", "--threads", "2")
    document = gzip.open(packed).read()
    if document != open(plain, "rb").read():
        fail(".mzML.gz does not hold the same document as the plain .mzML")
    index_offsets(document)  # offsets count bytes of the uncompressed document
    a, b = spectra(plain), spectra(packed)
    if list(a) != list(b) or any(a[k][1].tolist() != b[k][1].tolist() for k in a):
        fail("pymzML reads other spectra from the .mzML.gz")
    import pymzml
    reader = pymzml.run.Reader(packed)
    last = list(a)[-1]
    if reader[scan_of(last)].mz.tolist() != a[last][1].tolist():
        fail("pymzML's random access into the .mzML.gz found another spectrum")
    # The suffix in any case, as file managers read it: .MZML.GZ is gzip
    # (with --gzip too), a run named RUN.D gives RUN.mzML.
    for name, extra in (("RUN.MZML.GZ", []), ("run.mzml.Gz", ["--gzip"])):
        out = os.path.join(work, name)
        convert(velmoran, run_dir, "-o", out, "--peaks", "picked", *extra)
        if open(out, "rb").read(2) != b"\x1f\x8b" or gzip.open(out).read() != document:
            fail(f"-o {name} {extra} did not write the gzip document")
    upper = os.path.join(work, "UPPER.D")
    shutil.copytree(run_dir, upper)
    done = subprocess.run([velmoran, "convert", "-q", upper], cwd=work, capture_output=True)
    if done.returncode != 0 or not os.path.exists(os.path.join(work, "UPPER.mzML")):
        fail(f"convert UPPER.D wrote {sorted(os.listdir(work))}: {done.stderr.decode()}")
    # --gzip to standard output and into a directory.
    done = subprocess.run([velmoran, "convert", "-q", run_dir, "--gzip", "-o", "-",
                           "--format", "mgf"], capture_output=True)
    if done.returncode != 0 or not gzip.decompress(done.stdout).startswith(b"BEGIN IONS"):
        fail(f"--gzip to standard output: {done.returncode} {done.stderr.decode()}")
    outdir = os.path.join(work, "many")
    convert(velmoran, run_dir, run_dir.rstrip("/")[:-2] + "_copy.d", "--gzip", "-o", outdir)
    if sorted(os.listdir(outdir)) != sorted(
            [os.path.basename(run_dir.rstrip("/"))[:-2] + ".mzML.gz",
             os.path.basename(run_dir.rstrip("/"))[:-2] + "_copy.mzML.gz"]):
        fail(f"--gzip into a directory wrote {os.listdir(outdir)}")


def case_validate(velmoran, run_dir, expected, work):
    if shutil.which("FileInfo") is None:
        print("SKIP: OpenMS FileInfo not installed")
        sys.exit(SKIP)
    variants = {
        "picked": ["--peaks", "picked"],
        "centroid": ["--peaks", "centroid", "--compression", "numpress"],
        "filtered": ["--peaks", "picked", "--rt", "1:30", "--mz", "200:900", "--top", "40",
                     "--min-intensity", "500"],
        "zeros": ["--drop-zeros", "--scans", "1-6"],
        "gzip": ["--peaks", "centroid", "--gzip"],
    }
    for name, args in variants.items():
        out = os.path.join(work, f"{name}.mzML" + (".gz" if "--gzip" in args else ""))
        convert(velmoran, run_dir, "-o", out, *args)
        path = out
        if out.endswith(".gz"):
            loaded = subprocess.run(["FileInfo", "-in", out], capture_output=True, text=True)
            if loaded.returncode != 0 or "Number of spectra" not in loaded.stdout:
                fail(f"{name}: OpenMS does not load the .mzML.gz:\n{loaded.stdout}{loaded.stderr}")
            path = out[:-3]
            open(path, "wb").write(gzip.open(out).read())
        for flag, want in (("-v", "the file is semantically valid"),
                           ("-i", "Found a valid indexed mzML")):
            done = subprocess.run(["FileInfo", "-in", path, flag], capture_output=True, text=True)
            if want not in done.stdout + done.stderr or "the file is valid" not in (
                    done.stdout + done.stderr if flag == "-v" else "the file is valid"):
                fail(f"{name}: FileInfo {flag}:\n{done.stdout}{done.stderr}")


# Layout 284 of the scan table (docs/format.md).
RECORD = 284
DESCRIPTORS = (156, 220)
MZ_RANGE = 244


def scan_records(run):
    """(scan number, MS level, offset of the record) of every scan."""
    data = open(os.path.join(run, "AcqData", "MSScan.bin"), "rb").read()
    start = struct.unpack_from("<I", data, 88)[0]
    return [(struct.unpack_from("<I", data, at)[0], struct.unpack_from("<H", data, at + 20)[0], at)
            for at in range(start, len(data), RECORD)]


def case_order(velmoran, run_dir, expected, work):
    """Peaks are written in increasing m/z whatever order the source gives
    them in: a profile whose m/z axis falls (its range stored high to low),
    and centroids stored from the highest m/z down."""
    run = os.path.join(work, "order.d")
    shutil.copytree(run_dir, run)
    records = scan_records(run)
    by_scan = {s["scan_id"]: s for s in expected}
    ms1 = next(r for r in records if r[1] == 1)
    ms2 = [r for r in records if r[1] == 2 and "peak_mz" in by_scan[r[0]]][:2]
    table = bytearray(open(os.path.join(run, "AcqData", "MSScan.bin"), "rb").read())
    low, high = struct.unpack_from("<dd", table, ms1[2] + MZ_RANGE)
    struct.pack_into("<dd", table, ms1[2] + MZ_RANGE, high, low)
    open(os.path.join(run, "AcqData", "MSScan.bin"), "wb").write(bytes(table))
    # The peak lists reversed; the second one's intensities all made equal.
    peaks = bytearray(open(os.path.join(run, "AcqData", "MSPeak.bin"), "rb").read())
    for k, (_, _, at) in enumerate(ms2):
        kind, offset, _, n = next(
            struct.unpack_from("<IQII", table, at + d) for d in DESCRIPTORS
            if struct.unpack_from("<I", table, at + d)[0] in (2, 3))
        if kind == 3:
            points = [struct.unpack_from("<df", peaks, offset + 12 * i) for i in range(n)]
        else:
            points = list(zip(struct.unpack_from(f"<{n}d", peaks, offset),
                              struct.unpack_from(f"<{n}f", peaks, offset + 8 * n)))
        points = [(m, 1000.0 if k == 1 else h) for m, h in reversed(points)]
        if kind == 3:
            for i, (m, h) in enumerate(points):
                struct.pack_into("<df", peaks, offset + 12 * i, m, h)
        else:
            struct.pack_into(f"<{n}d", peaks, offset, *(m for m, _ in points))
            struct.pack_into(f"<{n}f", peaks, offset + 8 * n, *(h for _, h in points))
    open(os.path.join(run, "AcqData", "MSPeak.bin"), "wb").write(bytes(peaks))

    def written(source, name, *args):
        out = os.path.join(work, name)
        convert(velmoran, source, "-o", out, "--compression", "none", *args)
        return {scan_of(k): v for k, v in spectra(out).items()}

    # The falling profile's peaks mirror those of the rising one: an apex at
    # m/z x on the axis from low to high is at low + high - x on the axis
    # from high to low, at the same height.
    rising = written(run_dir, "rising.mzML", "--peaks", "picked")[ms1[0]]
    falling = written(run, "falling.mzML", "--peaks", "picked")[ms1[0]]
    if numpy.any(numpy.diff(falling[1]) <= 0):
        fail(f"picked peaks of a falling axis are not in increasing m/z: {falling[1][:4]}")
    if not (numpy.allclose(falling[1], (low + high - rising[1])[::-1], rtol=0, atol=1e-6)
            and numpy.allclose(falling[2], rising[2][::-1], rtol=1e-6)):
        fail("picked peaks of the falling axis are not the mirror of the rising axis' peaks")

    centroids = written(run, "centroid.mzML", "--peaks", "centroid")
    top = written(run, "top.mzML", "--peaks", "centroid", "--top", "2")
    for k, (scan, _, _) in enumerate(ms2):
        want_mz = by_scan[scan]["peak_mz"]
        want_i = [1000.0] * len(want_mz) if k == 1 else by_scan[scan]["peak_intensity"]
        pairs = sorted(zip(want_mz, want_i))
        got = centroids[scan]
        if got[1].tolist() != [m for m, _ in pairs] or got[2].tolist() != [h for _, h in pairs]:
            fail(f"scan {scan}: centroids stored high to low are not written in m/z order")
        # The two most intense, among equals the lower m/z, in m/z order.
        best = sorted(sorted(pairs, key=lambda p: (-p[1], p[0]))[:2])
        if list(zip(top[scan][1].tolist(), top[scan][2].tolist())) != best:
            fail(f"scan {scan}: --top 2 wrote {top[scan][1]}, {top[scan][2]}; want {best}")


def case_usage(velmoran, run_dir, expected, work):
    target = os.path.join(work, "u.mzML")
    cases = [
        ("--peaks", ["--peaks", "smooth"]),
        ("--rt", ["--rt", "30:10"]), ("--rt", ["--rt", ""]), ("--rt", ["--rt", "5"]),
        ("--rt", ["--rt", "0:inf"]), ("--rt", ["--rt", "nan:1"]),
        ("--scans", ["--scans", "9-3"]), ("--scans", ["--scans", "-4"]),
        ("--mz", ["--mz", "900:100"]), ("--mz", ["--mz", "a:b"]),
        ("--min-intensity", ["--min-intensity", "-1"]),
        ("--min-intensity", ["--min-intensity", "inf"]),
        ("--min-intensity", ["--min-intensity", "nan"]),
        ("--top", ["--top", "0"]), ("--top", ["--top", "-3"]),
        ("--gzip", ["--gzip"]),
    ]
    for option, args in cases:
        done = convert(velmoran, run_dir, "-o", target, *args, ok=False)
        message = done.stderr.decode()
        if done.returncode != 2 or option not in message:
            fail(f"{args}: exit {done.returncode}, message {message!r}; want 2 naming {option}")
        if os.path.exists(target):
            fail(f"{args}: a usage error wrote {target}")


def main():
    if len(sys.argv) != 6:
        fail(__doc__)
    case, velmoran, run_dir, expect, work = sys.argv[1:]
    try:
        import pymzml  # noqa: F401
    except ImportError:
        print("SKIP: pymzml not installed")
        sys.exit(SKIP)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    with open(expect) as f:
        expected = json.load(f)["scans"]
    if case == "gzip":
        copy = run_dir.rstrip("/")[:-2] + "_copy.d"
        shutil.rmtree(copy, ignore_errors=True)
        shutil.copytree(run_dir, copy)
    globals()["case_" + case](velmoran, run_dir, expected, work)
    print("ok")


if __name__ == "__main__":
    main()
