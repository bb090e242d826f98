#!/usr/bin/env bash
# The six analyses of docs/arrays.md's recipes written with velmoran_arrays
# and with pymzML (bench/analyses_bench.py): lines of code, time, whether
# the results agree; then Run.xic against the velmoran xic process and
# peaks(peaks="picked") against peaks().
#
#   scripts/bench-analyses.sh [--build-dir DIR] [--no-build] [--rounds N]
#
# Uses Debian's python3 with python3-numpy, python3-pandas and
# python3-pymzml (or $NUMPY_PYTHON), and the module built for its version
# in DIR (default build/release). docs/performance.md shows the figures.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
do_build=1
rounds=3
while [[ $# -gt 0 ]]; do
  case $1 in
    --build-dir) build=$2; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --rounds) rounds=$2; shift 2 ;;
    *) echo "usage: scripts/bench-analyses.sh [--build-dir DIR] [--no-build] [--rounds N]" >&2
       exit 2 ;;
  esac
done

python=""
for candidate in ${NUMPY_PYTHON:-} /usr/bin/python3 $(type -ap python3); do
  if "$candidate" -c 'import numpy, pandas, pymzml' 2>/dev/null; then python=$candidate; break; fi
done
[[ -n $python ]] || { echo "bench-analyses.sh: no interpreter with numpy, pandas and pymzml (scripts/install-deps.sh test)" >&2; exit 1; }
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')

if [[ $do_build == 1 ]]; then
  [[ -f $build/build.ninja ]] || cmake --preset release >&2
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
    --target velmoran_mkdataset velmoran_cli "velmoran_py${version/./}" >&2
fi

work=$build/bench-analyses
mkdir -p "$work"
[[ -d $work/dda.d ]] || "$build/tests/velmoran-mkdataset" synth "$work/dda.d" \
  --ms1 1000 --ms2 2000 --points 20000 --peaks 300 >&2
[[ -d $work/mrm.d ]] || "$build/tests/velmoran-mkdataset" mrm "$work/mrm.d" --scans 20000 >&2
for run in dda mrm; do
  [[ -f $work/$run.mzML ]] || "$build/cli/velmoran" convert -q "$work/$run.d" \
    -o "$work/$run.mzML" --compression none
done

echo "$python (Python $version), $(nproc) cores"
PYTHONPATH="$build/python/$version${PYTHONPATH:+:$PYTHONPATH}" "$python" bench/analyses_bench.py \
  --velmoran "$build/cli/velmoran" --rounds "$rounds" \
  "$work/dda.d" "$work/dda.mzML" "$work/mrm.d" "$work/mrm.mzML"
