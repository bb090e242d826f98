"""The map of velmoran view in Debian's Chromium, headless: it draws (pixels
of the map's colours, not only the background), a click on it selects the
scan of its level nearest in time, a drag zooms (the server bins the new
range) and a double-click goes back, the crosshair reads out, and the CSV
export holds the values /api/map sent. Leaves its screenshot in
VIEW_ARTIFACTS.

Environment: VELMORAN, VELMORAN_MKDATASET, VIEW_ARTIFACTS.
Run with Debian's /usr/bin/python3 (python3-selenium, chromium-driver).
"""
import os
import struct
import tempfile
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By

from page_case import OneRunPage

ARTIFACTS = os.environ.get("VIEW_ARTIFACTS", tempfile.gettempdir())

# Pixels of the map's canvas that are neither transparent, white nor grey.
COLOURED_PIXELS = """
const canvas = document.querySelector('#map canvas');
const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
let coloured = 0;
for (let i = 0; i < data.length; i += 4) {
  const [r, g, b, a] = [data[i], data[i + 1], data[i + 2], data[i + 3]];
  if (a !== 0 && Math.max(r, g, b) - Math.min(r, g, b) > 40) coloured++;
}
return coloured;
"""

GRID = """
const g = window.velmoranView.map.grid;
return g && {width: g.width, height: g.height, rt: g.rt, mz: g.mz, level: g.msLevel};
"""


class MapBrowserTest(OneRunPage):
    RUN = "mapped"
    SEED = 23

    def grid(self):
        return self.driver.execute_script(GRID)

    def test_map_draws_selects_zooms_and_exports(self):
        d = self.driver
        d.get(self.server.url)
        self.wait(lambda: d.execute_script("return window.velmoranReady === true"))
        self.wait(lambda: self.title().startswith("Scan "))
        self.wait(lambda: self.grid() is not None)
        whole = self.grid()
        self.assertEqual(whole["level"], 1)
        self.assertGreater(d.execute_script(COLOURED_PIXELS), 20000)

        canvas = d.find_element(By.ID, "map")
        box = d.execute_script("const a = window.velmoranView.map.area(); return [a.x, a.y, a.w, a.h];")
        left, top = -canvas.size["width"] / 2, -canvas.size["height"] / 2  # offsets from the centre

        def at(fx, fy):
            return left + box[0] + fx * box[2], top + box[1] + fy * box[3]

        # A click three quarters along selects the survey scan nearest that time.
        ActionChains(d).move_to_element_with_offset(canvas, *at(0.75, 0.5)).click().perform()
        rt = whole["rt"][0] + 0.75 * (whole["rt"][1] - whole["rt"][0])
        survey = [s for s in self.expected if s["ms_level"] == 1]
        nearest = min(survey, key=lambda s: abs(s["retention_time_sec"] - rt))
        self.wait(lambda: self.title().startswith("Scan %d · MS1" % nearest["scan_id"]))
        # The crosshair's readout names the place under the cursor.
        readout = d.find_element(By.ID, "map-readout").text
        self.assertRegex(readout, r"^RT \d+\.\d\d s · m/z \d+\.\d{4} · ")

        # A drag over the middle zooms: the server bins the narrower range.
        ActionChains(d).move_to_element_with_offset(canvas, *at(0.25, 0.25)).click_and_hold() \
            .move_to_element_with_offset(canvas, *at(0.5, 0.6)).release().perform()
        self.wait(lambda: self.grid()["rt"] != whole["rt"])
        zoomed = self.grid()
        self.assertGreater(zoomed["rt"][0], whole["rt"][0])
        self.assertLess(zoomed["rt"][1] - zoomed["rt"][0], 0.3 * (whole["rt"][1] - whole["rt"][0]))
        self.assertLess(zoomed["mz"][1] - zoomed["mz"][0], 0.4 * (whole["mz"][1] - whole["mz"][0]))
        self.assertGreater(d.execute_script(COLOURED_PIXELS), 5000)

        # The CSV holds what /api/map sends for that grid, value for value.
        query = "/api/map?width=%d&height=%d&ms_level=1&rt=%r:%r&mz=%r:%r" % (
            zoomed["width"], zoomed["height"], *zoomed["rt"], *zoomed["mz"])
        status, body = self.server.request(query)
        self.assertEqual(status, 200)
        sent = struct.unpack("<%df" % (len(body) // 4), body)
        lines = d.execute_script("return window.velmoranView.map.csv()").splitlines()
        self.assertEqual(len(lines), zoomed["height"] + 1)
        values = [float(v) for line in lines[1:] for v in line.split(",")[1:]]
        self.assertEqual([struct.unpack("<f", struct.pack("<f", v))[0] for v in values], list(sent))
        self.assertEqual(float(lines[0].split(",")[1]), zoomed["rt"][0])
        self.assertEqual(float(lines[-1].split(",")[0]), zoomed["mz"][0])
        # The SVG export is a whole document with the grid in it.
        svg = d.execute_script("return window.velmoranView.map.svg()")
        self.assertTrue(svg.startswith("<svg") and svg.rstrip().endswith("</svg>"))
        self.assertIn("data:image/png;base64,", svg)

        # A double-click goes back to the whole run; the level selector bins
        # the fragment scans.
        ActionChains(d).move_to_element_with_offset(canvas, *at(0.5, 0.5)).double_click().perform()
        self.wait(lambda: self.grid()["rt"] == whole["rt"] and self.grid()["mz"] == whole["mz"])
        d.find_element(By.CSS_SELECTOR, "#map-level option[value='2']").click()
        self.wait(lambda: self.grid()["level"] == 2)
        self.assertGreater(d.execute_script(COLOURED_PIXELS), 100)
        d.save_screenshot(os.path.join(ARTIFACTS, "view_map_browser_test.png"))

        # The zoom and level are kept in the URL's fragment: opening the page
        # with it bins the same range.
        ActionChains(d).move_to_element_with_offset(canvas, *at(0.1, 0.1)).click_and_hold() \
            .move_to_element_with_offset(canvas, *at(0.4, 0.9)).release().perform()
        self.wait(lambda: self.grid()["rt"][0] > whole["rt"][0])
        fragment_zoom = self.grid()
        self.wait(lambda: "map_rt=" in d.execute_script("return location.hash"))
        fragment = d.execute_script("return location.hash")
        self.assertIn("map_level=2", fragment)
        d.get(self.server.url + fragment)
        self.wait(lambda: d.execute_script("return window.velmoranReady === true"))
        self.wait(lambda: self.grid() is not None)
        reopened = self.grid()
        self.assertEqual((reopened["level"], reopened["rt"], reopened["mz"]),
                         (2, fragment_zoom["rt"], fragment_zoom["mz"]))
        errors = [entry for entry in d.get_log("browser") if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])


if __name__ == "__main__":
    unittest.main()
