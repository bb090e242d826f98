#!/usr/bin/env bash
# The cost of velmoran info, scans and xic beside a plain read of the same
# run through the library (bench/read_run: Reader::open, iter_spectra, next
# to the end, each record dropped), each a separate process timed by
# hyperfine on the 3,000-scan run of docs/performance.md.
#
#   scripts/bench-inspect.sh [--build-dir DIR] [--no-build] [--runs N]
#
# xic gets 10,000 targets (m/z spread over the run's range, 10 ppm); its
# table (10 million rows) goes to /dev/null, and once more to a file to show
# what writing it costs. Prints a table of the best and median wall-clock
# times and their ratios to the plain read. The machine should be quiet:
# the commands read on one thread and summarise on another, so a busy
# second core shows up in every figure.
source "$(dirname "$0")/bench-common.sh"
runs=15
bench_options "[--runs N]" runs=runs -- "$@"
bench_build velmoran_cli velmoran_mkdataset read_run
velmoran=$build/cli/velmoran
data=$build/bench-inspect
run=$data/run3k.d
mkdir -p "$data"
bench_run3k "$run"
# 10,000 targets from 50 to 1700 (the run's m/z range), each with its own
# fractional part.
awk 'BEGIN { for (i = 0; i < 10000; i++) printf "%.4f\n", 50 + i * 0.165 + (i * 7919 % 1000) / 10000 }' \
  >"$data/targets10k.txt"
head -n 10 "$data/targets10k.txt" >"$data/targets10.txt"

results=$data/hyperfine.json
hyperfine -N -w 3 -r "$runs" --export-json "$results" \
  -n read "$build/bench/read_run $run" \
  -n info "$velmoran info $run" \
  -n "info --json" "$velmoran info $run --json" \
  -n scans "$velmoran scans $run -o /dev/null" \
  -n "scans --format json" "$velmoran scans $run --format json -o /dev/null" \
  -n "xic 10,000 targets" "$velmoran xic $run --targets $data/targets10k.txt --ppm 10 -o /dev/null" \
  -n "xic 10 targets" "$velmoran xic $run --targets $data/targets10.txt --ppm 10 -o /dev/null" \
  -n "xic 10,000 targets to a file" \
  "$velmoran xic $run --targets $data/targets10k.txt --ppm 10 -o $data/xic.tsv" >/dev/null

python3 - "$results" <<'PY'
import json, statistics, sys
results = json.load(open(sys.argv[1]))["results"]
base = {r["command"]: r for r in results}["read"]
best0, median0 = min(base["times"]), statistics.median(base["times"])
print("| command | best ms | median ms | CPU ms (user+sys, mean) | best / read | median / read |")
print("|---|---:|---:|---:|---:|---:|")
for r in results:
    best, median = min(r["times"]), statistics.median(r["times"])
    cpu = (r["user"] + r["system"]) * 1e3
    print("| %s | %.1f | %.1f | %.1f | %.2f | %.2f |" % (
        r["command"], best * 1e3, median * 1e3, cpu, best / best0, median / median0))
PY
