#!/usr/bin/env bash
# The velmoran_arrays benchmark: peaks() on 1 and 2 threads, a spectra()
# loop taking numpy.asarray of both arrays, velmoran.RawReader followed by
# numpy.asarray of every spectrum's lists, and pymzML reading the run as
# uncompressed mzML, beside the C++ read of the same run (bench/read_run),
# all in one invocation; then the memory of a spectra() loop over a run 8
# times longer.
#
#   scripts/bench-arrays.sh [--build-dir DIR] [--no-build] [--rounds N]
#
# Uses the first interpreter with numpy and pymzML among $NUMPY_PYTHON,
# python3 and python3.N on PATH (Debian's python3 with python3-numpy and
# python3-pymzml), and the module built for its version in DIR (default
# build/release). docs/performance.md explains the table.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
do_build=1
rounds=5
while [[ $# -gt 0 ]]; do
  case $1 in
    --build-dir) build=$2; shift 2 ;;
    --no-build) do_build=0; shift ;;
    --rounds) rounds=$2; shift 2 ;;
    *) echo "usage: scripts/bench-arrays.sh [--build-dir DIR] [--no-build] [--rounds N]" >&2
       exit 2 ;;
  esac
done

python=""
for candidate in ${NUMPY_PYTHON:-} $(type -ap python3 python3.9 python3.10 python3.11 python3.12 python3.13); do
  if "$candidate" -c 'import numpy, pymzml' 2>/dev/null; then python=$candidate; break; fi
done
[[ -n $python ]] || { echo "bench-arrays.sh: no interpreter with numpy and pymzml (scripts/install-deps.sh test)" >&2; exit 1; }
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')

if [[ $do_build == 1 ]]; then
  [[ -f $build/build.ninja ]] || cmake --preset release >&2
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
    --target velmoran_mkdataset read_run velmoran_cli "velmoran_py${version/./}" >&2
fi

work=$build/bench-arrays
mkdir -p "$work"
[[ -d $work/x1.d ]] || "$build/tests/velmoran-mkdataset" synth "$work/x1.d" \
  --ms1 1000 --ms2 2000 --points 20000 --peaks 300 >&2
[[ -d $work/x8.d ]] || "$build/tests/velmoran-mkdataset" synth "$work/x8.d" \
  --ms1 8000 --ms2 16000 --points 20000 --peaks 300 >&2
[[ -f $work/x1.mzML ]] || "$build/cli/velmoran" convert -q "$work/x1.d" -o "$work/x1.mzML" \
  --compression none

echo "$python (Python $version), $(nproc) cores; load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
PYTHONPATH="$build/python/$version${PYTHONPATH:+:$PYTHONPATH}" "$python" bench/arrays_bench.py \
  --read-run "$build/bench/read_run" --mzml "$work/x1.mzML" --rounds "$rounds" \
  "$work/x1.d" "$work/x8.d"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
