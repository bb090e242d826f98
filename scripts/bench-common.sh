# shellcheck shell=bash disable=SC2034 # sets variables for the scripts that source it
# Sourced by the benchmark and screenshot scripts (scripts/bench-*.sh,
# scripts/screenshot-*.sh): their shared options, build step, interpreter
# choice and generated runs; they run from the repository root.
set -euo pipefail
cd "$(dirname "$0")/.."

build=build/release
do_build=1

# bench_options USAGE OPTION=VARIABLE... -- "$@": reads --build-dir DIR,
# --no-build, each "--OPTION VALUE" into VARIABLE and, for an OPTION that is
# a pattern such as *.png, an argument matching it; anything else prints the
# usage line (USAGE: the script's own options) and exits.
bench_options() {
  local usage=$1 pair
  local -A vars=()
  shift
  while [[ $1 != -- ]]; do
    pair=$1
    vars[${pair%%=*}]=${pair#*=}
    shift
  done
  shift
  while [[ $# -gt 0 ]]; do
    for pair in "${!vars[@]}"; do
      # shellcheck disable=SC2053 # a pattern on purpose
      if [[ $pair == \** && $1 == $pair ]]; then
        printf -v "${vars[$pair]}" %s "$1"
        shift
        continue 2
      fi
    done
    case $1 in
      --build-dir) build=$2; shift 2 ;;
      --no-build) do_build=0; shift ;;
      *)
        if [[ $1 == --* && -n ${vars[${1#--}]:-} && $# -ge 2 ]]; then
          printf -v "${vars[${1#--}]}" %s "$2"
          shift 2
        else
          echo "usage: scripts/$(basename "$0") [--build-dir DIR] [--no-build] $usage" >&2
          exit 2
        fi ;;
    esac
  done
}

# bench_build TARGET...: configures a Release tree in $build when there is
# none and builds TARGETs, unless --no-build was given.
bench_build() {
  ((do_build)) || return 0
  if [[ ! -f $build/build.ninja ]]; then
    cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELMORAN_DEVELOPER_MODE=ON >&2
  fi
  cmake --build "$build" -j 2 --target "$@" >&2
}

# bench_require TOOL...: exits when a TOOL is not installed.
bench_require() {
  local tool
  for tool in "$@"; do
    command -v "$tool" >/dev/null ||
      { echo "$(basename "$0"): $tool is missing (scripts/install-deps.sh test)" >&2; exit 1; }
  done
}

# bench_find_python MODULE...: prints the first interpreter among
# $NUMPY_PYTHON and python3[.N] on PATH that imports every MODULE (Debian's
# python3 with its python3-* packages); nothing when none does.
bench_find_python() {
  local candidate imports
  imports="import $(IFS=,; echo "$*")"
  for candidate in ${NUMPY_PYTHON:-} /usr/bin/python3 \
    $(type -ap python3 python3.9 python3.10 python3.11 python3.12 python3.13); do
    if "$candidate" -c "$imports" 2>/dev/null; then echo "$candidate"; return; fi
  done
}

# bench_python_version PYTHON: its X.Y.
bench_python_version() { "$1" -c 'import sys; print("%d.%d" % sys.version_info[:2])'; }

# bench_python MODULE...: sets python to bench_find_python's interpreter
# (exits when there is none) and version to its X.Y.
bench_python() {
  python=$(bench_find_python "$@")
  [[ -n $python ]] ||
    { echo "$(basename "$0"): no interpreter with $* (scripts/install-deps.sh test)" >&2; exit 1; }
  version=$(bench_python_version "$python")
}

# bench_run3k DIR [ARG...]: generates the 3,000-scan run of
# docs/performance.md (1,000 MS1 profiles of 20,000 points, 2,000 MS2
# centroid scans of 300 peaks) into DIR unless it is there.
bench_run3k() {
  [[ -f $1/AcqData/MSScan.bin ]] ||
    "$build/tests/velmoran-mkdataset" synth "$1" --ms1 1000 --ms2 2000 --points 20000 --peaks 300 \
      "${@:2}" >&2
}

# bench_best COUNT OUT FORMAT CMD...: runs CMD COUNT times under
# /usr/bin/time -f FORMAT (FORMAT starts with %e); prints the time line of
# the fastest run. OUT (a file, or - for none) is removed and the disk
# synced before each run, so that no run pays for dropping and writing back
# the previous run's output.
bench_best() {
  local count=$1 out=$2 format=$3 best_line="" line i
  shift 3
  for ((i = 0; i < count; i++)); do
    [[ $out == - ]] || rm -f "$out"
    sync
    line=$(/usr/bin/time -f "$format" "$@" 2>&1 >/dev/null | tail -1)
    if [[ -z $best_line ]] || awk -v a="${line%% *}" -v b="${best_line%% *}" 'BEGIN{exit !(a < b)}'; then
      best_line=$line
    fi
  done
  echo "$best_line"
}
