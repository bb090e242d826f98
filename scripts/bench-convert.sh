#!/usr/bin/env bash
# The conversion benchmark: `velmoran convert` on the 3,000-scan run of
# docs/performance.md (1,000 MS1 profiles of 20,000 points, 2,000 MS2
# centroid scans of 300 peaks; 20.6 M points) beside, in the same
# invocation and on the same thread counts,
#   - the floor: bench/convert_floor reads every spectrum and compresses and
#     base64-encodes its arrays with the converter's code, no XML;
#   - the mzPeak archive and the Parquet table (--format mzpeak|parquet),
#     sized against the run's AcqData and the zlib mzML;
#   - OpenMS's FileConverter rewriting the same content mzML -> mzML,
#     uncompressed and with -lossy_compression (numpress).
# Prints a Markdown table: best wall time of --reps runs, peak RSS, output
# size. docs/performance.md ("Converting to mzML") explains it.
#
#   scripts/bench-convert.sh [--build-dir DIR] [--no-build] [--reps N] [--threads "1 2"]
#
# The machine should be quiet: other work shows up in every figure.
source "$(dirname "$0")/bench-common.sh"
reps=3
thread_counts="1 2"
bench_options "[--reps N] [--threads \"1 2\"]" reps=reps threads=thread_counts -- "$@"
bench_build velmoran_cli velmoran_mkdataset convert_floor
velmoran=$build/cli/velmoran
floor=$build/bench/convert_floor
bench_require FileConverter /usr/bin/time

work=$build/bench-convert
mkdir -p "$work"
run=$work/run.d
bench_run3k "$run"

# best COUNT OUT CMD...: "seconds peak_rss_kib" of the fastest run.
best() { bench_best "$1" "$2" "%e %M" "${@:3}"; }

mib() { awk -v k="$1" 'BEGIN{printf "%.0f MiB", k / 1024}'; }
mb() { awk -v b="$(stat -c %s "$1")" 'BEGIN{printf "%.1f MB", b / 1e6}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a / b}'; }

# OpenMS rewrites our uncompressed output: the same content, mzML -> mzML.
"$velmoran" convert -q "$run" -o "$work/input.mzML" --compression none

echo "| threads | what | seconds | peak RSS | output | ratio |"
echo "|---|---|---|---|---|---|"
for t in $thread_counts; do
  read -r floor_s floor_k < <(best "$reps" - "$floor" "$run" "$t")
  echo "| $t | floor: read + zlib + base64, no XML | $floor_s | $(mib "$floor_k") | | 1.00 |"
  for c in zlib none numpress; do
    out=$work/out-$c.mzML
    read -r s k < <(best "$reps" "$out" "$velmoran" convert -q "$run" -o "$out" --compression "$c" --threads "$t")
    eval "velmoran_${c}_s=$s"
    note=""
    [[ $c == zlib ]] && note="$(ratio "$s" "$floor_s") of the floor"
    echo "| $t | velmoran convert --compression $c | $s | $(mib "$k") | $(mb "$out") | $note |"
  done
  # The columnar outputs: size against the run's AcqData and the zlib mzML.
  acq_bytes=$(du -sb "$run/AcqData" | cut -f1)
  for f in mzpeak parquet; do
    out=$work/out.$f
    read -r s k < <(best "$reps" "$out" "$velmoran" convert -q "$run" -o "$out" --format "$f" --threads "$t")
    echo "| $t | velmoran convert --format $f | $s | $(mib "$k") | $(mb "$out") | $(ratio "$(stat -c %s "$out")" "$acq_bytes")x AcqData, $(ratio "$(stat -c %s "$out")" "$(stat -c %s "$work/out-zlib.mzML")")x zlib mzML, $(ratio "$s" "$velmoran_zlib_s")x its time |"
  done
  read -r s k < <(best 1 "$work/openms-none.mzML" FileConverter -in "$work/input.mzML" -out "$work/openms-none.mzML" -threads "$t")
  echo "| $t | FileConverter mzML -> mzML | $s | $(mib "$k") | $(mb "$work/openms-none.mzML") | $(ratio "$s" "$velmoran_none_s")x velmoran none |"
  read -r s k < <(best 1 "$work/openms-numpress.mzML" FileConverter -in "$work/input.mzML" -out "$work/openms-numpress.mzML" -lossy_compression -threads "$t")
  echo "| $t | FileConverter -lossy_compression | $s | $(mib "$k") | $(mb "$work/openms-numpress.mzML") | $(ratio "$s" "$velmoran_numpress_s")x velmoran numpress |"
done
