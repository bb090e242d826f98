"""The convert command as a user meets it: MGF values, batches with a bad
run, usage errors, full disks and closed outputs.

    cli_cases.py CASE VELMORAN RUN.d EXPECT.json WORKDIR

CASE is one of mgf, batch, usage, full_device, full_filesystem, damaged,
chromatograms, names, no_spectra, or damaged_values (RUN.d then a run made
with velmoran-mkdataset --damage, and EXPECT.json "-").
"""
import json
import os
import re
import shutil
import stat
import struct
import subprocess
import sys
import tempfile

SKIP = 77


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def convert(velmoran, *args, cwd=None, stdout=subprocess.PIPE):
    return subprocess.run([velmoran, "convert", *args], cwd=cwd, stdout=stdout,
                          stderr=subprocess.PIPE, text=True)


def as_float32(text):
    return struct.unpack("<f", struct.pack("<f", float(text)))[0]


def case_mgf(velmoran, run_dir, expected, work):
    out = os.path.join(work, "run.mgf")
    done = convert(velmoran, run_dir, "--format", "mgf", "-o", out)
    if done.returncode != 0:
        fail(f"mgf exited {done.returncode}: {done.stderr}")
    want = [s for s in expected if s["ms_level"] >= 2 and "precursor_mz" in s
            and "mrm_channel" not in s]
    left_out = len(expected) - len(want)
    if f"{left_out} left out" not in done.stderr:
        fail(f"summary does not count {left_out} spectra left out: {done.stderr}")
    blocks = open(out).read().split("BEGIN IONS\n")[1:]
    if len(blocks) != len(want):
        fail(f"{len(blocks)} ion blocks, expected {len(want)}")
    stem = os.path.basename(os.path.normpath(run_dir))[:-2]
    for block, spectrum in zip(blocks, want):
        lines = block.splitlines()
        if lines[-1] != "END IONS":
            fail(f"block does not end with END IONS: {lines[-1]!r}")
        head = dict(line.split("=", 1) for line in lines[:4])
        if head["TITLE"] != f"{stem} scan={spectrum['scan_id']}" or \
                head["SCANS"] != str(spectrum["scan_id"]):
            fail(f"title or scans wrong: {head}")
        if float(head["RTINSECONDS"]) != spectrum["retention_time_sec"] or \
                float(head["PEPMASS"]) != spectrum["precursor_mz"]:
            fail(f"time or precursor wrong: {head} vs {spectrum}")
        points = [line.split(" ") for line in lines[4:-1]]
        if [float(m) for m, _ in points] != spectrum["mz"] or \
                [as_float32(i) for _, i in points] != spectrum["intensity"]:
            fail(f"points of scan {spectrum['scan_id']} differ")


def case_batch(velmoran, run_dir, expected, work):
    out = os.path.join(work, "batch")
    shutil.rmtree(out, ignore_errors=True)
    missing = os.path.join(work, "missing.d")
    done = convert(velmoran, "-q", missing, run_dir, "-o", out)
    if done.returncode != 1:
        fail(f"batch with a bad run exited {done.returncode}")
    want = f"velmoran: {missing}: parse error: AcqData directory not found\n"
    if done.stderr != want:
        fail(f"stderr {done.stderr!r}, expected {want!r}")
    stem = os.path.basename(os.path.normpath(run_dir))[:-2]
    if os.listdir(out) != [f"{stem}.mzML"]:
        fail(f"batch directory holds {os.listdir(out)}")
    # Without -o the output lands in the working directory as <stem>.mzML.
    here = os.path.join(work, "here")
    os.makedirs(here, exist_ok=True)
    done = convert(velmoran, "-q", os.path.abspath(run_dir) + "/", cwd=here)
    if done.returncode != 0 or os.listdir(here) != [f"{stem}.mzML"]:
        fail(f"default output: exit {done.returncode}, {os.listdir(here)}, {done.stderr}")


def case_usage(velmoran, run_dir, expected, work):
    out = os.path.join(work, "usage")
    shutil.rmtree(out, ignore_errors=True)
    twin = os.path.join(work, "twin")
    os.makedirs(twin, exist_ok=True)
    copy = os.path.join(twin, os.path.basename(os.path.normpath(run_dir)))
    if not os.path.exists(copy):
        shutil.copytree(run_dir, copy)
    cases = [
        ([run_dir, copy, "-o", out], "would both be written to"),
        ([run_dir, "--ms-level", "two", "-o", out], "--ms-level"),
        ([run_dir, "--ms-level", "3-1", "-o", out], "--ms-level"),
        ([run_dir, "--format", "mzxml", "-o", out], "--format"),
        ([run_dir, "--compression", "gzip", "-o", out], "--compression"),
        ([run_dir, "--threads", "0", "-o", out], "--threads"),
        ([run_dir, copy, "-o", "-"], "standard output"),
        ([], "runs"),
    ]
    for args, words in cases:
        done = convert(velmoran, *args)
        if done.returncode != 2 or words not in done.stderr:
            fail(f"{args}: exit {done.returncode}, stderr {done.stderr!r} lacks {words!r}")
        if os.path.exists(out):
            fail(f"{args}: a usage error wrote {out}")


def case_full_device(velmoran, run_dir, expected, work):
    if not os.path.exists("/dev/full"):
        print("no /dev/full")
        sys.exit(SKIP)
    done = convert(velmoran, "-q", run_dir, "-o", "/dev/full")
    if done.returncode != 1 or "No space left on device" not in done.stderr:
        fail(f"-o /dev/full: exit {done.returncode}, {done.stderr!r}")
    with open("/dev/full", "w") as full:
        done = convert(velmoran, "-q", run_dir, "-o", "-", stdout=full)
    if done.returncode != 1 or "No space left on device" not in done.stderr:
        fail(f"-o - to /dev/full: exit {done.returncode}, {done.stderr!r}")
    if not stat.S_ISCHR(os.stat("/dev/full").st_mode):
        fail("/dev/full was replaced")
    # A reader that stops early (| head): the output ends there, quietly and
    # with status 0, as with ripgrep.
    reader = subprocess.Popen([velmoran, "convert", "-q", run_dir, "-o", "-", "--compression",
                               "none"], stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    reader.stdout.read(10)
    reader.stdout.close()
    error = reader.stderr.read().decode()
    if reader.wait() != 0 or error:
        fail(f"closed pipe: exit {reader.returncode}, {error!r}")


def case_full_filesystem(velmoran, run_dir, expected, work):
    mount_point = tempfile.mkdtemp(dir=work)
    mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=16k", "tmpfs", mount_point],
                             capture_output=True, text=True)
    if mounted.returncode != 0:
        print("cannot mount a tmpfs here:", mounted.stderr.strip())
        os.rmdir(mount_point)
        sys.exit(SKIP)
    try:
        target = os.path.join(mount_point, "run.mzML")
        with open(target, "w") as old:
            old.write("the previous conversion\n")
        done = convert(velmoran, "-q", run_dir, "-o", target)
        if done.returncode != 1 or "No space left on device" not in done.stderr:
            fail(f"full file system: exit {done.returncode}, {done.stderr!r}")
        if open(target).read() != "the previous conversion\n":
            fail("the existing output was changed by a failed conversion")
        if os.listdir(mount_point) != ["run.mzML"]:
            fail(f"left behind: {os.listdir(mount_point)}")
    finally:
        subprocess.run(["umount", mount_point])
        os.rmdir(mount_point)


def case_damaged(velmoran, run_dir, expected, work):
    # Cut both data files short: the scans past the cut convert as empty
    # spectra, and the file must still validate and decode in OpenMS.
    if shutil.which("FileInfo") is None or shutil.which("FileConverter") is None:
        print("OpenMS (FileInfo, FileConverter) is not installed")
        sys.exit(SKIP)
    damaged = os.path.join(work, "damaged.d")
    shutil.rmtree(damaged, ignore_errors=True)
    shutil.copytree(run_dir, damaged)
    for name in ("MSPeak.bin", "MSProfile.bin"):
        path = os.path.join(damaged, "AcqData", name)
        os.truncate(path, os.path.getsize(path) // 2)
    for compression in ("zlib", "none", "numpress"):
        out = os.path.join(work, f"damaged-{compression}.mzML")
        done = convert(velmoran, "-q", damaged, "-o", out, "--compression", compression)
        if done.returncode != 0:
            fail(f"damaged run, {compression}: exit {done.returncode}, {done.stderr}")
        text = open(out).read()
        if text.count('defaultArrayLength="0"') == 0 or text.count("<spectrum ") != len(expected):
            fail(f"damaged run, {compression}: expected every scan, some of them empty")
        info = subprocess.run(["FileInfo", "-in", out, "-v"], capture_output=True, text=True)
        if "the file is semantically valid" not in info.stdout:
            fail(f"damaged run, {compression}: OpenMS validation:\n{info.stdout}{info.stderr}")
        decoded = subprocess.run(["FileConverter", "-in", out, "-out", out + ".decoded.mzML"],
                                 capture_output=True, text=True)
        if decoded.returncode != 0:
            fail(f"damaged run, {compression}: OpenMS cannot read it:\n{decoded.stderr}")


def need_openms():
    if shutil.which("FileInfo") is None or shutil.which("FileConverter") is None:
        print("OpenMS (FileInfo, FileConverter) is not installed")
        sys.exit(SKIP)


def file_info_valid(path):
    info = subprocess.run(["FileInfo", "-in", path, "-v"], capture_output=True, text=True)
    if "the file is valid" not in info.stdout or \
            "the file is semantically valid" not in info.stdout:
        fail(f"{path}: OpenMS validation:\n{info.stdout}{info.stderr}")


def converted(velmoran, *args):
    done = convert(velmoran, *args)
    if done.returncode != 0:
        fail(f"convert {' '.join(args)}: exit {done.returncode}: {done.stderr}")
    return done


def case_chromatograms(velmoran, run_dir, expected, work):
    # TIC and base peak over the survey scans; with fragment levels only,
    # over every written spectrum. Read back by pymzML, against the
    # generator's spectra summed and maximised by numpy.
    import numpy
    import pymzml

    for args, want in (([], [s for s in expected if s["ms_level"] == 1]),
                       (["--ms-level", "2-"], [s for s in expected if s["ms_level"] >= 2])):
        out = os.path.join(work, f"chromatograms{len(args)}.mzML")
        converted(velmoran, "-q", run_dir, "-o", out, *args)
        reader = pymzml.run.Reader(out)
        tic, bpc = reader["TIC"], reader["BPC"]
        times = [s["retention_time_sec"] for s in want]
        sums = [float(numpy.sum(numpy.asarray(s["intensity"], dtype=numpy.float64)))
                for s in want]
        peaks = [max(s["intensity"], default=0.0) for s in want]
        for name, chromatogram, values in (("TIC", tic, sums), ("BPC", bpc, peaks)):
            if list(chromatogram.time) != times:
                fail(f"{args}: {name} times differ from the spectra's")
            if not numpy.allclose(chromatogram.i, values, rtol=1e-12, atol=0):
                fail(f"{args}: {name} {list(chromatogram.i)[:4]} != {values[:4]}")


def case_names(velmoran, run_dir, expected, work):
    # Runs named like the file's own ids must not collide with them.
    need_openms()
    import xml.etree.ElementTree as ElementTree

    for name in ("IC1", "velmoran", "velmoran_conversion", "MS", "UO"):
        copy = os.path.join(work, "names", name)
        if not os.path.exists(copy):
            shutil.copytree(run_dir, copy)
        out = os.path.join(work, f"{name}.mzML")
        converted(velmoran, "-q", copy, "-o", out)
        file_info_valid(out)
        ids = [e.get("id") for e in ElementTree.parse(out).iter() if e.get("id") is not None]
        if len(ids) != len(set(ids)):
            fail(f"run {name}: repeated ids {sorted(i for i in ids if ids.count(i) > 1)}")


def case_no_spectra(velmoran, run_dir, expected, work):
    # No spectrum of the chosen level: still a valid, indexed document, and
    # an MGF file without blocks.
    need_openms()
    for args in ([], ["--no-index"]):
        out = os.path.join(work, f"none{len(args)}.mzML")
        converted(velmoran, "-q", run_dir, "-o", out, "--ms-level", "9", *args)
        file_info_valid(out)
    out = os.path.join(work, "none.mgf")
    done = converted(velmoran, run_dir, "-o", out, "--ms-level", "9", "--format", "mgf")
    if open(out).read() != "" or ": 0 spectra" not in done.stderr:
        fail(f"MGF without spectra: {done.stderr}")


NOT_A_NUMBER = re.compile(r"\b(nan|inf|infinity)\b", re.I)


def case_damaged_values(velmoran, run_dir, expected, work):
    # NaN and infinite scan-table values: valid mzML without a single
    # nan/inf in the text, numpress falling back to zlib for m/z beyond
    # 2^31, and MGF without such values or empty blocks.
    need_openms()
    import pymzml

    for compression in ("zlib", "none", "numpress"):
        out = os.path.join(work, f"values-{compression}.mzML")
        converted(velmoran, "-q", run_dir, "-o", out, "--compression", compression)
        file_info_valid(out)
        text = re.sub(r"<binary>[^<]*</binary>", "", open(out).read())
        if NOT_A_NUMBER.search(text):
            fail(f"{compression}: {NOT_A_NUMBER.search(text).group(0)} written as text")
        decoded = out + ".decoded.mzML"
        done = subprocess.run(["FileConverter", "-in", out, "-out", decoded],
                              capture_output=True, text=True)
        if done.returncode != 0:
            fail(f"{compression}: OpenMS cannot read it:\n{done.stderr}")
    # The second survey scan spans 3e9 to 3.1e9: its m/z stays exact, in zlib.
    out = os.path.join(work, "values-numpress.mzML")
    survey = [s for s in pymzml.run.Reader(out) if s.ms_level == 1][1]
    mz = list(survey.mz)
    if mz[0] != 3e9 or not all(3e9 <= m <= 3.1e9 for m in mz):
        fail(f"m/z beyond 2^31 did not survive numpress: {mz[:3]}")
    element = re.findall(r"<spectrum .*?</spectrum>", open(out).read(), re.S)
    arrays = [e for e in element if 'name="ms level" value="1"' in e][1]
    if "MS:1000574" not in arrays.split('name="m/z array"')[0].rsplit("<binaryDataArray", 1)[1]:
        fail("the m/z array beyond 2^31 is not labelled zlib")

    out = os.path.join(work, "values.mgf")
    done = converted(velmoran, run_dir, "-o", out, "--format", "mgf")
    text = open(out).read()
    if NOT_A_NUMBER.search(text):
        fail(f"MGF: {NOT_A_NUMBER.search(text).group(0)} written")
    for block in text.split("BEGIN IONS\n")[1:]:
        if not re.search(r"^[0-9.e+-]+ [0-9.e+-]+$", block, re.M):
            fail(f"MGF block without a peak: {block!r}")
    # Two fragment scans have a NaN or infinite precursor, one has no peak
    # that is a number.
    if "1 without a peak" not in done.stderr:
        fail(f"MGF summary does not count the block without peaks: {done.stderr}")


def main():
    case, velmoran, run_dir, expect_file, work = sys.argv[1:6]
    expected = json.load(open(expect_file))["scans"] if expect_file != "-" else None
    os.makedirs(work, exist_ok=True)
    globals()[f"case_{case}"](velmoran, run_dir, expected, work)
    print("ok:", case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
