"""An MRM run's channel chromatograms in mzML, read back by pymzML and
OpenMS and compared with the spectra the generator says the run holds.

    check_mrm.py VELMORAN RUN.d EXPECT.json TRANSITIONS.csv WORKDIR

The expected chromatogram of a channel is built here from the generator's
JSON alone: its scans of MS level 2 and up in table order, time as stored,
intensity the sum of the scan's intensities (math.fsum). The list is read
with Python's csv module. Runs under Debian's python3 (pymzML).
"""
import csv
import json
import math
import os
import re
import shutil
import subprocess
import sys
import xml.etree.ElementTree as ET

SKIP = 77


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def run(*args):
    done = subprocess.run(args, capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"{' '.join(args)} exited {done.returncode}:\n{done.stdout}\n{done.stderr}")
    return done


def expected_chromatograms(scans):
    traces = {}
    for scan in scans:
        if scan["ms_level"] >= 2 and "mrm_channel" in scan:
            trace = traces.setdefault(scan["mrm_channel"], ([], []))
            trace[0].append(scan["retention_time_sec"])
            trace[1].append(math.fsum(scan["intensity"]))
    return traces


def read_list(path):
    with open(path, newline="") as f:
        return {int(row["channel"]): row for row in csv.DictReader(f)}


def local(tag):
    return tag.rsplit("}", 1)[-1]


def child(element, name):
    # pymzML hands elements read through the index without their namespace.
    if element is None:
        return None
    return next((e for e in element if local(e.tag) == name), None)


def cv(element, accession):
    for param in (e for e in element.iter() if local(e.tag) == "cvParam"):
        if param.get("accession") == accession:
            return param
    return None


def chromatogram_ids(path):
    # The ids in the chromatogram index, as the attribute text holds them.
    data = open(path, "rb").read()
    at = data.index(b'<index name="chromatogram">')
    return [(ET.fromstring(b"<x " + ref + b"/>").get("idRef"), ref[7:-1].decode())
            for ref in re.findall(rb'<offset (idRef="[^"]*")>', data[at:])]


def check_file(path, traces, transitions, openms_written=False):
    import pymzml

    refs = chromatogram_ids(path)
    ids = [i for i, _ in refs]
    if ids[:2] != ["TIC", "BPC"] or len(ids) != 2 + len(traces):
        fail(f"{path}: chromatogram index {ids}, expected TIC, BPC and {len(traces)} channels")
    reader = pymzml.run.Reader(path)
    for (chromatogram_id, escaped), channel in zip(refs[2:], sorted(traces)):
        row = transitions.get(channel)
        where = f"{path}: channel {channel}"
        if row:
            want_id = (f"SRM SIC Q1={float(row['precursor_mz'])!r} "
                       f"Q3={float(row['product_mz'])!r} channel={channel}")
            if row["name"]:
                want_id += " name=" + row["name"]
        else:
            want_id = f"channel={channel}"
        if chromatogram_id != want_id:
            fail(f"{where}: id {chromatogram_id!r}, expected {want_id!r}")
        # pymzML finds an id by its text in the file, escapes and all.
        chromatogram = reader[escaped]
        element = chromatogram.element
        times, intensities = traces[channel]
        if list(chromatogram.time) != times if not openms_written else \
                any(abs(a - b) > 1e-9 * max(1, abs(b)) for a, b in zip(chromatogram.time, times)):
            fail(f"{where}: times {list(chromatogram.time)} != {times}")
        got = list(chromatogram.i)
        # OpenMS writes intensities again as 32-bit floats.
        tolerance = 1e-7 if openms_written else 1e-12
        if len(got) != len(intensities) or any(
                abs(a - b) > tolerance * abs(b) for a, b in zip(got, intensities)):
            fail(f"{where}: intensities {got} != {intensities}")
        kind = "MS:1001473" if row else "MS:1000810"
        if cv(element, kind) is None:
            fail(f"{where}: no {kind}")
        if not openms_written:
            user = child(element, "userParam")
            if user is None or user.get("name") != "mrm channel" or user.get("value") != str(channel):
                fail(f"{where}: no mrm channel userParam")
        precursor = child(element, "precursor")
        product = child(element, "product")
        if not row:
            if precursor is not None or product is not None:
                fail(f"{where}: a precursor or product without a transition")
            continue
        q1 = cv(child(precursor, "isolationWindow"), "MS:1000827")
        q3 = cv(child(product, "isolationWindow"), "MS:1000827")
        if float(q1.get("value")) != float(row["precursor_mz"]) or \
                float(q3.get("value")) != float(row["product_mz"]):
            fail(f"{where}: Q1/Q3 {q1.get('value')}/{q3.get('value')}")
        if q1.get("unitAccession") != "MS:1000040":
            fail(f"{where}: Q1 unit {q1.get('unitAccession')}")
        activation = child(precursor, "activation")
        if cv(activation, "MS:1000133") is None:
            fail(f"{where}: activation is not collision-induced dissociation")
        energy = cv(activation, "MS:1000045")
        if (energy is None) != (row["collision_energy"] == ""):
            fail(f"{where}: collision energy {energy is not None}, list {row['collision_energy']!r}")
        if energy is not None and (float(energy.get("value")) != float(row["collision_energy"])
                                   or energy.get("unitAccession") != "UO:0000266"):
            fail(f"{where}: collision energy {energy.attrib}")


def check_openms(path):
    out = run("FileInfo", "-in", path, "-v").stdout
    if "the file is valid" not in out or "the file is semantically valid" not in out:
        fail(f"{path}: OpenMS validation:\n{out}")
    out = run("FileInfo", "-in", path, "-i").stdout
    if "Found a valid indexed mzML" not in out:
        fail(f"{path}: OpenMS index check:\n{out}")


def file_content(path):
    text = open(path).read()
    return text[text.index("<fileContent>"):text.index("</fileContent>")]


def spectrum_levels(path):
    return [int(level) for level in re.findall(
        r'accession="MS:1000511" name="ms level" value="(\d+)"', open(path).read())]


def main():
    velmoran, run_dir, expect_file, list_file, work = sys.argv[1:6]
    if shutil.which("FileInfo") is None or shutil.which("FileConverter") is None:
        print("OpenMS (FileInfo, FileConverter) is not installed")
        return SKIP
    try:
        import pymzml  # noqa: F401
    except ImportError:
        print("pymzML is not installed for", sys.executable)
        return SKIP
    scans = json.load(open(expect_file))["scans"]
    traces = expected_chromatograms(scans)
    transitions = read_list(list_file)
    if len(traces) < 2:
        fail("the run has fewer than two channels with fragment scans")
    os.makedirs(work, exist_ok=True)

    # Without a list: plain channel chromatograms, every scan a spectrum.
    plain = os.path.join(work, "plain.mzML")
    run(velmoran, "convert", "-q", run_dir, "-o", plain)
    check_openms(plain)
    check_file(plain, traces, {})
    if "MS:1001473" in file_content(plain):
        fail("fileContent lists SRM chromatograms without a list")
    if len(spectrum_levels(plain)) != len(scans):
        fail("--mrm both left spectra out")

    # With the list, zlib, none and numpress: the chromatograms stay exact.
    for compression in ("zlib", "none", "numpress"):
        out = os.path.join(work, f"srm-{compression}.mzML")
        run(velmoran, "convert", "-q", run_dir, "-o", out, "--transitions", list_file,
            "--compression", compression)
        check_openms(out)
        check_file(out, traces, transitions)
        if "MS:1001473" not in file_content(out):
            fail(f"{out}: fileContent does not list SRM chromatograms")

    # Chromatograms only: the fragment scans are no spectra; MS1 stay.
    only = os.path.join(work, "only.mzML")
    run(velmoran, "convert", "-q", run_dir, "-o", only, "--transitions", list_file,
        "--mrm", "chromatograms")
    check_openms(only)
    check_file(only, traces, transitions)
    if spectrum_levels(only) != [s["ms_level"] for s in scans if s["ms_level"] == 1]:
        fail(f"{only}: spectra of levels {set(spectrum_levels(only))}, expected the MS1 scans")

    # Spectra only: TIC and BPC, no channel chromatograms.
    spectra = os.path.join(work, "spectra.mzML")
    run(velmoran, "convert", "-q", run_dir, "-o", spectra, "--mrm", "spectra")
    if [i for i, _ in chromatogram_ids(spectra)] != ["TIC", "BPC"]:
        fail(f"{spectra}: chromatograms {chromatogram_ids(spectra)}")

    # OpenMS reads Q1, Q3 and the values and writes them again.
    again = os.path.join(work, "openms.mzML")
    run("FileConverter", "-in", os.path.join(work, "srm-zlib.mzML"), "-out", again)
    check_file(again, traces, transitions, openms_written=True)

    # A list missing one channel and naming one the run lacks: that channel
    # is plain and counted, the other named in one warning line.
    partial = os.path.join(work, "partial.csv")
    with open(list_file) as f:
        lines = f.read().splitlines()
    first = sorted(traces)[0]
    kept = [lines[0]] + [l for l in lines[1:] if not l.startswith(f"{first},")]
    with open(partial, "w") as f:
        f.write("\n".join(kept + ["9999,100.5,50.5,,absent"]) + "\n")
    out = os.path.join(work, "partial.mzML")
    done = run(velmoran, "convert", run_dir, "-o", out, "--transitions", partial)
    check_file(out, traces, {c: r for c, r in transitions.items() if c != first})
    if f"{len(traces)} channel chromatograms (1 without a transition)" not in done.stderr:
        fail(f"summary line does not count the plain channel:\n{done.stderr}")
    warnings = [l for l in done.stderr.splitlines() if "warning" in l]
    if len(warnings) != 1 or "9999" not in warnings[0]:
        fail(f"expected one warning naming channel 9999:\n{done.stderr}")
    print(f"ok: {len(traces)} channels")
    return 0


if __name__ == "__main__":
    sys.exit(main())
