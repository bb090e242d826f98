#!/usr/bin/env bash
# The main job and scripts/convert.sh on a machine without Node.js: with no
# node or npm on PATH and the npm registry unreachable, scripts/demo.sh
# builds what it needs (in BUILD_DIR) and reads the example run, and
# scripts/convert.sh converts it with the program built there; that program
# answers `velmoran view` with exit 1 and one line saying how to get the
# page.
#
#   demo_without_node.sh BUILD_DIR
set -euo pipefail
here=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m "$1")
fail() { echo "FAIL: $*"; exit 1; }

# PATH: a folder of links to every program on the caller's PATH but those
# of Node.js.
bin=$build-path
rm -rf "$bin"
mkdir -p "$bin" "$build"
IFS=: read -ra dirs <<<"$PATH"
for dir in "${dirs[@]}"; do
  [[ -d $dir ]] || continue
  for program in "$dir"/*; do
    name=${program##*/}
    case $name in node | nodejs | npm | npx | corepack) continue ;; esac
    [[ -x $program && ! -d $program && ! -e $bin/$name ]] && ln -s "$program" "$bin/$name"
  done
done
export PATH=$bin
# Should anything still call npm, it meets no registry.
export npm_config_registry=http://127.0.0.1:9/
export VELMORAN_DEMO_BUILD_DIR=$build
# Debian's interpreter, as on a fresh machine.
export PYTHON=/usr/bin/python3
! command -v node && ! command -v npm || fail "node or npm is still on PATH"

out=$build/demo.out
"$here/scripts/demo.sh" >"$out" 2>"$build/demo.err" ||
  { tail -n 30 "$build/demo.err"; fail "scripts/demo.sh failed"; }
cat "$out"
grep -qxF "VELMORAN_BUILD_VIEWER_ASSETS:BOOL=OFF" "$build/CMakeCache.txt" ||
  fail "the main job's build embeds the viewer's page"
[[ ! -e $build/view/npm/node_modules ]] || fail "npm ran in the main job's build"
# The summary of the example run: 300 MS1 and 900 MS2 scans.
grep -q "1200 scans" "$out" || fail "the summary does not show the example run's 1200 scans"

run=$build/example-run.d
"$here/scripts/convert.sh" "$run" -o "$build/example-run.mzML" -q 2>"$build/convert.err" ||
  { cat "$build/convert.err"; fail "scripts/convert.sh failed"; }
[[ $(grep -c "<spectrum " "$build/example-run.mzML") -eq 1200 ]] ||
  fail "the converted example run does not hold 1200 spectra"

status=0
"$build/cli/velmoran" view "$run" --no-open >"$build/view.out" 2>"$build/view.err" || status=$?
cat "$build/view.err"
[[ $status -eq 1 ]] || fail "velmoran view exited $status, not 1"
[[ ! -s $build/view.out && $(wc -l <"$build/view.err") -eq 1 ]] ||
  fail "velmoran view should say one line on standard error and nothing else"
grep -q "scripts/install-deps.sh view" "$build/view.err" || fail "the line does not say how to get the page"
echo "demo without Node.js: example run read and converted, velmoran view says how to get its page"
