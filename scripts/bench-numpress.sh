#!/usr/bin/env bash
# Numpress conversion with the reference MS-Numpress library (what the
# program uses) beside our own encoders (bench/numpress_own.cpp), on the
# 3,000-scan benchmark run: bench/numpress_convert and numpress_convert_own
# interleaved, REPS times each per thread count; prints the best and the
# median wall and CPU (user + system) seconds and the ratio own/reference.
# Then the encoders alone (bench/numpress_bench). See docs/performance.md.
#
#   scripts/bench-numpress.sh [--build-dir DIR] [--reps N]
source "$(dirname "$0")/bench-common.sh"
reps=12
bench_options "[--reps N]" reps=reps -- "$@"
bench_build numpress_convert numpress_convert_own numpress_bench velmoran_mkdataset

work=$build/bench-numpress
mkdir -p "$work"
run=$work/run.d
bench_run3k "$run" --seed 7

times=$work/times.txt
: >"$times"
for threads in 1 2; do
  for ((i = 0; i < reps; i++)); do
    for program in numpress_convert numpress_convert_own; do
      /usr/bin/time -a -o "$times" -f "$threads $program %e %U %S" \
        "$build/bench/$program" "$run" "$work/$program.mzML" "$threads"
    done
  done
done
cmp "$work/numpress_convert.mzML" "$work/numpress_convert_own.mzML" >&2 ||
  { echo "bench-numpress.sh: the two outputs differ" >&2; exit 1; }
python3 - "$times" <<'PY'
import collections, statistics, sys
runs = collections.defaultdict(list)
for line in open(sys.argv[1]):
    threads, program, wall, user, system = line.split()
    runs[threads, program].append((float(wall), float(user) + float(system)))
print("| threads | seconds | reference library | own encoders | reference / own |")
print("|---|---|---|---|---|")
for threads in sorted({t for t, _ in runs}):
    ref, own = runs[threads, "numpress_convert"], runs[threads, "numpress_convert_own"]
    for what, k in (("wall", 0), ("CPU", 1)):
        for stat, f in (("best", min), ("median", statistics.median)):
            a, b = f(x[k] for x in ref), f(x[k] for x in own)
            print(f"| {threads} | {what}, {stat} | {a:.3f} | {b:.3f} | {a / b:.2f} |")
PY
"$build/bench/numpress_bench" --benchmark_repetitions=3 --benchmark_report_aggregates_only=true
