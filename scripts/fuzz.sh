#!/usr/bin/env bash
# Builds the libFuzzer harnesses (the fuzz preset: clang, RelWithDebInfo,
# AddressSanitizer and UndefinedBehaviorSanitizer) and runs each of them for
# a bounded time, starting from the seeds our dataset writer makes, the kept
# regression inputs (fuzz/regressions/<target>/) and the corpus that earlier
# runs grew. Fails if any harness crashes, breaks an invariant, leaks, takes
# more than 10 s on one input or more than 2 GiB of memory; the input that
# did it is left in <build>/fuzz-artifacts/<target>/.
#
# Usage: scripts/fuzz.sh [SECONDS_PER_HARNESS]   (default 60)
# VELMORAN_FUZZ_BUILD_DIR: build directory (default build/fuzz, the preset's)
# The dataset harness writes a small dataset for every input: it does so in
# a memory file system when there is one (/dev/shm), many times faster than
# on disk, unless TMPDIR names another place.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
build=${VELMORAN_FUZZ_BUILD_DIR:-build/fuzz}
jobs=$(nproc 2>/dev/null || echo 2)
targets=(msscan lzf peak profile dataset export)
if [[ -z ${TMPDIR:-} && -d /dev/shm && -w /dev/shm ]]; then
  export TMPDIR=/dev/shm
fi

# The whole tree is built, not only the harnesses: the project must build
# warning-free under clang too.
echo "== fuzz: configure and build in $build"
cmake --preset fuzz -B "$build" >/dev/null
cmake --build "$build" -j "$jobs"

corpus="$build/fuzz-corpus"
seeds="$build/fuzz-seeds"
artifacts="$build/fuzz-artifacts"
logs="$build/fuzz-logs"
rm -rf "$seeds"
mkdir -p "$corpus" "$artifacts" "$logs"
"$build/fuzz/velmoran_fuzz_seeds" "$seeds"

failed=()
passed=()
summary=()
for target in "${targets[@]}"; do
  mkdir -p "$corpus/$target" "$artifacts/$target"
  inputs=("$corpus/$target" "$seeds/$target")
  [[ -d fuzz/regressions/$target ]] && inputs+=("fuzz/regressions/$target")
  log="$logs/$target.log"
  echo "== fuzz: $target for ${seconds}s"
  status=0
  "$build/fuzz/fuzz_$target" -max_total_time="$seconds" -rss_limit_mb=2048 -timeout=10 \
    -print_final_stats=1 -artifact_prefix="$artifacts/$target/" "${inputs[@]}" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -n 1)
  if ((status != 0)); then
    failed+=("$target")
    summary+=("$(printf '%-8s FAILED (exit %d), see %s' "$target" "$status" "$log")")
    tail -n 40 "$log"
  elif [[ -z $runs ]]; then
    failed+=("$target")
    summary+=("$(printf '%-8s FAILED (no final statistics), see %s' "$target" "$log")")
  else
    passed+=("$target")
    summary+=("$(printf '%-8s %12s executions  %8s exec/s' "$target" "${runs:-?}" "${speed:-?}")")
  fi
done

echo "== fuzz: summary (${seconds}s per harness)"
printf '%s\n' "${summary[@]}"
# The count scripts/test.sh adds up: a harness passed when it exited cleanly
# and reported its final statistics.
echo "fuzz: ${#passed[@]} passed, ${#failed[@]} failed"
if ((${#failed[@]})); then
  echo "fuzz: failing harnesses: ${failed[*]}; inputs in $artifacts" >&2
  exit 1
fi
