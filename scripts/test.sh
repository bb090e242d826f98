#!/usr/bin/env bash
# Runs every test: installs what a fresh Debian machine lacks, then
#  1. the release tree: C++ tests, Python tests under every CPython 3.9+
#     found, the example scripts, the installed-package consumer;
#  2. the AddressSanitizer/UndefinedBehaviorSanitizer tree: the C++ tests
#     and the Python tests against a sanitized module;
#  3. the ThreadSanitizer tree: the tests that iterate on several threads;
#  4. the libFuzzer harnesses (whole tree under clang), each for a bounded
#     time: VELMORAN_FUZZ_SECONDS per harness (default 60).
set -euo pipefail
cd "$(dirname "$0")/.."

jobs=$(nproc 2>/dev/null || echo 2)

scripts/install-deps.sh

for preset in release sanitize; do
  echo "== $preset: configure, build, test"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  ctest --preset "$preset" -j "$jobs"
done

echo "== tsan: configure, build, test"
cmake --preset tsan >/dev/null
cmake --build --preset tsan -j "$jobs" --target threads_test
ctest --preset tsan -j "$jobs"

echo "== fuzz"
scripts/fuzz.sh "${VELMORAN_FUZZ_SECONDS:-60}"
