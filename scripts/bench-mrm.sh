#!/usr/bin/env bash
# MRM runs read as chromatograms, on a generated 20,000-scan MRM run:
#   1. the channel chromatograms (bench/channel_chromatograms, the library
#      function every surface calls; 1 thread and every CPU) beside a plain
#      read of the run (bench/read_run);
#   2. velmoran convert --mrm chromatograms beside OpenMS FileConverter
#      converting velmoran's --mrm both mzML of the run to mzML.
# Each a separate process timed by hyperfine; convert runs with --no-fsync, as
# FileConverter does not flush its output to the disk either.
#
#   scripts/bench-mrm.sh [--build-dir DIR] [--no-build] [--runs N] [--peaks K]
source "$(dirname "$0")/bench-common.sh"
runs=10
peaks=100
bench_options "[--runs N] [--peaks K]" runs=runs peaks=peaks -- "$@"
bench_require hyperfine FileConverter
bench_build velmoran_cli velmoran_mkdataset read_run channel_chromatograms
velmoran=$build/cli/velmoran
data=$build/bench-mrm
run=$data/mrm20k.d
mkdir -p "$data"
if [[ ! -f $run/AcqData/MSScan.bin ]]; then
  "$build/tests/velmoran-mkdataset" mrm "$run" --scans 20000 --peaks "$peaks" --seed 3 \
    --transitions "$data/mrm20k.csv" >&2
fi
"$velmoran" convert -q "$run" -o "$data/both.mzML" --transitions "$data/mrm20k.csv"

hyperfine --warmup 2 --runs "$runs" --export-markdown "$data/chromatograms.md" \
  -n "plain read" "$build/bench/read_run $run" \
  -n "chromatograms, 1 thread" "$build/bench/channel_chromatograms $run 1" \
  -n "chromatograms, $(nproc) threads" "$build/bench/channel_chromatograms $run $(nproc)"

hyperfine --warmup 1 --runs "$runs" --export-markdown "$data/convert.md" \
  -n "velmoran convert --mrm chromatograms" \
  "$velmoran convert -q --no-fsync $run -o $data/only.mzML --mrm chromatograms --transitions $data/mrm20k.csv" \
  -n "OpenMS FileConverter (--mrm both mzML to mzML)" \
  "FileConverter -in $data/both.mzML -out $data/openms.mzML -no_progress"
cat "$data/chromatograms.md" "$data/convert.md"
