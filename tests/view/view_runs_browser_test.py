"""velmoran view with several runs in Debian's Chromium, headless: the
overlay draws one trace per run and its legend hides one; the selector
switches the run shown (table, chromatogram, spectrum); a run's name with
markup in it is shown as text. The scan table draws only the rows in view,
sorts by a header (a second click reverses), filters by level, a click on a
row selects its scan and the selected row follows the arrow keys.

Environment: VELMORAN, VELMORAN_MKDATASET, VIEW_ARTIFACTS.
Run with Debian's /usr/bin/python3 (python3-selenium, chromium-driver).
"""
import json
import os
import tempfile
import unittest

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import Select, WebDriverWait

from browser import chromium
from view_server import ViewServer, make_run, velmoran_from_env

VELMORAN, MKDATASET = velmoran_from_env()
ARTIFACTS = os.environ.get("VIEW_ARTIFACTS", tempfile.gettempdir())
HOSTILE = "<img src=x onerror=window.pwned=1>.d"

ROWS = "return [...document.querySelectorAll('#scans tbody tr[data-index]')].map(r => Number(r.dataset.index))"
SELECTED_ROW = "return document.querySelector('#scans tr.selected')?.dataset.index ?? null"


class RunsBrowserTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.paths = []
        for name, args in (("big.d", ["--ms1", "200", "--ms2", "400", "--points", "200", "--peaks", "10"]),
                           ("small.d", ["--ms1", "10", "--ms2", "20", "--points", "300", "--peaks", "12"]),
                           (HOSTILE, ["--ms1", "4", "--ms2", "4", "--points", "100", "--peaks", "5"])):
            path = os.path.join(cls.tmp.name, name)
            make_run(MKDATASET, path, "synth", *args, "--seed", str(len(cls.paths) + 41))
            cls.paths.append(path)
        cls.server = ViewServer(VELMORAN, *cls.paths)
        cls.scans = [json.loads(cls.server.request("/api/run/%d/scans" % k)[1]) for k in range(3)]
        cls.driver = chromium(1280, 1400)

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        code, _, err = cls.server.stop()
        cls.tmp.cleanup()
        assert code == 0, err

    def wait(self, condition, timeout=20):
        return WebDriverWait(self.driver, timeout).until(lambda d: condition())

    def js(self, script, *args):
        return self.driver.execute_script(script, *args)

    def title(self):
        return self.driver.find_element(By.ID, "spectrum-title").text

    def assertRowsAreASliceOf(self, order):
        rows = self.js(ROWS)
        start = order.index(rows[0])
        self.assertEqual(rows, order[start:start + len(rows)])
        self.assertIn(0, rows)

    def test_overlay_selector_and_table(self):
        d = self.driver
        d.get(self.server.url)
        self.wait(lambda: self.js("return window.velmoranReady === true && !!window.velmoranOverlay"))
        self.wait(lambda: self.title().startswith("Scan "))

        # One trace per run, each named by its run, its highest the run's
        # highest MS1 TIC; normalised, 100 each. The legend hides one.
        overlay = self.js("return window.velmoranOverlay")
        self.assertEqual([(s["run"], s["label"], s["shown"], s["highest"]) for s in overlay],
                         [(k, os.path.basename(p), True, max(s["tic"] for s in self.scans[k] if s["ms_level"] == 1))
                          for k, p in enumerate(self.paths)])
        d.find_element(By.ID, "overlay-normalise").click()
        self.assertEqual([s["highest"] for s in self.js("return window.velmoranOverlay")], [100, 100, 100])
        d.find_element(By.ID, "overlay-normalise").click()
        d.find_element(By.CSS_SELECTOR, "#run-legend input[data-run='1']").click()
        self.assertEqual([s["shown"] for s in self.js("return window.velmoranOverlay")], [True, False, True])

        # The hostile name is text in the selector and the legend, never markup.
        options = [o.text for o in Select(d.find_element(By.ID, "run-select")).options]
        self.assertEqual(options, ["0: big.d", "1: small.d", "2: " + HOSTILE])
        self.assertIn(HOSTILE, d.find_element(By.ID, "run-legend").text)
        self.assertEqual(self.js("return [document.querySelectorAll('img').length, window.pwned ?? null]"),
                         [0, None])

        # The table of 600 scans holds only the rows in view.
        big = self.scans[0]
        rows = self.js(ROWS)
        self.assertEqual(rows[:5], [0, 1, 2, 3, 4])
        self.assertLess(len(rows), 80)
        self.assertEqual(d.find_element(By.ID, "scan-count").text, "600 scans")

        # A click on the TIC header sorts by TIC, a second reverses; the
        # rows drawn are those around the selected scan (0), in that order.
        header = d.find_element(By.XPATH, "//table[@id='scans']//th[normalize-space(.)='TIC']/button")
        by_tic = [s["index"] for s in sorted(big, key=lambda s: (s["tic"], s["index"]))]
        header.click()
        self.assertRowsAreASliceOf(by_tic)
        header.click()
        by_tic_down = [s["index"] for s in sorted(big, key=lambda s: (-s["tic"], s["index"]))]
        self.assertRowsAreASliceOf(by_tic_down)
        self.assertEqual(header.find_element(By.XPATH, "..").get_attribute("aria-sort"), "descending")

        # A click on a row selects its scan; the arrow keys (table order)
        # move the selected row, scrolled into view.
        shown = self.js(ROWS)  # around the middle: in view, not in the rows drawn beyond it
        target = next(i for i in shown[len(shown) // 2:] if 0 < i < len(big) - 1)
        d.find_element(By.CSS_SELECTOR, "#scans tr[data-index='%d'] td" % target).click()
        self.wait(lambda: self.title().startswith("Scan %d " % big[target]["scan_id"]))
        self.assertEqual(self.js(SELECTED_ROW), str(target))
        d.find_element(By.TAG_NAME, "body").send_keys(Keys.ARROW_RIGHT)
        self.wait(lambda: self.title().startswith("Scan %d " % big[target + 1]["scan_id"]))
        self.assertEqual(self.js(SELECTED_ROW), str(target + 1))
        # ↓ in the focused table steps to the next row as sorted.
        d.find_element(By.ID, "scans-scroll").send_keys(Keys.ARROW_DOWN)
        after = by_tic_down[by_tic_down.index(target + 1) + 1]
        self.wait(lambda: self.js(SELECTED_ROW) == str(after))
        self.wait(lambda: self.title().startswith("Scan %d " % big[after]["scan_id"]))
        # A scan far down the table (by the script API) scrolls its row into view.
        self.js("return window.velmoranView.select(arguments[0])", by_tic_down[500])
        self.wait(lambda: self.js(SELECTED_ROW) == str(by_tic_down[500]))

        # The level filter keeps the MS2 scans only.
        Select(d.find_element(By.ID, "scan-level")).select_by_visible_text("MS2")
        self.assertEqual(d.find_element(By.ID, "scan-count").text, "400 of 600 scans")
        self.assertTrue(all(big[i]["ms_level"] == 2 for i in self.js(ROWS)))
        # A precursor range keeps the scans whose precursor lies in it.
        d.find_element(By.ID, "scan-precursor-min").send_keys("500")
        d.find_element(By.ID, "scan-precursor-max").send_keys("900.5")
        inside = [s for s in big if s["precursor_mz"] is not None and 500 <= s["precursor_mz"] <= 900.5]
        self.wait(lambda: d.find_element(By.ID, "scan-count").text == "%d of 600 scans" % len(inside))
        for box in ("scan-precursor-min", "scan-precursor-max"):
            d.find_element(By.ID, box).send_keys(Keys.BACKSPACE * 8)
        self.wait(lambda: d.find_element(By.ID, "scan-count").text == "400 of 600 scans")

        # An XIC is extracted in every run: one more trace per run, on the page's level.
        d.find_element(By.ID, "xic-mz").send_keys("500.25")
        d.find_element(By.CSS_SELECTOR, "#xic-form button[type=submit]").click()
        self.wait(lambda: len(self.js("return window.velmoranOverlay")) == 6)
        self.assertEqual([(s["run"], s["label"]) for s in self.js("return window.velmoranOverlay")[3:]],
                         [(k, os.path.basename(p) + " XIC 500.25") for k, p in enumerate(self.paths)])

        # The page's log axis draws the overlay again, every trace still there.
        Select(d.find_element(By.ID, "axis-mode")).select_by_value("log")
        self.assertEqual(len(self.js("return window.velmoranOverlay")), 6)
        Select(d.find_element(By.ID, "axis-mode")).select_by_value("linear")

        errors = [entry for entry in d.get_log("browser") if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])

        # A time zoom on the overlay, then Shift and a drag (both intensity
        # axes): kept in the URL, for the overlay is the same for every run.
        over = d.find_element(By.CSS_SELECTOR, "#overlay .u-over")
        width = over.size["width"]
        ActionChains(d).move_to_element_with_offset(over, -width // 8, 0).click_and_hold() \
            .move_by_offset(width // 4, 0).release().perform()
        ActionChains(d).move_to_element_with_offset(over, 0, -20).key_down(Keys.SHIFT) \
            .click_and_hold().move_by_offset(0, 40).release().key_up(Keys.SHIFT).perform()
        self.wait(lambda: all(key + "=" in d.current_url for key in ("ov_rt", "ov_y", "ov_xic_y")))
        overlay_scales = ("const s = window.velmoranView.overlay.plot.scales;"
                          "return [s.x.min, s.x.max, s.y.min, s.y.max, s.xic.min, s.xic.max];")
        zooms = self.js(overlay_scales)

        # The selector shows another run (the page opens again on it): its
        # name, table and first spectrum; the run hidden and the XICs stay,
        # the token stays out of the address bar.
        Select(d.find_element(By.ID, "run-select")).select_by_value("1")
        small = self.scans[1]
        self.wait(lambda: self.js("return window.velmoranView?.run") == 1)
        self.wait(lambda: self.title().startswith("Scan %d · MS1" % small[0]["scan_id"]))
        self.assertEqual(d.find_element(By.ID, "run-name").text, "small.d")
        # Its chromatogram is drawn in its overlay colour.
        trace_colour = "return window.velmoranView.chromatogram.plot.series[1].stroke()"
        self.assertEqual(self.js(trace_colour), self.js("return window.velmoranOverlay")[1]["color"])
        self.assertEqual(d.find_element(By.ID, "scan-count").text, "30 scans")
        self.assertEqual(Select(d.find_element(By.ID, "run-select")).first_selected_option.text, "1: small.d")
        self.wait(lambda: len(self.js("return window.velmoranOverlay ?? []")) == 6)
        self.assertEqual([s["shown"] for s in self.js("return window.velmoranOverlay")],
                         [True, False, True, True, False, True])
        self.assertNotIn(self.server.token, d.current_url)
        self.assertIn("run=1", d.current_url)
        self.assertEqual(self.js(overlay_scales), zooms)

        d.save_screenshot(os.path.join(ARTIFACTS, "view_runs_browser_test.png"))
        errors = [entry for entry in d.get_log("browser") if entry["level"] == "SEVERE"]
        self.assertEqual(errors, [])


if __name__ == "__main__":
    unittest.main()
