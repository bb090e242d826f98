#!/usr/bin/env bash
# Converts runs to mzML (or MGF) with the velmoran program, after the set-up
# a fresh Debian machine needs: installs missing packages, builds the
# program (in build/demo, or $VELMORAN_DEMO_BUILD_DIR, shared with
# scripts/demo.sh), then runs
#
#   velmoran convert RUN.d [RUN.d ...] [options]
#
# with the arguments given (see `velmoran convert --help` and
# docs/convert.md). With no run given, it converts the example run that
# scripts/demo.sh generates, into example-run.mzML in the working directory.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)

"$here/scripts/install-deps.sh" build >&2

build=${VELMORAN_DEMO_BUILD_DIR:-$here/build/demo}
# The program (without the viewer's page, which needs Node.js and the npm
# registry) and the generator of the example run, nothing of the tests.
# A tree the main job configured (with the Python module) is used as it is.
if [[ ! -f $build/build.ninja ]] ||
   ! grep -qxF "VELMORAN_DEVELOPER_MODE:BOOL=OFF" "$build/CMakeCache.txt" ||
   ! grep -qxF "VELMORAN_BUILD_VIEWER_ASSETS:BOOL=OFF" "$build/CMakeCache.txt"; then
  cmake -S "$here" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORAN_DEVELOPER_MODE=OFF \
    -DVELMORAN_BUILD_MKDATASET=ON -DVELMORAN_BUILD_VIEWER_ASSETS=OFF >&2
fi
cmake --build "$build" --target velmoran_cli velmoran_mkdataset >&2
velmoran=$build/cli/velmoran

if [[ $# -eq 0 || ( $1 == -* && $1 != -h && $1 != --help ) ]]; then
  example=$build/example-run.d
  if [[ ! -f $example/AcqData/MSScan.bin ]]; then
    echo "generating an example run in $example" >&2
    "$build/tests/velmoran-mkdataset" synth "$example" \
      --ms1 300 --ms2 900 --points 20000 --peaks 300 --seed 7 >&2
  fi
  set -- "$example" "$@"
fi

exec "$velmoran" convert "$@"
