#!/usr/bin/env bash
# The screenshots of docs/view.md: velmoran view on a generated run in
# headless Chromium, a fragment scan selected and an XIC overlaid, saved as
# docs/view.png (or the path given); the run's RT × m/z map beside it,
# docs/view-map.png (the same path with -map);
# its scan table sorted by TIC, as
# docs/view-table.png (OUT-table.png); and ten generated runs overlaid, one
# hidden and the third selected, as docs/view-runs.png (OUT-runs.png).
#
#   scripts/screenshot-view.sh [--build-dir DIR] [OUT.png]
source "$(dirname "$0")/bench-common.sh"
out=docs/view.png
bench_options "[OUT.png]" '*.png=out' -- "$@"

bench_build velmoran_cli velmoran_mkdataset
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
"$build/tests/velmoran-mkdataset" synth "$work/sample.d" --ms1 80 --ms2 160 --points 6000 \
  --peaks 60 --seed 5 --expect "$work/sample.json" >&2
for i in 0 1 2 3 4 5 6 7 8 9; do
  "$build/tests/velmoran-mkdataset" synth "$work/batch/sample$i.d" --ms1 $((60 + 4 * i)) \
    --ms2 $((120 + 8 * i)) --points 2000 --peaks 40 --seed $((20 + i)) >&2
done

PYTHONPATH=tests/view /usr/bin/python3 - "$build/cli/velmoran" "$work/sample.d" \
  "$work/sample.json" "$out" "$work/batch" <<'PY'
import os
import json
import sys
import time

from browser import chromium
from view_server import ViewServer

velmoran, run, expect, out, batch = sys.argv[1:]
scans = json.load(open(expect))["scans"]
survey = [s for s in scans if s["ms_level"] == 1]
# The survey scan with the most total signal, its base peak, and the first
# fragment scan after it.
loudest = max(survey, key=lambda s: sum(s["intensity"]))
peak = loudest["mz"][loudest["intensity"].index(max(loudest["intensity"]))]
fragment = next(i for i, s in enumerate(scans)
                if s["ms_level"] == 2 and s["retention_time_sec"] > loudest["retention_time_sec"])

server = ViewServer(velmoran, run)
driver = chromium(1280, 900)
try:
    driver.get(server.url)
    while not driver.execute_script("return window.velmoranReady === true"):
        time.sleep(0.05)
    driver.execute_async_script(
        "const [i, done] = arguments; window.velmoranView.select(i).then(done);", fragment)
    driver.find_element("id", "xic-mz").send_keys("%.4f" % peak)
    driver.find_element("css selector", "#xic-form button[type=submit]").click()
    while "XIC" not in driver.find_element("id", "xic-status").text:
        time.sleep(0.05)
    time.sleep(0.3)
    driver.save_screenshot(out)
    # The map, with the fragment scan still selected.
    driver.execute_async_script(
        "const done = arguments[0]; window.velmoranView.mapLoaded.then(() => done(0));")
    panel = driver.find_element("id", "map-panel")
    driver.execute_script("arguments[0].scrollIntoView()", panel)
    time.sleep(0.3)
    panel.screenshot(out[:-len(".png")] + "-map.png")

    # The table, sorted by TIC (highest first), the fragment scan selected.
    tic = driver.find_element("xpath", "//table[@id='scans']//th[normalize-space(.)='TIC']/button")
    tic.click()
    tic.click()
    driver.execute_async_script(
        "const [i, done] = arguments; window.velmoranView.select(i).then(done);", fragment)
    # The table, in a window of its height.
    driver.set_window_size(1280, 860)
    driver.execute_script("document.getElementById('scans-panel').scrollIntoView()")
    time.sleep(0.3)
    table_out = out[:-len(".png")] + "-table.png"
    driver.save_screenshot(table_out)
    print("wrote " + table_out)
finally:
    driver.quit()
    server.stop()
print("wrote " + out + " and " + out[:-len(".png")] + "-map.png")

# Ten runs: their TICs overlaid, the second hidden, the third selected.
runs = sorted(os.path.join(batch, name) for name in os.listdir(batch))
server = ViewServer(velmoran, *runs)
driver = chromium(1280, 760)
try:
    driver.get(server.url + "#run=2&hide=1")
    while driver.execute_script("return window.velmoranOverlay?.length ?? 0") < len(runs):
        time.sleep(0.05)
    time.sleep(0.3)
    runs_out = out[:-len(".png")] + "-runs.png"
    driver.save_screenshot(runs_out)
finally:
    driver.quit()
    server.stop()
print("wrote " + runs_out)
PY
