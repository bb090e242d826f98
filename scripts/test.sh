#!/usr/bin/env bash
# Runs every test: installs what a fresh Debian machine lacks, then
#  0. the layout of every C++ file git tracks, against .clang-format
#     (clang-format 14);
#  1. the release tree: C++ tests, Python tests under every CPython 3.9+
#     found, the example scripts, the installed-package consumer, the
#     velmoran program read back by OpenMS and pymzML, the Snakemake
#     workflow (locally, and through a one-node Slurm cluster the test
#     starts and stops), the viewer (its API, a load test on 127.0.0.1, the
#     page in headless Chromium);
#  1b. the Debian package (scripts/package.sh, its own Release tree):
#     lintian, installed with apt-get, used, purged without a trace;
#  2. the AddressSanitizer/UndefinedBehaviorSanitizer tree: the C++ tests
#     and the Python tests against a sanitized module;
#  3. the ThreadSanitizer tree: the tests that iterate on several threads
#     and the pipelines of convert and xic, and the parallel gzip stream;
#  4. the libFuzzer harnesses (whole tree under clang), each for a bounded
#     time: VELMORAN_FUZZ_SECONDS per harness (default 60).
# The count at the end is what ran: the tests ctest reports, the harnesses
# the fuzzing step reports, one for the layout check and one for the package.
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)
passed=0
log=$(mktemp)
trap 'rm -f "$log"' EXIT

# Runs ctest and adds its count of tests to `passed` (any failure stops the
# script first).
run_ctest() {
  ctest "$@" | tee "$log"
  local n
  n=$(sed -n 's/.*tests passed, 0 tests failed out of \([0-9]*\).*/\1/p' "$log" | tail -n 1)
  passed=$((passed + ${n:-0}))
}

scripts/install-deps.sh test

# First, as it takes a second and a layout slip should not wait for the
# builds to show.
echo "== format: clang-format 14 on the C++ files git tracks"
git ls-files -z '*.cpp' '*.hpp' | xargs -0 clang-format-14 --dry-run --Werror
passed=$((passed + 1))

for preset in release sanitize; do
  echo "== $preset: configure, build, test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  run_ctest --preset "$preset" -j "$jobs"
  if [[ $preset == release ]]; then
    echo "== package: build the Debian package, install it, use it, remove it"
    deb=$(scripts/package.sh)
    status=0
    tests/package/package_test.sh "$deb" build/release/tests/velmoran-mkdataset || status=$?
    if ((status == 0)); then
      passed=$((passed + 1))
    elif ((status != 77)); then
      exit "$status"
    fi
  fi
done

echo "== tsan: configure, build, test"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target threads_test pipeline_test parallel_gzip_test
run_ctest --preset tsan -j "$jobs"

echo "== fuzz"
scripts/fuzz.sh "${VELMORAN_FUZZ_SECONDS:-60}" | tee "$log"
n=$(sed -n 's/^fuzz: \([0-9]*\) passed, 0 failed$/\1/p' "$log" | tail -n 1)
passed=$((passed + ${n:-0}))

echo "velmoran: $passed passed, 0 failed"
