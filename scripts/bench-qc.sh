#!/usr/bin/env bash
# The cost of velmoran qc: on the 3,000-scan run of docs/performance.md
# beside a plain read of it (bench/read_run), timed by hyperfine; then a
# batch of 100 runs (links to that run, so the disk holds it once): the
# time the batch's z-scores, files and report take once the runs' metrics
# are known (bench/qc_batch), and the peak memory of `velmoran qc` on the
# batch beside that on one run.
#
#   scripts/bench-qc.sh [--build-dir DIR] [--no-build] [--runs N]
source "$(dirname "$0")/bench-common.sh"
runs=10
bench_options "[--runs N]" runs=runs -- "$@"
bench_build velmoran_cli velmoran_mkdataset read_run qc_batch
velmoran=$build/cli/velmoran
data=$build/bench-qc
run=$data/run3k.d
mkdir -p "$data/batch"
bench_run3k "$run"
for i in $(seq -w 1 100); do ln -sfn "$(realpath "$run")" "$data/batch/run$i.d"; done

echo "== one run: qc beside a plain read"
hyperfine -N -w 2 -r "$runs" --export-json "$data/hyperfine.json" \
  -n read "$build/bench/read_run $run" \
  -n qc "$velmoran qc $run -o $data/run3k.mzQC --no-fsync" >/dev/null
python3 - "$data/hyperfine.json" <<'PY'
import json, sys
results = {r["command"]: r for r in json.load(open(sys.argv[1]))["results"]}
read = results["read"]["median"]
for name, r in results.items():
    print(f"{name:6s} median {r['median'] * 1000:7.1f} ms  min {r['min'] * 1000:7.1f} ms"
          f"  x{r['median'] / read:.2f} of the read")
PY

peak_kib() { /usr/bin/time -f %M "$@" 2>&1 >/dev/null | tail -n 1; }

echo "== 100 runs"
# After the runs' figures: z-scores, batch mzQC, TSV and report (bench/qc_batch).
"$build/bench/qc_batch" "$run" 100
one=$(peak_kib "$velmoran" qc "$run" -o "$data/one.mzQC" --no-fsync)
batch=$(peak_kib "$velmoran" qc "$data"/batch/*.d -o "$data/batch.mzQC" --table "$data/batch.tsv" \
  --report "$data/batch.html" --no-fsync)
echo "peak memory: one run ${one} KiB, the batch of 100 with its report ${batch} KiB"
