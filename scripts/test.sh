#!/usr/bin/env bash
# Runs every test: installs what a fresh Debian machine lacks, then builds
# and tests the release tree (C++ tests, Python tests under every CPython
# 3.9+ found, examples, the installed-package consumer) and the
# AddressSanitizer/UndefinedBehaviorSanitizer tree.
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
