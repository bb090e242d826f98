#!/usr/bin/env bash
# The screenshot of docs/qc.md: the report of `velmoran qc --report` on a
# generated batch of six runs, one whose spray fails halfway, in headless
# Chromium, saved as docs/qc.png (or the path given).
#
#   scripts/screenshot-qc.sh [--build-dir DIR] [OUT.png]
source "$(dirname "$0")/bench-common.sh"
out=docs/qc.png
bench_options "[OUT.png]" '*.png=out' -- "$@"

bench_build velmoran_cli velmoran_mkdataset
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
for i in 1 2 3 4 5; do
  "$build/tests/velmoran-mkdataset" synth "$work/sample$i.d" --ms1 60 --ms2 120 --points 3000 \
    --peaks 60 --seed "$i" >/dev/null
done
"$build/tests/velmoran-mkdataset" synth "$work/failed_spray.d" --ms1 60 --ms2 120 --points 3000 \
  --peaks 60 --seed 6 --spray-fails >/dev/null
"$build/cli/velmoran" qc "$work"/*.d -o "$work/batch.mzQC" --report "$work/report.html" || true

PYTHONPATH=tests/view /usr/bin/python3 - "$work/report.html" "$out" <<'PY'
import sys

from browser import chromium

report, out = sys.argv[1:]
driver = chromium(1280, 1500)
try:
    driver.get("file://" + report)
    driver.save_screenshot(out)
finally:
    driver.quit()
print(out)
PY
