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
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
do_build=1
while [[ $# -gt 0 ]]; do
  case $1 in
    --build-dir) build=$2; shift 2 ;;
    --no-build) do_build=0; shift ;;
    *) echo "usage: scripts/bench-view.sh [--build-dir DIR] [--no-build]" >&2; exit 2 ;;
  esac
done

if ((do_build)); then
  if [[ ! -f $build/build.ninja ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORAN_DEVELOPER_MODE=ON >&2
  fi
  cmake --build "$build" -j 2 --target velmoran_cli velmoran_mkdataset >&2
fi
data=$build/bench-inspect
run=$data/run3k.d
mkdir -p "$data"
if [[ ! -f $run/AcqData/MSScan.bin ]]; then
  "$build/tests/velmoran-mkdataset" synth "$run" --ms1 1000 --ms2 2000 --points 20000 --peaks 300 >&2
fi
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
