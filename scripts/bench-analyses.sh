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
source "$(dirname "$0")/bench-common.sh"
rounds=3
bench_options "[--rounds N]" rounds=rounds -- "$@"
bench_python numpy pandas pymzml
bench_build velmoran_mkdataset velmoran_cli "velmoran_py${version/./}"

work=$build/bench-analyses
mkdir -p "$work"
bench_run3k "$work/dda.d"
[[ -d $work/mrm.d ]] || "$build/tests/velmoran-mkdataset" mrm "$work/mrm.d" --scans 20000 >&2
for run in dda mrm; do
  [[ -f $work/$run.mzML ]] || "$build/cli/velmoran" convert -q "$work/$run.d" \
    -o "$work/$run.mzML" --compression none
done

echo "$python (Python $version), $(nproc) cores"
PYTHONPATH="$build/python/$version${PYTHONPATH:+:$PYTHONPATH}" "$python" bench/analyses_bench.py \
  --velmoran "$build/cli/velmoran" --rounds "$rounds" \
  "$work/dda.d" "$work/dda.mzML" "$work/mrm.d" "$work/mrm.mzML"
