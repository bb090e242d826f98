"""velmoran view of an MRM run with a transition list, in Debian's Chromium
(headless, Selenium): the channel list shows every channel with its name
and Q1/Q3 from the list (read here with csv), a channel's check box hides
its trace, the scan title names the channel; /api/chromatograms and
/api/spectrum against the generator's expected spectra.

Environment: VELMORAN, VELMORAN_MKDATASET, VIEW_ARTIFACTS.
Run with Debian's /usr/bin/python3 (python3-selenium, chromium-driver).
"""
import csv
import json
import math
import os
import tempfile
import unittest

from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from browser import chromium
from view_server import ViewServer, make_run, velmoran_from_env

VELMORAN, MKDATASET = velmoran_from_env()
ARTIFACTS = os.environ.get("VIEW_ARTIFACTS", tempfile.gettempdir())

DRAWN_PIXELS = """
const canvas = document.querySelector(arguments[0] + ' canvas');
if (!canvas) return 0;
const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
let drawn = 0;
for (let i = 3; i < data.length; i += 4) if (data[i] !== 0) drawn++;
return drawn;
"""

# Pixels of the chromatogram's trace colour (#1f6feb).
TRACE_PIXELS = """
const canvas = document.querySelector(arguments[0] + ' canvas');
const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
let drawn = 0;
for (let i = 0; i < data.length; i += 4) {
  if (Math.abs(data[i] - 31) < 40 && Math.abs(data[i + 1] - 111) < 40 && data[i + 2] > 190) drawn++;
}
return drawn;
"""


class MrmViewTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        run = os.path.join(cls.tmp.name, "mrm.d")
        expect = os.path.join(cls.tmp.name, "mrm.json")
        listing = os.path.join(cls.tmp.name, "list.csv")
        make_run(MKDATASET, run, "mrm", "--layout", "196", "--scans", "120", "--seed", "4",
                 "--expect", expect, "--transitions", listing)
        with open(expect) as f:
            cls.expected = json.load(f)["scans"]
        with open(listing, newline="") as f:
            cls.rows = {int(r["channel"]): r for r in csv.DictReader(f)}
        cls.server = ViewServer(VELMORAN, run, "--transitions", listing)
        cls.driver = None

    @classmethod
    def tearDownClass(cls):
        if cls.driver:
            cls.driver.quit()
        code, _, err = cls.server.stop()
        cls.tmp.cleanup()
        assert code == 0, err

    def api(self, path):
        status, body = self.server.request(path)
        self.assertEqual(status, 200, body)
        return json.loads(body)

    def test_api_rows_and_spectrum_channel(self):
        rows = self.api("/api/chromatograms")
        want = sorted(((s["mrm_channel"], i, s["retention_time_sec"], math.fsum(s["intensity"]))
                       for i, s in enumerate(self.expected) if s["ms_level"] >= 2))
        self.assertEqual([(r["channel"], r["index"], r["rt_sec"]) for r in rows],
                         [w[:3] for w in want])
        for row, (_, _, _, intensity) in zip(rows, want):
            self.assertAlmostEqual(row["intensity"], intensity, delta=1e-12 * intensity)
            self.assertEqual(row["q1"], float(self.rows[row["channel"]]["precursor_mz"]))
        for index in (0, 9):
            spectrum = self.api(f"/api/spectrum/{index}")
            self.assertEqual(spectrum["mrm_channel"], self.expected[index]["mrm_channel"])

    def test_channel_list_and_toggle(self):
        d = type(self).driver = chromium()
        wait = lambda condition: WebDriverWait(d, 20).until(lambda _: condition())
        d.get(self.server.url)
        wait(lambda: d.execute_script("return window.velmoranChannels !== undefined"))
        channels = d.execute_script("return window.velmoranChannels")
        self.assertEqual([c["channel"] for c in channels], sorted(self.rows))
        items = d.find_elements(By.CSS_SELECTOR, "#channel-list li")
        self.assertEqual(len(items), len(self.rows))
        for item, channel in zip(items, sorted(self.rows)):
            row = self.rows[channel]
            self.assertIn(f"channel {channel}", item.text)
            self.assertIn(row["name"], item.text)
            self.assertIn(f"{float(row['precursor_mz']):.4f} → {float(row['product_mz']):.4f}",
                          item.text)
        wait(lambda: d.find_element(By.ID, "spectrum-title").text.startswith("Scan "))
        self.assertIn("channel %d" % self.expected[0]["mrm_channel"],
                      d.find_element(By.ID, "spectrum-title").text)

        drawn = d.execute_script(DRAWN_PIXELS, "#channel-chart")
        self.assertGreater(drawn, 500)
        box = d.find_element(By.CSS_SELECTOR, "#channel-list input[data-channel='1']")
        box.click()
        wait(lambda: not d.execute_script("return window.velmoranChannels[0].shown"))
        self.assertLess(d.execute_script(DRAWN_PIXELS, "#channel-chart"), drawn)
        box.click()
        wait(lambda: d.execute_script("return window.velmoranChannels[0].shown"))

        # An XIC of a fragment scan's highest point finds it at MS2, the
        # level the box offers beside MS1.
        fragment = next(s for s in self.expected if s["ms_level"] == 2 and s["intensity"])
        top = max(range(len(fragment["intensity"])), key=fragment["intensity"].__getitem__)
        levels = [o.get_attribute("value") for o in
                  d.find_elements(By.CSS_SELECTOR, "#xic-level option")]
        self.assertEqual(levels, sorted({str(s["ms_level"]) for s in self.expected}))
        d.find_element(By.ID, "xic-mz").send_keys(repr(fragment["mz"][top]))
        d.find_element(By.CSS_SELECTOR, "#xic-level option[value='2']").click()
        d.find_element(By.CSS_SELECTOR, "#xic-form button[type=submit]").click()
        wait(lambda: "at MS2" in d.find_element(By.ID, "xic-status").text)
        self.assertNotIn("highest 0", d.find_element(By.ID, "xic-status").text)
        # The chromatogram is redrawn as the MS2 trace (its blue line), not left empty.
        self.assertGreater(d.execute_script(TRACE_PIXELS, "#chromatogram"), 200)

        d.save_screenshot(os.path.join(ARTIFACTS, "view_mrm_browser_test.png"))
        errors = [entry for entry in d.get_log("browser") if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])


if __name__ == "__main__":
    unittest.main()
