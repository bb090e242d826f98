"""Reads a converted run back with independent readers and compares it with
the spectra the generator says the run holds.

    check_mzml.py VELMORAN RUN.d EXPECT.json WORKDIR

For zlib and uncompressed arrays pymzML reads the file and every value must
be bit-exact; numpress arrays are decoded by OpenMS's FileConverter and must
keep m/z within 1e-6 and intensities within 2e-3 (relative). Every file must
pass OpenMS's schema, semantic and index checks and carry the right SHA-1.
Runs under Debian's python3 (where python3-pymzml lives).
"""
import hashlib
import json
import os
import re
import shutil
import subprocess
import sys

SKIP = 77


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def run(*args):
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"{' '.join(args)} exited {done.returncode}:\n{done.stdout}\n{done.stderr}")
    return done.stdout + done.stderr


def check_openms(path):
    out = run("FileInfo", "-in", path, "-v")
    if "the file is valid" not in out or "the file is semantically valid" not in out:
        fail(f"{path}: OpenMS validation:\n{out}")
    out = run("FileInfo", "-in", path, "-i")
    if "Found a valid indexed mzML" not in out:
        fail(f"{path}: OpenMS index check:\n{out}")


def check_index_and_checksum(path, expected_ids):
    data = open(path, "rb").read()
    mark = b"<fileChecksum>"
    at = data.rindex(mark) + len(mark)
    digest = re.search(rb"<fileChecksum>([0-9a-f]{40})</fileChecksum>", data).group(1).decode()
    if hashlib.sha1(data[:at]).hexdigest() != digest:
        fail(f"{path}: fileChecksum is not the SHA-1 of the file through <fileChecksum>")
    list_offset = int(re.search(rb"<indexListOffset>(\d+)</indexListOffset>", data).group(1))
    if not data[list_offset:].startswith(b"<indexList"):
        fail(f"{path}: indexListOffset does not point at <indexList>")
    offsets = re.findall(rb'<offset idRef="([^"]+)">(\d+)</offset>', data)
    # An MRM run has a chromatogram per channel after the TIC and BPC.
    chromatograms = re.findall(rb'<offset idRef="([^"]+)">',
                               data[data.index(b'<index name="chromatogram">'):])
    if chromatograms[:2] != [b"TIC", b"BPC"]:
        fail(f"{path}: the index does not list the TIC and BPC chromatograms")
    ids = [i.decode() for i, _ in offsets if i not in chromatograms]
    if ids != expected_ids:
        fail(f"{path}: index ids {ids[:5]}... differ from {expected_ids[:5]}...")
    for ref, offset in offsets:
        element = b"<chromatogram " if ref in chromatograms else b"<spectrum "
        head = data[int(offset):int(offset) + 200]
        if not head.startswith(element) or b'id="' + ref + b'"' not in head:
            fail(f"{path}: offset of {ref.decode()} points at {head[:40]!r}")


def check_mrm_channels(path, expected):
    # pymzML does not surface userParams: read them from the elements.
    text = open(path).read()
    elements = re.findall(r"<spectrum .*?</spectrum>", text, re.S)
    for element, want in zip(elements, expected):
        found = re.search(r'<userParam name="mrm channel" type="xsd:nonNegativeInteger" '
                          r'value="(\d+)"/>', element)
        # Every scan of an MRM run has a channel, its survey scans too.
        channel = want.get("mrm_channel")
        if (int(found.group(1)) if found else None) != channel:
            fail(f"{path}: scan {want['scan_id']}: mrm channel {found and found.group(1)}, "
                 f"expected {channel}")


def check_summaries(path, expected):
    # The per-spectrum summaries against numpy on the generator's arrays.
    import numpy

    text = open(path).read()
    elements = re.findall(r"<spectrum .*?</spectrum>", text, re.S)
    names = ("total ion current", "base peak m/z", "base peak intensity",
             "lowest observed m/z", "highest observed m/z")
    for element, want in zip(elements, expected):
        found = {name: float(value) for name, value in re.findall(
            r'<cvParam cvRef="MS" accession="MS:\d+" name="([^"]+)" value="([^"]+)"', element)
            if name in names}
        if not want["mz"]:
            if found:
                fail(f"{path}: empty scan {want['scan_id']} has summaries {found}")
            continue
        mz = numpy.asarray(want["mz"])
        intensity = numpy.asarray(want["intensity"])
        base = int(numpy.argmax(intensity))  # the first of equal maxima
        wanted = {"base peak m/z": mz[base], "base peak intensity": intensity[base],
                  "lowest observed m/z": mz.min(), "highest observed m/z": mz.max()}
        if any(found.get(name) != value for name, value in wanted.items()) or \
                not close(found.get("total ion current", -1.0), float(intensity.sum()), 1e-12):
            fail(f"{path}: scan {want['scan_id']}: summaries {found}, expected {wanted}")


def close(a, b, tolerance):
    return abs(a - b) <= tolerance * max(abs(a), abs(b)) or a == b


def compare(path, expected, exact, levels=None):
    import numpy
    import pymzml

    scans = [s for s in expected if levels is None or s["ms_level"] in levels]
    reader = pymzml.run.Reader(path)
    got = list(reader)
    if len(got) != len(scans):
        fail(f"{path}: {len(got)} spectra, expected {len(scans)}")
    for position, (spectrum, want) in enumerate(zip(got, scans)):
        where = f"{path}: spectrum {position} ({want['scan_id']})"
        if spectrum.ms_level != want["ms_level"]:
            fail(f"{where}: ms level {spectrum.ms_level}")
        rt = float(spectrum.get_element_by_path(["scanList", "scan", "cvParam"])[0].get("value"))
        # OpenMS writes times with fewer digits when it re-encodes a file.
        if rt != want["retention_time_sec"] if exact else not close(rt, want["retention_time_sec"], 1e-12):
            fail(f"{where}: scan start time {rt} != {want['retention_time_sec']}")
        mz = numpy.asarray(spectrum.mz, dtype=numpy.float64)
        intensity = numpy.asarray(spectrum.i)
        want_mz = numpy.asarray(want["mz"], dtype=numpy.float64)
        want_i = numpy.asarray(want["intensity"], dtype=numpy.float64)
        if len(mz) != len(want_mz) or len(intensity) != len(want_i):
            fail(f"{where}: {len(mz)} points, expected {len(want_mz)}")
        if exact:
            if intensity.dtype != numpy.float32:
                fail(f"{where}: intensities are {intensity.dtype}, not 32-bit")
            if not numpy.array_equal(mz, want_mz) or not numpy.array_equal(
                    intensity.astype(numpy.float64), want_i):
                fail(f"{where}: arrays differ")
        else:
            if not numpy.allclose(mz, want_mz, rtol=1e-6, atol=0):
                fail(f"{where}: m/z beyond 1e-6")
            if not numpy.allclose(intensity, want_i, rtol=2e-3, atol=1e-3):
                fail(f"{where}: intensities beyond 2e-3")
        selected = spectrum.selected_precursors
        want_precursor = want.get("precursor_mz") if "mrm_channel" not in want else None
        if want["ms_level"] >= 2 and want_precursor is not None:
            if not selected or not close(float(selected[0]["mz"]), want_precursor, 0 if exact else 1e-12):
                fail(f"{where}: precursor {selected} != {want_precursor}")
        elif selected and selected[0].get("mz") is not None:
            fail(f"{where}: unexpected precursor {selected}")
    return len(got)


def main():
    velmoran, run_dir, expect_file, work = sys.argv[1:5]
    if shutil.which("FileInfo") is None or shutil.which("FileConverter") is None:
        print("OpenMS (FileInfo, FileConverter) is not installed")
        return SKIP
    try:
        import pymzml  # noqa: F401
    except ImportError:
        print("pymzML is not installed for", sys.executable)
        return SKIP
    expected = json.load(open(expect_file))["scans"]
    scan_ids = [s["scan_id"] for s in expected]
    unique = len(set(scan_ids)) == len(scan_ids)
    all_ids = [f"scan={i}" if unique else f"index={p}" for p, i in enumerate(scan_ids)]
    os.makedirs(work, exist_ok=True)
    stem = os.path.basename(os.path.normpath(run_dir))[:-2]

    for compression in ("zlib", "none", "numpress"):
        out = os.path.join(work, f"{stem}-{compression}.mzML")
        run(velmoran, "convert", "-q", run_dir, "-o", out, "--compression", compression)
        check_openms(out)
        check_index_and_checksum(out, all_ids)
        if compression == "numpress":
            decoded = os.path.join(work, f"{stem}-numpress-decoded.mzML")
            run("FileConverter", "-in", out, "-out", decoded)
            compare(decoded, expected, exact=False)
            zlib_size = os.path.getsize(os.path.join(work, f"{stem}-zlib.mzML"))
            if os.path.getsize(out) >= zlib_size:
                fail(f"numpress file {os.path.getsize(out)} B is not smaller than zlib {zlib_size} B")
        else:
            compare(out, expected, exact=True)
            check_mrm_channels(out, expected)
            check_summaries(out, expected)

    # Only fragment spectra: ids as in the whole run, index counts the written ones.
    out = os.path.join(work, f"{stem}-ms2.mzML")
    run(velmoran, "convert", "-q", run_dir, "-o", out, "--ms-level", "2-")
    check_openms(out)
    ms2_ids = [i for i, s in zip(all_ids, expected) if s["ms_level"] >= 2]
    check_index_and_checksum(out, ms2_ids)
    written = compare(out, expected, exact=True, levels=range(2, 100))
    text = open(out).read()
    if re.findall(r'<spectrum index="(\d+)"', text) != [str(i) for i in range(written)]:
        fail("spectrum index attributes are not 0..n-1 with --ms-level")

    # Plain mzML: no index wrapper, still valid.
    out = os.path.join(work, f"{stem}-plain.mzML")
    run(velmoran, "convert", "-q", run_dir, "-o", out, "--no-index")
    text = open(out).read()
    if "<indexedmzML" in text or "<fileChecksum>" in text:
        fail("--no-index wrote an index")
    out_v = run("FileInfo", "-in", out, "-v")
    if "the file is semantically valid" not in out_v:
        fail(f"plain mzML does not validate:\n{out_v}")
    compare(out, expected, exact=True)
    print("ok:", run_dir)
    return 0


if __name__ == "__main__":
    sys.exit(main())
