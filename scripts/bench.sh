#!/usr/bin/env bash
# The whole-run benchmarks: how long reading a run takes through the C++
# library and through velmoran.RawReader(path), beside the floor measured in
# the same invocation, and how time and memory grow with the run's size.
#
#   scripts/bench.sh [--build-dir DIR] [--no-build] [--scales "1 2 4 8"] [--reps N]
#
# Builds a Release tree (build/bench unless told otherwise) with the module
# for the interpreter named by $PYTHON (default: python3.9 when there is one,
# the version the module is made for; else python3), generates the runs into
# it (scale k: 1,000k MS1 profile scans of 20,000 points and 2,000k MS2
# centroid scans of 300 peaks), then prints the tables of bench/e2e_bench
# (C++) and bench/e2e_python.py (Python), then runs scripts/bench-inspect.sh
# and scripts/bench-convert.sh (the velmoran program) and
# scripts/bench-arrays.sh (velmoran_arrays, under an interpreter with numpy)
# on the same tree.
# docs/performance.md explains them.
# The machine should be quiet: other work shows up in every figure.
source "$(dirname "$0")/bench-common.sh"
build=build/bench
scales="1 2 4 8"
reps=7
bench_options "[--scales \"1 2 4 8\"] [--reps N]" scales=scales reps=reps -- "$@"

# The first interpreter that runs: $PYTHON, python3.9 (on PATH or among
# pyenv's versions), python3.
candidates=()
if [[ -n ${PYTHON:-} ]]; then
  candidates=("$PYTHON")
else
  candidates=(python3.9)
  if command -v pyenv >/dev/null; then
    candidates+=("$(pyenv root)"/versions/3.9*/bin/python3)
  fi
  candidates+=(python3)
fi
python=""
for candidate in "${candidates[@]}"; do
  if python=$("$candidate" -c 'import sys; print(sys.executable)' 2>/dev/null); then break; fi
  python=""
done
[[ -n $python ]] || { echo "bench.sh: no Python interpreter runs: ${candidates[*]}" >&2; exit 1; }
version=$(bench_python_version "$python")
# The interpreter of scripts/bench-arrays.sh, with numpy and pymzML; its
# module is built in the same tree.
numpy_python=$(bench_find_python numpy pymzml)
pythons=$python${numpy_python:+;$numpy_python}
numpy_version=${numpy_python:+$(bench_python_version "$numpy_python")}

if [[ $do_build == 1 ]]; then
  if [[ ! -f $build/build.ninja ]] ||
     ! grep -qF "VELMORAN_PYTHON_EXECUTABLES:STRING=$pythons" "$build/CMakeCache.txt" ||
     ! grep -q "CMAKE_BUILD_TYPE:STRING=Release\$" "$build/CMakeCache.txt"; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DVELMORAN_DEVELOPER_MODE=ON -DVELMORAN_BUILD_BENCHMARKS=ON \
      -DVELMORAN_PYTHON_EXECUTABLES="$pythons" >&2
  fi
  cmake --build "$build" -j "$(nproc 2>/dev/null || echo 2)" \
    --target velmoran_mkdataset e2e_bench read_run "velmoran_py${version/./}" \
    ${numpy_version:+"velmoran_py${numpy_version/./}"} >&2
fi

runs=()
for k in $scales; do
  run=$build/runs/x$k.d
  echo "generating $run" >&2
  "$build/tests/velmoran-mkdataset" synth "$run" --ms1 $((1000 * k)) --ms2 $((2000 * k)) \
    --points 20000 --peaks 300 >&2
  runs+=("$run")
done

echo "== machine"
grep -m1 'model name' /proc/cpuinfo | sed 's/.*: //'
compiler=$(sed -n 's/^CMAKE_CXX_COMPILER:[A-Z]*=//p' "$build/CMakeCache.txt")
echo "$(nproc) cores, $(awk '/MemTotal/ {printf "%.1f GiB", $2 / 1048576}' /proc/meminfo) memory," \
  "$("$compiler" --version | head -1), Python $version"
echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"

echo
echo "== C++: Reader::open + iter_spectra + next to the end, beside the floor (liblzf)"
"$build/bench/e2e_bench" --reps "$reps" "${runs[@]}"
echo
echo "== C++: the same, beside the floor with the library's own LZF decoder"
"$build/bench/e2e_bench" --reps "$reps" --own-lzf "${runs[@]}"
echo
echo "== C++: records dropped as they come, beside the floor with the library's LZF decoder"
"$build/bench/e2e_bench" --reps "$reps" --own-lzf --stream "${runs[@]}"
echo
echo "== Python: RawReader(path)"
PYTHONPATH="$build/python/$version${PYTHONPATH:+:$PYTHONPATH}" \
  "$python" bench/e2e_python.py --floor "$build/bench/e2e_bench" --reps "$reps" "${runs[@]}"
echo
echo "== The velmoran program: info, scans and xic beside a plain read"
scripts/bench-inspect.sh --build-dir "$build" $([[ $do_build == 1 ]] || echo --no-build)
echo
echo "== The velmoran program: convert beside its floor and OpenMS's FileConverter"
scripts/bench-convert.sh --build-dir "$build" $([[ $do_build == 1 ]] || echo --no-build)
echo
echo "== velmoran_arrays beside the C++ read"
if [[ -n $numpy_python ]]; then
  NUMPY_PYTHON=$numpy_python scripts/bench-arrays.sh --build-dir "$build" --rounds "$reps" \
    $([[ $do_build == 1 ]] || echo --no-build)
else
  echo "skipped: no interpreter with numpy and pymzml (scripts/install-deps.sh test)"
fi
echo
echo "load average at the end: $(cut -d' ' -f1-3 /proc/loadavg)"
