"""velmoran view in Debian's Chromium, headless, driven by Selenium: the page
loads without a console error under the server's Content-Security-Policy,
takes its token out of the address bar, draws both charts, a click on the
chromatogram and the arrow keys change the spectrum, and the XIC box adds
a series. Leaves its screenshot in VIEW_ARTIFACTS (the build tree).

Environment: VELMORAN, VELMORAN_MKDATASET, VIEW_ARTIFACTS.
Run with Debian's /usr/bin/python3 (python3-selenium, chromium-driver).
"""
import os
import tempfile
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys

from page_case import OneRunPage

ARTIFACTS = os.environ.get("VIEW_ARTIFACTS", tempfile.gettempdir())


# Pixels drawn on a chart's canvas (not transparent).
DRAWN_PIXELS = """
const canvas = document.querySelector(arguments[0] + ' canvas');
if (!canvas) return 0;
const data = canvas.getContext('2d').getImageData(0, 0, canvas.width, canvas.height).data;
let drawn = 0;
for (let i = 3; i < data.length; i += 4) if (data[i] !== 0) drawn++;
return drawn;
"""


class BrowserTest(OneRunPage):
    RUN = "browser"
    SEED = 21

    def test_page_charts_selection_and_xic(self):
        d = self.driver
        d.get(self.server.url)
        self.wait(lambda: d.execute_script("return window.velmoranReady === true"))
        self.wait(lambda: self.title().startswith("Scan "))
        # Under the server's Content-Security-Policy (no console error below),
        # with the token gone from the address bar and the history entry.
        self.assertEqual(d.current_url, "http://%s/" % self.server.host)

        # Both charts drawn, the first scan's spectrum shown, no console error.
        self.assertGreater(d.execute_script(DRAWN_PIXELS, "#chromatogram"), 1000)
        self.assertGreater(d.execute_script(DRAWN_PIXELS, "#spectrum"), 1000)
        first = self.expected[0]
        self.assertTrue(self.title().startswith("Scan %d · MS1" % first["scan_id"]), self.title())
        self.assertIn("profile, %s points" % format(len(first["mz"]), ","), self.title())
        self.assertEqual(d.find_element(By.ID, "run-name").text, "browser.d")

        # A click two thirds along the chromatogram selects a survey scan there.
        over = d.find_element(By.CSS_SELECTOR, "#chromatogram .u-over")
        before = self.title()
        ActionChains(d).move_to_element_with_offset(over, over.size["width"] // 6, 0).click().perform()
        self.wait(lambda: self.title() != before)
        self.assertIn("· MS1 ·", self.title())
        clicked = int(self.title().split()[1])
        self.assertGreater(clicked, self.expected[len(self.expected) // 2]["scan_id"])

        # The right arrow steps to the next scan of the table, a fragment scan here.
        position = next(i for i, s in enumerate(self.expected) if s["scan_id"] == clicked)
        following = self.expected[position + 1]
        d.find_element(By.TAG_NAME, "body").send_keys(Keys.ARROW_RIGHT)
        self.wait(lambda: self.title().startswith("Scan %d · MS2" % following["scan_id"]))
        self.assertIn("precursor m/z %.4f" % following["precursor_mz"], self.title())
        self.assertIn("centroid", self.title())

        # The XIC box overlays one series per m/z on the chromatogram.
        series = lambda: len(d.find_elements(By.CSS_SELECTOR, "#chromatogram .u-legend .u-series"))
        self.assertEqual(series(), 2)
        survey = [s for s in self.expected if s["ms_level"] == 1]
        loudest = max(survey, key=lambda s: max(s["intensity"]))
        peak = loudest["mz"][loudest["intensity"].index(max(loudest["intensity"]))]
        d.find_element(By.ID, "xic-mz").send_keys("%.4f, 1234.5" % peak)
        d.find_element(By.CSS_SELECTOR, "#xic-form button[type=submit]").click()
        self.wait(lambda: series() == 4)
        self.assertIn("2 XICs", d.find_element(By.ID, "xic-status").text)

        d.save_screenshot(os.path.join(ARTIFACTS, "view_browser_test.png"))
        errors = [entry for entry in d.get_log("browser") if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])


if __name__ == "__main__":
    unittest.main()
