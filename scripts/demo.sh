#!/usr/bin/env bash
# The main job: read an acquisition dataset through velmoran and print a
# summary. With no dataset given, an example LC-MS run is generated first.
#
#   scripts/demo.sh [RUN.d] [--first N] [--png FILE]
#
# Installs missing Debian packages, builds the module for the interpreter
# named by $PYTHON (default python3) when needed, then runs
# examples/summary.py.
set -euo pipefail
cd "$(dirname "$0")/.."

scripts/install-deps.sh >&2

python=$(command -v "${PYTHON:-python3}")
python=$("$python" -c 'import sys; print(sys.executable)')
version=$("$python" -c 'import sys; print("%d.%d" % sys.version_info[:2])')
build=build/demo

if [[ ! -f $build/build.ninja ]] || ! grep -q "VELMORAN_PYTHON_EXECUTABLES:STRING=$python\$" "$build/CMakeCache.txt"; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVELMORAN_DEVELOPER_MODE=ON -DVELMORAN_BUILD_BENCHMARKS=OFF \
    -DVELMORAN_PYTHON_EXECUTABLES="$python" >&2
fi
cmake --build "$build" --target "velmoran_py${version/./}" velmoran_mkdataset velmoran_cli >&2

dataset=""
if [[ $# -gt 0 && $1 != -* ]]; then
  dataset=$1
  shift
else
  dataset=$build/example-run.d
  if [[ ! -f $dataset/AcqData/MSScan.bin ]]; then
    echo "generating an example run in $dataset" >&2
    "$build/tests/velmoran-mkdataset" synth "$dataset" \
      --ms1 300 --ms2 900 --points 20000 --peaks 300 --seed 7 >&2
  fi
fi

# A PNG needs matplotlib. Debian's python3-matplotlib serves /usr/bin/python3,
# which can load the same module when it is the same Python version.
if [[ " $* " == *" --png "* ]] && ! "$python" -c 'import matplotlib' 2>/dev/null; then
  if [[ -x /usr/bin/python3 ]] && /usr/bin/python3 -c 'import matplotlib' 2>/dev/null &&
     [[ $(/usr/bin/python3 -c 'import sys; print("%d.%d" % sys.version_info[:2])') == "$version" ]]; then
    python=/usr/bin/python3
  fi
fi

PYTHONPATH="$build/python/$version${PYTHONPATH:+:$PYTHONPATH}" exec "$python" examples/summary.py "$dataset" "$@"
