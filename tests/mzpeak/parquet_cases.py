"""The analysis table (convert --format parquet) read back by independent
readers (DuckDB, hyparquet, parquet-wasm with Arrow: tests/parquet_readers)
and compared with the generator's expected spectra, or with the mzML of the
same options read by pymzML.

    parquet_cases.py CASE VELMORAN READERS RUN.d EXPECT.json WORKDIR

READERS is the build tree's copy of tests/parquet_readers, where npm ci
installed the readers.
"""
import json
import os
import shutil
import subprocess
import sys

import numpy

SKIP = 77


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def convert(velmoran, *args, ok=True):
    done = subprocess.run([velmoran, "convert", "-q", *args], capture_output=True, text=True)
    if ok and done.returncode != 0:
        fail(f"convert {' '.join(args)}: exit {done.returncode}: {done.stderr}")
    return done


def node(readers, *args):
    done = subprocess.run(["node", os.path.join(readers, "read.mjs"), *args],
                          capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"node read.mjs {' '.join(args)}: {done.stderr}")
    return json.loads(done.stdout)


def same(a, b):
    return a == b or (a == "NaN" and isinstance(b, float) and b != b)


def check_rows(where, rows, expected, run_name):
    """Every reader's rows against the expected spectra: one row per point,
    in spectrum then m/z order; exact values."""
    want = []
    for index, scan in enumerate(expected):
        precursor = scan.get("precursor_mz") if "mrm_channel" not in scan else None
        for mz, intensity in zip(scan["mz"], scan["intensity"]):
            want.append({"run": run_name, "spectrum_index": index, "scan_id": scan["scan_id"],
                         "ms_level": scan["ms_level"], "rt_sec": scan["retention_time_sec"],
                         "precursor_mz": precursor, "mrm_channel": scan.get("mrm_channel"),
                         "mz": mz, "intensity": intensity})
    if len(rows) != len(want):
        fail(f"{where}: {len(rows)} rows, expected {len(want)}")
    for position, (got, row) in enumerate(zip(rows, want)):
        for key, value in row.items():
            if not same(got.get(key), value):
                fail(f"{where}: row {position} {key} = {got.get(key)!r}, expected {value!r}")


def check_footer(where, meta, values):
    """Statistics and page index of the columns as numpy sees the values."""
    groups = meta["row_groups"]
    if sum(g["num_rows"] for g in groups) != len(values["mz"]):
        fail(f"{where}: row groups hold {[g['num_rows'] for g in groups]} rows")
    start = 0
    for group in groups:
        n = group["num_rows"]
        if [s["column_idx"] for s in group["sorting_columns"] or []] != [1, 7]:
            fail(f"{where}: sorting columns {group['sorting_columns']}")
        for chunk in group["columns"]:
            name = chunk["path"]
            if name == "intensity":
                continue
            if chunk["column_index"] is None or chunk["offset_index"] is None:
                fail(f"{where}: {name} has no page index")
            column = [v for v in values[name][start:start + n] if v is not None]
            stats = chunk["statistics"]
            if column and (stats["min_value"] != min(column) or stats["max_value"] != max(column)):
                fail(f"{where}: {name} statistics {stats['min_value']}..{stats['max_value']}, "
                     f"values {min(column)}..{max(column)}")
            locations = chunk["offset_index"]["page_locations"]
            if locations[0]["first_row_index"] != 0 or any(
                    a["first_row_index"] >= b["first_row_index"] for a, b in zip(locations, locations[1:])):
                fail(f"{where}: {name} page locations {locations}")
        index = next(c for c in group["columns"] if c["path"] == "spectrum_index")
        if index["column_index"]["boundary_order"] != "ASCENDING":
            fail(f"{where}: spectrum_index pages are not ascending")
        start += n


def case_readback(velmoran, modules, run_dir, expected, work):
    run_name = os.path.basename(os.path.normpath(run_dir))[:-2]
    out = os.path.join(work, run_name + ".parquet")
    convert(velmoran, run_dir, "--format", "parquet", "-o", out)
    seen = node(modules, out)[out]
    for reader in ("duckdb", "hyparquet", "arrow"):
        check_rows(f"{out} ({reader})", seen[reader], expected, run_name)
    columns = {k: [r[k] for r in seen["hyparquet"]] for k in seen["hyparquet"][0]} if seen["hyparquet"] else {}
    if columns:
        check_footer(out, seen["metadata"], columns)


def pymzml_points(path):
    import pymzml

    out = {}
    for spectrum in pymzml.run.Reader(path):
        out[spectrum.ID] = (numpy.asarray(spectrum.mz, dtype=numpy.float64).tolist(),
                            numpy.asarray(spectrum.i, dtype=numpy.float64).tolist())
    return out


def case_options(velmoran, modules, run_dir, expected, work):
    """The points of each --peaks choice and filter are mzML's."""
    try:
        import pymzml  # noqa: F401
    except ImportError:
        print("pymzML is not installed for", sys.executable)
        sys.exit(SKIP)
    option_sets = [
        ["--peaks", "centroid"],
        ["--peaks", "picked", "--min-intensity", "100"],
        ["--drop-zeros", "--mz", "300:900"],
        ["--top", "5", "--ms-level", "2", "--rt", "0:30"],
        ["--scans", "3-9"],
    ]
    for number, options in enumerate(option_sets):
        mzml = os.path.join(work, f"options-{number}.mzML")
        table = os.path.join(work, f"options-{number}.parquet")
        convert(velmoran, run_dir, "-o", mzml, "--compression", "none", *options)
        convert(velmoran, run_dir, "-o", table, "--format", "parquet", *options)
        rows = node(modules, table)[table]["duckdb"]
        got = {}
        for row in rows:
            mz, intensity = got.setdefault(row["scan_id"], ([], []))
            mz.append(row["mz"])
            intensity.append(row["intensity"])
        want = {k: v for k, v in pymzml_points(mzml).items() if v[0]}
        if got.keys() != want.keys():
            fail(f"{options}: spectra {sorted(got)} differ from mzML's {sorted(want)}")
        for ident in want:
            if got[ident] != want[ident]:
                fail(f"{options}: {ident} points differ from mzML's")


def case_partitions(velmoran, modules, run_dir, expected, work):
    """Several runs: a Hive-partitioned directory that DuckDB queries as one
    table, run names unescaped."""
    # A directory name that is not UTF-8 and holds a newline: the run column
    # and the partition both hold it repaired (U+FFFD).
    names = ["plain", "a=b c", "x%y#z", "caf\udce9 new\nline"]
    shown = {"caf\udce9 new\nline": "caf\ufffd new\ufffdline"}
    runs = []
    for name in names:
        copy = os.path.join(work, "runs", name + ".d")
        if not os.path.exists(copy):
            shutil.copytree(run_dir, copy)
        runs.append(copy)
    out = os.path.join(work, "dataset")
    shutil.rmtree(out, ignore_errors=True)
    convert(velmoran, *runs, "--format", "parquet", "-o", out)
    glob = os.path.join(out, "*", "*.parquet")
    rows = node(modules, "--sql",
                f"SELECT run, count(*) AS n FROM read_parquet('{glob}', hive_partitioning = true) "
                "WHERE mz BETWEEN 400 AND 800 GROUP BY run ORDER BY run")["rows"]
    per_run = sum(1 for s in expected for m in s["mz"] if 400 <= m <= 800)
    if rows != [{"run": n, "n": per_run} for n in sorted(shown.get(n, n) for n in names)]:
        fail(f"partitioned dataset: {rows}")


def case_failures(velmoran, modules, run_dir, expected, work):
    """Output placement as for mzML: refused onto or into an input, a full
    device, a damaged run converts what it can."""
    inside = os.path.join(run_dir, "AcqData", "t.parquet")
    done = convert(velmoran, run_dir, "--format", "parquet", "-o", inside, ok=False)
    if done.returncode != 1 or os.path.exists(inside):
        fail(f"-o inside the run: exit {done.returncode}, {done.stderr!r}")
    if os.path.exists("/dev/full"):
        done = convert(velmoran, run_dir, "--format", "parquet", "-o", "/dev/full", ok=False)
        if done.returncode != 1 or "No space left on device" not in done.stderr:
            fail(f"-o /dev/full: exit {done.returncode}, {done.stderr!r}")
    done = convert(velmoran, run_dir, "--format", "parquet", "--gzip", "-o", "x.parquet", ok=False)
    if done.returncode != 2:
        fail(f"--gzip with parquet: exit {done.returncode}")
    damaged = os.path.join(work, "damaged.d")
    shutil.rmtree(damaged, ignore_errors=True)
    shutil.copytree(run_dir, damaged)
    for name in ("MSPeak.bin", "MSProfile.bin"):
        path = os.path.join(damaged, "AcqData", name)
        os.truncate(path, os.path.getsize(path) // 2)
    out = os.path.join(work, "damaged.parquet")
    convert(velmoran, damaged, "--format", "parquet", "-o", out)
    seen = node(modules, out)[out]
    indexes = sorted({r["spectrum_index"] for r in seen["arrow"]})
    if not indexes or len(indexes) >= len(expected) or seen["arrow"] != seen["duckdb"]:
        fail(f"damaged run: spectra {indexes} of {len(expected)}")


def case_recipes(velmoran, readers, run_dir, expected, work):
    """docs/mzpeak.md: its first block writes the files, every SQL block runs
    in DuckDB on them; the XIC and TIC recipes give the expected sums."""
    import math
    import re

    doc = open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "docs",
                            "mzpeak.md")).read()
    blocks = re.findall(r"```(\w+)[^\n]*\n(.*?)```", doc, re.S)
    here = os.path.join(work, "recipes")
    shutil.rmtree(here, ignore_errors=True)
    os.makedirs(os.path.join(here, "runs"))
    for link in ("run.d", "runs/a.d", "runs/b.d"):
        os.symlink(os.path.abspath(run_dir), os.path.join(here, link))
    commands = next(code for lang, code in blocks if lang == "sh")
    for line in commands.splitlines():
        args = line.split("#")[0].split()
        if args:
            done = subprocess.run([velmoran, *args[1:], "-q"], cwd=here, capture_output=True, text=True)
            if done.returncode != 0:
                fail(f"{line}: {done.stderr}")
    # The XIC's target becomes a point of the run's first MS1 profile, so
    # that the window holds points here.
    first = next(s for s in expected if s["ms_level"] == 1 and s["mz"])
    target = first["mz"][len(first["mz"]) // 2]
    answers = []
    for lang, code in blocks:
        if lang == "sql":
            code = code.replace("524.265", repr(target))
            done = subprocess.run(["node", os.path.join(readers, "read.mjs"), "--sql", code],
                                  cwd=here, capture_output=True, text=True)
            if done.returncode != 0:
                fail(f"recipe failed:\n{code}\n{done.stderr}")
            answers.append(json.loads(done.stdout)["rows"])
    xic, tic = answers[0], answers[1]
    low, high = target * (1 - 10e-6), target * (1 + 10e-6)
    want_xic, want_tic = [], []
    for run in ("a", "b"):
        for index, scan in enumerate(expected):
            if scan["ms_level"] != 1 or not scan["mz"]:
                continue
            inside = [i for m, i in zip(scan["mz"], scan["intensity"]) if low <= m <= high]
            if inside:
                want_xic.append((run, index, math.fsum(inside)))
            want_tic.append((run, index, math.fsum(scan["intensity"])))
    if not want_xic:
        fail("the XIC window holds no point")
    for name, rows, want, key in (("XIC", xic, want_xic, "intensity"), ("TIC", tic, want_tic, "tic")):
        got = [(r["run"], r["spectrum_index"], r[key]) for r in rows]
        if [g[:2] for g in got] != [w[:2] for w in want] or any(
                abs(g[2] - w[2]) > 1e-12 * abs(w[2]) for g, w in zip(got, want)):
            fail(f"{name} recipe: {got[:3]}..., expected {want[:3]}...")


def main():
    case, velmoran, modules, run_dir, expect_file, work = sys.argv[1:7]
    os.makedirs(work, exist_ok=True)
    expected = json.load(open(expect_file))["scans"]
    globals()["case_" + case](velmoran, modules, run_dir, expected, work)
    print("ok", case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
