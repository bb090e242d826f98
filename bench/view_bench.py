"""Speed of velmoran view on a run, in headless Chromium on this machine:

  ready      navigation to window.velmoranReady (the chromatogram drawn), ms
  switch     selecting a scan not yet fetched until its spectrum is drawn, ms
             (the profile scans of 20,000 points, and the centroid scans)
  xic        /api/xic with 10 targets against `velmoran xic` with the same
             targets (hyperfine, side by side: curl against the program)
  memory     the server's resident memory before and after a client walks
             through every spectrum, and its peak
  map        /api/map of the whole run (1,000 × 600; the first one reads
             every scan) and of zoomed ranges, timed by a client on the
             same machine, beside the yardstick of `velmoran info` (one
             pass that decodes every spectrum); the page's painting of a
             grid once it has arrived

  /usr/bin/python3 bench/view_bench.py VELMORAN RUN.d [--loads N] [--switches N]

With --table, only the first paint of RUN.d with its scan table (navigation
until both the chromatogram and the table are drawn); with --overlay
RUN.d ..., only the overlay of those runs' chromatograms (navigation until
every run's trace is drawn):

  /usr/bin/python3 bench/view_bench.py VELMORAN RUN.d --table [--loads N]
  /usr/bin/python3 bench/view_bench.py VELMORAN RUN.d --overlay RUN.d ... [--loads N]

Run by scripts/bench-view.sh, which makes the 3,000-scan run.
"""
import argparse
import json
import os
import random
import statistics
import subprocess
import sys
import tempfile
import time

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "view"))
from view_server import ViewServer, xic_query  # noqa: E402
from browser import chromium  # noqa: E402

SELECT = """
const [index, done] = arguments;
const t0 = performance.now();
window.velmoranView.select(index).then(() => done(performance.now() - t0));
"""

TARGETS = [100.0 + 150.0 * i + 0.1234 for i in range(10)]


def status_kib(pid, key):
    with open("/proc/%d/status" % pid) as f:
        for line in f:
            if line.startswith(key + ":"):
                return int(line.split()[1])
    return 0


def summary(values):
    return "median %.1f, min %.1f, max %.1f (n=%d)" % (
        statistics.median(values), min(values), max(values), len(values))


def first_paint(args):
    """Navigation until the page is drawn: the chromatogram and the table of
    the first run, and with several runs the overlay of all of them."""
    runs = [args.run, *args.overlay]
    server = ViewServer(args.velmoran, *runs)
    driver = chromium()
    drawn = ("return window.velmoranOverlayMs ?? null" if args.overlay else
             "return window.velmoranReady === true && window.velmoranTableMs !== undefined"
             " ? Math.max(window.velmoranReadyMs, window.velmoranTableMs) : null")
    times = []
    try:
        scans = json.loads(server.request("/api/scans")[1])
        for _ in range(args.loads):
            driver.get(server.url)
            value = None
            while value is None:
                value = driver.execute_script(drawn)
            times.append(value)
    finally:
        driver.quit()
        code, _, err = server.stop()
    what = ("overlay of %d runs' chromatograms" % len(runs) if args.overlay
            else "chromatogram and table of %d scans" % len(scans))
    print("%s (navigation until drawn), ms: %s" % (what, summary(times)))
    assert code == 0, err


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("velmoran")
    parser.add_argument("run")
    parser.add_argument("--loads", type=int, default=7)
    parser.add_argument("--switches", type=int, default=30)
    parser.add_argument("--table", action="store_true")
    parser.add_argument("--overlay", nargs="+", default=[])
    args = parser.parse_args()
    if args.table or args.overlay:
        return first_paint(args)

    server = ViewServer(args.velmoran, args.run)
    driver = chromium()
    try:
        scans = json.loads(server.request("/api/scans")[1])
        ready = []
        for _ in range(args.loads):
            driver.get(server.url)
            driver.execute_script("return 0")
            while not driver.execute_script("return window.velmoranReady === true"):
                pass
            ready.append(driver.execute_script("return window.velmoranReadyMs"))
        # Wait for the first scan's spectrum, then switch to scans never fetched.
        driver.execute_async_script(SELECT, 0)
        profile = [s["index"] for s in scans if s["representation"] == "profile"][1:]
        centroid = [s["index"] for s in scans if s["representation"] == "centroid"][1:]
        step = max(1, len(profile) // args.switches)
        profile_ms = [driver.execute_async_script(SELECT, i) for i in profile[::step][:args.switches]]
        step = max(1, len(centroid) // args.switches)
        centroid_ms = [driver.execute_async_script(SELECT, i) for i in centroid[::step][:args.switches]]
        points = max(s["points"] for s in scans if s["representation"] == "profile")
        print("ready (navigation to velmoranReady), ms: " + summary(ready))
        print("switch to a profile spectrum (%d points), ms: %s" % (points, summary(profile_ms)))
        print("switch to a centroid spectrum, ms: " + summary(centroid_ms))
        driver.execute_async_script(
            "const done = arguments[0]; window.velmoranView.mapLoaded.then(() => done(0));")
        paint = []
        for _ in range(10):
            paint.append(driver.execute_async_script(
                "const done = arguments[0]; const m = window.velmoranView.map;"
                "m.load().then(() => done(m.drawMs));"))
        grid = driver.execute_script("const g = window.velmoranView.map.grid; return [g.width, g.height];")
        print("map painted once its grid (%d × %d) arrived, ms: %s" % (grid[0], grid[1], summary(paint)))
    finally:
        driver.quit()

    # /api/xic against the command, side by side.
    query = xic_query(TARGETS, 10)
    mz_args = " ".join("--mz %r" % m for m in TARGETS)
    with tempfile.TemporaryDirectory() as tmp:
        results = os.path.join(tmp, "xic.json")
        subprocess.run(
            ["hyperfine", "-N", "-w", "3", "-r", "20", "--export-json", results,
             "-n", "api", "curl -s -o /dev/null -H 'X-Velmoran-Token: %s' 'http://%s%s'"
             % (server.token, server.host, query),
             "-n", "command", "%s xic %s %s --ppm 10 --format json -o /dev/null"
             % (args.velmoran, args.run, mz_args)],
            check=True, stdout=subprocess.DEVNULL)
        with open(results) as f:
            times = {r["command"]: r for r in json.load(f)["results"]}
    api, command = times["api"]["median"], times["command"]["median"]
    print("xic, 10 targets: /api/xic %.1f ms, velmoran xic %.1f ms (medians), ratio %.2f"
          % (api * 1000, command * 1000, api / command))

    map_bench(args.velmoran, args.run, scans)

    # Memory while a client walks through every spectrum.
    pid = server.process.pid
    before = status_kib(pid, "VmRSS")
    for index in range(len(scans)):
        status, _ = server.request("/api/spectrum/%d" % index)
        assert status == 200, status
    after = status_kib(pid, "VmRSS")
    peak = status_kib(pid, "VmHWM")
    print("memory walking %d spectra: RSS %.0f MiB before, %.0f MiB after, peak %.0f MiB"
          % (len(scans), before / 1024, after / 1024, peak / 1024))
    code, _, err = server.stop()
    assert code == 0, err


def timed(server, path):
    t0 = time.perf_counter()
    status, body = server.request(path)
    assert status == 200, body
    return (time.perf_counter() - t0) * 1000


def map_bench(velmoran, run, scans):
    """/api/map on a fresh server: the first grid, then the whole run and
    zoomed ranges again, beside one decoding pass of `velmoran info`."""
    info = []
    for _ in range(5):
        t0 = time.perf_counter()
        subprocess.run([velmoran, "info", run], check=True, stdout=subprocess.DEVNULL)
        info.append((time.perf_counter() - t0) * 1000)
    server = ViewServer(velmoran, run)
    try:
        first = timed(server, "/api/map?width=1000&height=600")
        whole = [timed(server, "/api/map?width=1000&height=600") for _ in range(20)]
        times = sorted(s["rt_sec"] for s in scans if s["ms_level"] == 1)
        rng = random.Random(7)
        zoomed = []
        for _ in range(20):
            start = rng.randrange(0, len(times) - 100)
            low = rng.uniform(100, 1500)
            zoomed.append(timed(server, "/api/map?width=1000&height=600&rt=%r:%r&mz=%r:%r"
                                % (times[start], times[start + 100], low, low + 100)))
        fragments = [timed(server, "/api/map?width=1000&height=600&ms_level=2") for _ in range(5)]
        rss = status_kib(server.process.pid, "VmRSS")
    finally:
        server.stop()
    print("yardstick, velmoran info (one pass decoding every spectrum), ms: " + summary(info))
    print("map 1000 × 600 of the whole run, the first (every scan read), ms: %.1f" % first)
    print("map 1000 × 600 of the whole run, again, ms: " + summary(whole))
    print("map 1000 × 600 of 100 scans × 100 m/z, ms: " + summary(zoomed))
    print("map 1000 × 600 of the fragment scans, ms: " + summary(fragments))
    print("server memory after the maps: RSS %.0f MiB" % (rss / 1024))


if __name__ == "__main__":
    main()
