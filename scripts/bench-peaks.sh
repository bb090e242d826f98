#!/usr/bin/env bash
# Peak picking, filters and gzip output of `velmoran convert`, measured:
#   1. accuracy of `--peaks picked` beside OpenMS's PeakPickerHiRes on
#      generated Gaussian profile scans whose true peaks are known
#      (velmoran-mkdataset gauss; bench/picking_accuracy.py scores both);
#   2. speed on the 3,000-scan run of docs/performance.md: PeakPickerHiRes
#      from our uncompressed mzML against `--peaks picked` from the dataset,
#      and `--peaks picked` against the plain conversion;
#   3. gzip output on 2 threads against `gzip -6` of the same uncompressed
#      file (time and size);
#   4. MGF size of `--peaks picked` against `--peaks profile` on a run whose
#      fragment scans are profiles (velmoran-mkdataset synth --profile-ms2).
# Prints Markdown tables: best wall time of --reps runs and its CPU time
# (user + system). docs/performance.md ("Peak picking and gzip") explains it.
#
#   scripts/bench-peaks.sh [--build-dir DIR] [--no-build] [--reps N]
#
# The machine should be quiet; on a loaded one the CPU times are the steadier
# figures.
source "$(dirname "$0")/bench-common.sh"
reps=3
bench_options "[--reps N]" reps=reps -- "$@"
bench_build velmoran_cli velmoran_mkdataset gzip_file
velmoran=$build/cli/velmoran
mkdataset=$build/tests/velmoran-mkdataset
bench_require PeakPickerHiRes gzip /usr/bin/time /usr/bin/python3

work=$build/bench-peaks
mkdir -p "$work"

# best COUNT OUT CMD...: "wall_seconds cpu_seconds" of the fastest run.
best() { bench_best "$1" "$2" "%e %U %S" "${@:3}" | awk '{printf "%s %.2f", $1, $2 + $3}'; }
ratio() { awk -v a="$1" -v b="$2" 'BEGIN{printf "%.2f", a / b}'; }
mb() { awk -v b="$(stat -c %s "$1")" 'BEGIN{printf "%.1f MB", b / 1e6}'; }

echo "## Accuracy on Gaussian profile scans (100 scans of 100,000 points, 300 peaks each, resolving power 20,000)"
echo
gauss=$work/gauss.d
[[ -d $gauss ]] || "$mkdataset" gauss "$gauss" --scans 100 --points 100000 --peaks 300 \
  --resolution 20000 --seed 1 --truth "$work/gauss-truth.json" >&2
"$velmoran" convert -q "$gauss" -o "$work/gauss-profile.mzML" --compression none
PeakPickerHiRes -in "$work/gauss-profile.mzML" -out "$work/gauss-openms.mzML" -no_progress >/dev/null
"$velmoran" convert -q "$gauss" -o "$work/gauss-velmoran.mzML" --peaks picked --compression none
/usr/bin/python3 bench/picking_accuracy.py "$work/gauss-truth.json" \
  "PeakPickerHiRes=$work/gauss-openms.mzML" "velmoran --peaks picked=$work/gauss-velmoran.mzML"
echo

run=$work/x1.d
bench_run3k "$run"
"$velmoran" convert -q "$run" -o "$work/input.mzML" --compression none

echo "## Speed on the 3,000-scan run"
echo
echo "| what | wall s | CPU s | ratio (wall) | ratio (CPU) |"
echo "|---|---|---|---|---|"
read -r pp_wall pp_cpu < <(best "$reps" "$work/openms-picked.mzML" PeakPickerHiRes -in "$work/input.mzML" -out "$work/openms-picked.mzML" -no_progress -threads 2)
read -r vp_wall vp_cpu < <(best "$reps" "$work/picked-none.mzML" "$velmoran" convert -q "$run" -o "$work/picked-none.mzML" --peaks picked --compression none --threads 2)
echo "| PeakPickerHiRes, our uncompressed mzML in | $pp_wall | $pp_cpu | $(ratio "$pp_wall" "$vp_wall") | $(ratio "$pp_cpu" "$vp_cpu") |"
echo "| velmoran convert --peaks picked --compression none, dataset in | $vp_wall | $vp_cpu | 1.00 | 1.00 |"
read -r plain_wall plain_cpu < <(best "$reps" "$work/plain.mzML" "$velmoran" convert -q "$run" -o "$work/plain.mzML" --threads 2)
read -r pz_wall pz_cpu < <(best "$reps" "$work/picked.mzML" "$velmoran" convert -q "$run" -o "$work/picked.mzML" --peaks picked --threads 2)
echo "| velmoran convert (zlib), plain | $plain_wall | $plain_cpu | 1.00 | 1.00 |"
echo "| velmoran convert (zlib) --peaks picked | $pz_wall | $pz_cpu | $(ratio "$pz_wall" "$plain_wall") | $(ratio "$pz_cpu" "$plain_cpu") |"
echo

echo "## gzip output on 2 threads"
echo
echo "| what | wall s | CPU s | output | ratio (wall) | ratio (CPU) |"
echo "|---|---|---|---|---|---|"
read -r gz_wall gz_cpu < <(best "$reps" "$work/plain.mzML.gz" gzip -6 -k -f "$work/plain.mzML")
read -r pg_wall pg_cpu < <(best "$reps" "$work/ours.mzML.gz" "$build/bench/gzip_file" "$work/plain.mzML" "$work/ours.mzML.gz" 2)
read -r vz_wall vz_cpu < <(best "$reps" "$work/out.mzML.gz" "$velmoran" convert -q "$run" -o "$work/out.mzML.gz" --threads 2)
echo "| gzip -6 of the mzML (zlib arrays) | $gz_wall | $gz_cpu | $(mb "$work/plain.mzML.gz") | 1.00 | 1.00 |"
echo "| our gzip stream of the same file (bench/gzip_file, 2 threads) | $pg_wall | $pg_cpu | $(mb "$work/ours.mzML.gz") | $(ratio "$gz_wall" "$pg_wall")x faster | $(ratio "$gz_cpu" "$pg_cpu")x less |"
echo "| velmoran convert -o run.mzML.gz (the whole conversion) | $vz_wall | $vz_cpu | $(mb "$work/out.mzML.gz") | $(ratio "$gz_wall" "$vz_wall")x faster | $(ratio "$gz_cpu" "$vz_cpu")x less |"
echo
echo "size of our stream: $(ratio "$(stat -c %s "$work/ours.mzML.gz")" "$(stat -c %s "$work/plain.mzML.gz")") of gzip -6's"
echo

echo "## MGF of a run with profile fragment scans (100 MS1, 200 MS2 profiles of 20,000 points)"
echo
ms2=$work/profile-ms2.d
[[ -d $ms2 ]] || "$mkdataset" synth "$ms2" --ms1 100 --ms2 200 --points 20000 --peaks 300 --profile-ms2 >&2
"$velmoran" convert -q "$ms2" --format mgf --peaks profile -o "$work/profile.mgf"
"$velmoran" convert -q "$ms2" --format mgf --peaks picked -o "$work/picked.mgf"
echo "| --peaks profile | --peaks picked | ratio |"
echo "|---|---|---|"
echo "| $(mb "$work/profile.mgf") | $(mb "$work/picked.mgf") | $(ratio "$(stat -c %s "$work/profile.mgf")" "$(stat -c %s "$work/picked.mgf")")x smaller |"
