#!/usr/bin/env bash
# The main job: read an acquisition dataset through velmoran and print a
# summary. With no dataset given, an example LC-MS run is generated first.
#
#   scripts/demo.sh [RUN.d] [--first N] [--png FILE]
#
# Installs missing Debian packages, builds the module for the interpreter
# named by $PYTHON (default python3) and the velmoran program when needed,
# then runs examples/summary.py. The build (build/demo, or
# $VELMORAN_DEMO_BUILD_DIR) leaves out the page of `velmoran view`, which
# needs Node.js and the npm registry: the job needs Debian's packages alone.
set -euo pipefail
# Paths given on the command line are the caller's: resolve them before
# moving to the repository.
caller=$PWD
absolute() { [[ $1 == /* ]] && echo "$1" || echo "$caller/$1"; }
args=()
while [[ $# -gt 0 ]]; do
  case $1 in
    --png) args+=(--png "$(absolute "${2:-}")"); shift $(($# > 1 ? 2 : 1)) ;;
    --png=*) args+=(--png "$(absolute "${1#--png=}")"); shift ;;
    --first) args+=("$1" "${2:-}"); shift $(($# > 1 ? 2 : 1)) ;;
    -*) args+=("$1"); shift ;;
    *) args+=("$(absolute "$1")"); shift ;;
  esac
done
set -- "${args[@]}"
cd "$(dirname "$0")/.."

# matplotlib, a large download, only for a PNG.
wants_png=false
for arg in "$@"; do
  [[ $arg == --png || $arg == --png=* ]] && wants_png=true
done
if $wants_png; then
  scripts/install-deps.sh plot >&2
else
  scripts/install-deps.sh build >&2
fi

python=$(command -v "${PYTHON:-python3}")
python=$("$python" -c 'import sys; print(sys.executable)')
build=$(realpath -m "${VELMORAN_DEMO_BUILD_DIR:-build/demo}")

version_of() { "$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])'; }

# A PNG needs matplotlib. When $python lacks it, the plot runs under
# Debian's /usr/bin/python3, which python3-matplotlib serves (installed by
# install-deps.sh), with the module built for that interpreter as well.
plot_python=$python
if $wants_png && ! "$python" -c 'import matplotlib' 2>/dev/null; then
  if [[ -x /usr/bin/python3 ]] &&
     /usr/bin/python3 -c 'import sys, matplotlib; sys.exit(sys.version_info < (3, 9))' 2>/dev/null; then
    plot_python=/usr/bin/python3
  else
    echo "demo: matplotlib is not installed for $python nor for /usr/bin/python3;" \
         "the summary is printed without the PNG" >&2
  fi
fi

interpreters=$python
[[ $plot_python != "$python" ]] && interpreters="$python;$plot_python"
# What the job runs, and nothing of the tests: the module, the program and
# the generator of the example run.
if [[ ! -f $build/build.ninja ]] ||
   ! grep -qxF "VELMORAN_PYTHON_EXECUTABLES:STRING=$interpreters" "$build/CMakeCache.txt" ||
   ! grep -qxF "VELMORAN_DEVELOPER_MODE:BOOL=OFF" "$build/CMakeCache.txt" ||
   ! grep -qxF "VELMORAN_BUILD_VIEWER_ASSETS:BOOL=OFF" "$build/CMakeCache.txt"; then
  cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORAN_DEVELOPER_MODE=OFF \
    -DVELMORAN_BUILD_PYTHON=ON -DVELMORAN_BUILD_MKDATASET=ON -DVELMORAN_BUILD_VIEWER_ASSETS=OFF \
    -DVELMORAN_PYTHON_EXECUTABLES="$interpreters" >&2
fi
version=$(version_of "$plot_python")
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

PYTHONPATH="$build/python/$version${PYTHONPATH:+:$PYTHONPATH}" "$plot_python" examples/summary.py "$dataset" "$@"

cat <<EOF

The velmoran program was built too; the same run from the shell:
  $build/cli/velmoran info $dataset
  $build/cli/velmoran scans $dataset -o scans.tsv
  $PWD/scripts/convert.sh $dataset -o run.mzML
EOF
