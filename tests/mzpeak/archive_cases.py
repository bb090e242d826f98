"""mzPeak archives (convert --format mzpeak) checked against the draft's
conformance rules and read back by independent readers.

    archive_cases.py CASE LAYOUT VELMORAN READERS SCHEMA_DIR OBO RUN.d EXPECT.json WORKDIR

LAYOUT is point or chunk (--mzpeak-layout).

- readback: the archive's signal tables, read by DuckDB, hyparquet and
  parquet-wasm, hold the generator's expected spectra bit for bit; the
  metadata rows carry mzML's ids, times in minutes, indexes from 0. From
  delta-encoded chunks, m/z is rebuilt by adding the differences to the
  chunk's start, and must come within MZ_BOUND (relative) of the expected.
- conformance: mzpeak_index.json valid against the draft's JSON schema
  (python3-jsonschema), every member present, and the semantic MUSTs: page
  index on index and coordinate columns, ascending sorting-rank-0 arrays,
  ascending non-overlapping chunks,
  foreign keys that resolve, one layout per file, array-index CURIEs that
  descend from their parents in the PSI-MS obo.
"""
import glob
import json
import os
import re
import subprocess
import sys
import zipfile

SKIP = 77
LAYOUT = "point"
MZ_BOUND = 1e-9


def fail(message):
    print("FAIL:", message)
    sys.exit(1)


def convert(velmoran, *args):
    done = subprocess.run([velmoran, "convert", "-q", *args], capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"convert {' '.join(args)}: exit {done.returncode}: {done.stderr}")


def read(readers, *files):
    done = subprocess.run(["node", os.path.join(readers, "read.mjs"), *files],
                          capture_output=True, text=True)
    if done.returncode != 0:
        fail(f"read.mjs: {done.stderr}")
    return json.loads(done.stdout)


def unpacked(velmoran, run_dir, work):
    """The same run as a ZIP and unpacked: the members must be the same bytes."""
    archive = os.path.join(work, "run.mzpeak")
    directory = os.path.join(work, "unpacked")
    layout = ("--mzpeak-layout", LAYOUT)
    convert(velmoran, run_dir, "--format", "mzpeak", *layout, "-o", archive)
    convert(velmoran, run_dir, "--format", "mzpeak", *layout, "--unpacked", "-o", directory)
    with zipfile.ZipFile(archive) as z:
        for info in z.infolist():
            if info.compress_type != zipfile.ZIP_STORED:
                fail(f"{info.filename} is compressed in the ZIP")
            if z.read(info) != open(os.path.join(directory, info.filename), "rb").read():
                fail(f"{info.filename} differs between the ZIP and the unpacked archive")
    return directory


def case_readback(velmoran, readers, schema_dir, obo, run_dir, expected, work):
    directory = unpacked(velmoran, run_dir, work)
    index = json.load(open(os.path.join(directory, "mzpeak_index.json")))
    files = {(f["entity_type"], f["data_kind"]): os.path.join(directory, f["name"])
             for f in index["files"]}
    data, peaks, meta = (files[("spectrum", k)] for k in ("data_arrays", "peaks", "metadata"))
    seen = read(readers, data, peaks, meta)
    scan_ids = [s["scan_id"] for s in expected]
    unique = len(set(scan_ids)) == len(scan_ids)
    for reader in ("duckdb", "hyparquet", "arrow"):
        rows = seen[meta][reader]
        if [r["index"] for r in rows] != list(range(len(expected))):
            fail(f"{reader}: metadata index is not 0..{len(expected) - 1}")
        for row, scan, position in zip(rows, expected, range(len(expected))):
            ident = f"scan={scan['scan_id']}" if unique else f"index={position}"
            if row["id"] != ident or row["time"] != scan["retention_time_sec"] / 60:
                fail(f"{reader}: row {position}: {row['id']} at {row['time']} min")
        points = {}
        for path in (data, peaks):
            for row in seen[path][reader]:
                if "chunk" in row:
                    c = row["chunk"]
                    if c["chunk_encoding"] != "MS:1003089":
                        fail(f"{reader}: chunk encoding {c['chunk_encoding']}")
                    mz, intensity = points.setdefault(c["spectrum_index"], ([], []))
                    value = c["mz_chunk_start"]
                    mz.append(value)
                    for delta in c["mz_chunk_values"]:
                        value += delta
                        mz.append(value)
                    intensity.extend(c["intensity"])
                else:
                    p = row["point"]
                    mz, intensity = points.setdefault(p["spectrum_index"], ([], []))
                    mz.append(p["mz"])
                    intensity.append(p["intensity"])
        worst = 0.0
        for position, scan in enumerate(expected):
            mz, intensity = points.get(position, ([], []))
            if intensity != scan["intensity"] or len(mz) != len(scan["mz"]):
                fail(f"{reader}: spectrum {position}: points differ from the expected")
            for got, want in zip(mz, scan["mz"]):
                worst = max(worst, abs(got - want) / abs(want) if want else abs(got))
            kind = rows[position]["spectrum_representation"]
            count = rows[position]["number_of_data_points" if kind == "MS:1000128" else "number_of_peaks"]
            if count != len(scan["mz"]):
                fail(f"{reader}: spectrum {position}: {count} points announced")
        if worst > (MZ_BOUND if LAYOUT == "chunk" else 0.0):
            fail(f"{reader}: m/z off by {worst:.3g} relative")
        print(f"{reader}: largest m/z error {worst:.3g} relative")


def load_schemas(schema_dir):
    # The draft's patterns use ECMAScript's named groups, Python's re
    # spells them (?P<...>).
    def load(path):
        return json.loads(open(path).read().replace("(?<", "(?P<"))
    # The schemas name each other by absolute URL: each is served from the
    # local copy of the same name, nothing is fetched.
    local = {os.path.basename(p): load(p) for p in glob.glob(os.path.join(schema_dir, "*.json"))}
    urls = set()
    for p in glob.glob(os.path.join(schema_dir, "*.json")):
        urls.update(re.findall(r'"\$ref":\s*"([a-z]+://[^"#]+)', open(p).read()))
    store = {url: local[url.rsplit("/", 1)[1]] for url in urls}
    return local["mzpeak_index.json"], store


def ancestors(obo):
    parents = {}
    term = None
    for line in open(obo, encoding="utf-8"):
        if line.startswith("id: "):
            term = line[4:].strip()
        elif line.startswith("is_a: ") and term:
            parents.setdefault(term, set()).add(line[6:].split("!")[0].strip())
    def up(term):
        seen, stack = set(), [term]
        while stack:
            for p in parents.get(stack.pop(), ()):
                if p not in seen:
                    seen.add(p)
                    stack.append(p)
        return seen
    return up


def case_conformance(velmoran, readers, schema_dir, obo, run_dir, expected, work):
    try:
        import jsonschema
    except ImportError:
        print("python3-jsonschema is not installed")
        sys.exit(SKIP)
    directory = unpacked(velmoran, run_dir, work)
    index = json.load(open(os.path.join(directory, "mzpeak_index.json")))
    schema, store = load_schemas(schema_dir)
    validator = jsonschema.Draft7Validator(schema, resolver=jsonschema.RefResolver("", schema, store=store))
    errors = [e.message for e in validator.iter_errors(index)]
    if errors:
        fail(f"mzpeak_index.json: {errors[:3]}")
    if {c["id"] for c in index["metadata"]["cv_list"]} != {"MS", "UO"}:
        fail(f"cv_list: {index['metadata']['cv_list']}")
    paths = [os.path.join(directory, f["name"]) for f in index["files"]]
    seen = read(readers, *paths)
    up = ancestors(obo)
    kinds = {}
    for f, path in zip(index["files"], paths):
        kinds[(f["entity_type"], f["data_kind"])] = seen[path]
        meta = seen[path]["metadata"]
        key = f["entity_type"] + "_array_index"
        if f["data_kind"] in ("data_arrays", "peaks"):
            arrays = json.loads(meta["key_value_metadata"][key])
            formats = {e["buffer_format"] for e in arrays["entries"]}
            if not (formats == {"point"} and arrays["prefix"] == "point") and not (
                    arrays["prefix"] == "chunk" and all(x.startswith("chunk_") for x in formats)):
                fail(f"{f['name']}: mixed or unknown layouts in {arrays}")
            for e in arrays["entries"]:
                if "MS:1000518" not in up(e["data_type"]) or "MS:1000513" not in up(e["array_type"]):
                    fail(f"{f['name']}: {e['data_type']} / {e['array_type']} not under their parents")
                if not ({"UO:0000000", "MS:1000043", "MS:1000040"} & (up(e["unit"]) | {e["unit"]})):
                    fail(f"{f['name']}: unit {e['unit']} is not a unit term")
            rows = seen[path]["arrow"]
            entity = f["entity_type"] + "_index"
            if arrays["prefix"] == "chunk":
                for a, b in zip(rows, rows[1:]):
                    ca, cb = a["chunk"], b["chunk"]
                    if ca["mz_chunk_start"] > ca["mz_chunk_end"]:
                        fail(f"{f['name']}: a chunk ends before it starts")
                    if cb[entity] == ca[entity] and cb["mz_chunk_start"] <= ca["mz_chunk_end"]:
                        fail(f"{f['name']}: chunks overlap or descend")
                    if cb[entity] < ca[entity]:
                        fail(f"{f['name']}: chunks not in entity order")
                continue
            axis = next(e["path"] for e in arrays["entries"] if e["sorting_rank"] == 0)
            for a, b in zip(rows, rows[1:]):
                pa, pb = a["point"], b["point"]
                leaf = axis.split(".")[1]
                if pb[entity] < pa[entity] or (pb[entity] == pa[entity] and pb[leaf] < pa[leaf]):
                    fail(f"{f['name']}: {axis} not ascending within an entity")
        for group in meta["row_groups"]:
            for chunk in group["columns"]:
                name = chunk["path"].split(".")[-1]
                if name in ("index", "source_index", "spectrum_index", "chromatogram_index", "mz", "time",
                            "mz_chunk_start", "mz_chunk_end"):
                    if chunk["column_index"] is None or chunk["offset_index"] is None:
                        fail(f"{f['name']}: {chunk['path']} without a page index")
    spectra = kinds[("spectrum", "metadata")]["arrow"]
    known = {r["index"] for r in spectra}
    for kind in ("scans", "precursors", "selected_ions"):
        for row in kinds[("spectrum", kind)]["arrow"]:
            if row["source_index"] not in known:
                fail(f"{kind}: source_index {row['source_index']} resolves to no spectrum")
    for kind in ("data_arrays", "peaks"):
        for row in kinds[("spectrum", kind)]["arrow"]:
            key = (row.get("point") or row.get("chunk"))["spectrum_index"]
            if key not in known:
                fail(f"{kind}: spectrum_index {key} resolves to no spectrum")
    times = [r["time"] for r in spectra]
    if times != [s["retention_time_sec"] / 60 for s in expected]:
        fail("spectrum times are not the run's in minutes")


def case_mrm(velmoran, readers, schema_dir, obo, run_dir, expected, work):
    """An MRM run with its transition list: one chromatogram per channel (the
    sums of its scans of level 2 and up, time in minutes), Q1 and Q3 in the
    chromatogram precursor and product tables, Q3 of each channel's spectra."""
    import csv
    import math

    transitions_csv = run_dir[:-2] + ".csv"
    with open(transitions_csv, newline="") as f:
        listed = {int(row["channel"]): row for row in csv.DictReader(f)}
    directory = os.path.join(work, "mrm")
    convert(velmoran, run_dir, "--format", "mzpeak", "--mzpeak-layout", LAYOUT, "--unpacked",
            "--transitions", transitions_csv, "-o", directory)
    index = json.load(open(os.path.join(directory, "mzpeak_index.json")))
    files = {(f["entity_type"], f["data_kind"]): os.path.join(directory, f["name"])
             for f in index["files"]}
    names = [("chromatogram", k) for k in ("metadata", "data_arrays", "precursors", "products")]
    names.append(("spectrum", "products"))
    seen = read(readers, *(files[n] for n in names))
    meta, data, precursors, products, spectrum_products = (seen[files[n]]["duckdb"] for n in names)
    traces = {}
    for scan in expected:
        if scan["ms_level"] >= 2 and "mrm_channel" in scan:
            trace = traces.setdefault(scan["mrm_channel"], ([], []))
            trace[0].append(scan["retention_time_sec"] / 60)
            trace[1].append(math.fsum(scan["intensity"]))
    if [r["id"] for r in meta[:2]] != ["TIC", "BPC"] or len(meta) != 2 + len(traces):
        fail(f"chromatograms: {[r['id'] for r in meta]}")
    by_source = {r["source_index"]: r for r in precursors}
    q3_by_source = {r["source_index"]: r for r in products}
    for row, channel in zip(meta[2:], sorted(traces)):
        points = [r["point"] for r in data if r["point"]["chromatogram_index"] == row["index"]]
        if ([p["time"] for p in points], [p["intensity"] for p in points]) != traces[channel]:
            fail(f"channel {channel}: trace differs from the expected")
        t = listed.get(channel)
        if not t:
            if row["chromatogram_type"] != "MS:1000810" or row["index"] in by_source:
                fail(f"channel {channel} without a transition: {row}")
            continue
        q1 = by_source[row["index"]]["isolation_window"]["isolation_window_target"]
        q3 = q3_by_source[row["index"]]["isolation_window"]["isolation_window_target"]
        if row["chromatogram_type"] != "MS:1001473" or (q1, q3) != (
                float(t["precursor_mz"]), float(t["product_mz"])):
            fail(f"channel {channel}: {row['chromatogram_type']} Q1 {q1} Q3 {q3}, expected {t}")
    want = [(i, float(listed[s["mrm_channel"]]["product_mz"])) for i, s in enumerate(expected)
            if s["ms_level"] >= 2 and s.get("mrm_channel") in listed]
    got = [(r["source_index"], r["isolation_window"]["isolation_window_target"])
           for r in spectrum_products]
    if got != want:
        fail(f"spectrum products {got[:4]}..., expected {want[:4]}...")


def main():
    global LAYOUT
    case, LAYOUT, velmoran, readers, schema_dir, obo, run_dir, expect_file, work = sys.argv[1:10]
    os.makedirs(work, exist_ok=True)
    expected = json.load(open(expect_file))["scans"]
    globals()["case_" + case](velmoran, readers, schema_dir, obo, run_dir, expected, work)
    print("ok", case)
    return 0


if __name__ == "__main__":
    sys.exit(main())
