#!/usr/bin/env bash
# Speed of velmoran view on the 3,000-scan run of docs/performance.md, in
# headless Chromium (bench/view_bench.py): navigation to the drawn
# chromatogram, switching to a 20,000-point profile spectrum, /api/xic with
# 10 targets beside `velmoran xic`, and the server's memory while a client
# walks through every spectrum, and /api/map beside the time to decode the run.
# Then the first paint of a 30,000-scan run
# with its scan table, and the overlay of 10 runs (copies of the 3,000-scan
# run, their files hard links).
#
#   scripts/bench-view.sh [--build-dir DIR] [--no-build]
source "$(dirname "$0")/bench-common.sh"
bench_options "" -- "$@"
bench_build velmoran_cli velmoran_mkdataset
data=$build/bench-inspect
run=$data/run3k.d
mkdir -p "$data"
bench_run3k "$run"
/usr/bin/python3 bench/view_bench.py "$build/cli/velmoran" "$run"
run30k=$data/run30k.d
if [[ ! -f $run30k/AcqData/MSScan.bin ]]; then
  "$build/tests/velmoran-mkdataset" synth "$run30k" --ms1 10000 --ms2 20000 --points 2000 --peaks 50 >&2
fi
/usr/bin/python3 bench/view_bench.py "$build/cli/velmoran" "$run30k" --table
copies=()
for i in 1 2 3 4 5 6 7 8 9; do
  copy=$data/run3k-copy$i.d
  [[ -d $copy ]] || cp -al "$run" "$copy"
  copies+=("$copy")
done
/usr/bin/python3 bench/view_bench.py "$build/cli/velmoran" "$run" --overlay "${copies[@]}"
