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
source "$(dirname "$0")/bench-common.sh"
rounds=5
bench_options "[--rounds N]" rounds=rounds -- "$@"
bench_python numpy pymzml
bench_build velmoran_mkdataset read_run velmoran_cli "velmoran_py${version/./}"

work=$build/bench-arrays
mkdir -p "$work"
bench_run3k "$work/x1.d"
[[ -d $work/x8.d ]] || "$build/tests/velmoran-mkdataset" synth "$work/x8.d" \
  --ms1 8000 --ms2 16000 --points 20000 --peaks 300 >&2
[[ -f $work/x1.mzML ]] || "$build/cli/velmoran" convert -q "$work/x1.d" -o "$work/x1.mzML" \
  --compression none

echo "$python (Python $version), $(nproc) cores; load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
PYTHONPATH="$build/python/$version${PYTHONPATH:+:$PYTHONPATH}" "$python" bench/arrays_bench.py \
  --read-run "$build/bench/read_run" --mzml "$work/x1.mzML" --rounds "$rounds" \
  "$work/x1.d" "$work/x8.d"
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
