"""velmoran view's page tools in Debian's Chromium, headless: the spectrum's
m/z zoom kept across scans, the keys that step within an MS level, the
view restored from the URL's fragment (and a hostile fragment refused),
the fragment-scan marks thinned to a strip where they would merge,
the exports (CSV numbers exactly the API's, PNG, SVG), and a damaged run's
header and spectrum without a finite point.

Environment: VELMORAN, VELMORAN_MKDATASET, VIEW_ARTIFACTS.
Run with Debian's /usr/bin/python3 (python3-selenium, chromium-driver).
"""
import csv
import io
import json
import os
import tempfile
import time
import unittest
import urllib.parse
import xml.etree.ElementTree as ET

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.common.keys import Keys
from selenium.webdriver.support.ui import WebDriverWait

from browser import chromium
from view_server import ViewServer, make_run, velmoran_from_env

VELMORAN, MKDATASET = velmoran_from_env()

SELECT = "const [i, done] = arguments; window.velmoranView.select(i).then(done);"
X_SCALE = "const x = window.velmoranView.spectrumView.plot.scales.x; return [x.min, x.max];"


def fragment_of(driver):
    return urllib.parse.parse_qs(driver.execute_script("return location.hash.slice(1)"))


class PageToolsTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.downloads = os.path.join(cls.tmp.name, "downloads")
        os.mkdir(cls.downloads)
        run = make_run(MKDATASET, os.path.join(cls.tmp.name, "tools.d"), "synth", "--ms1", "30",
                       "--ms2", "60", "--points", "3000", "--peaks", "40", "--seed", "23",
                       "--expect", os.path.join(cls.tmp.name, "tools.json"))
        with open(os.path.join(cls.tmp.name, "tools.json")) as f:
            cls.expected = json.load(f)["scans"]
        damaged = make_run(MKDATASET, os.path.join(cls.tmp.name, "damaged.d"), "synth", "--ms1", "6",
                           "--ms2", "12", "--points", "500", "--peaks", "20", "--seed", "11",
                           "--damage")
        cls.server = ViewServer(VELMORAN, run)
        cls.damaged = ViewServer(VELMORAN, damaged)
        cls.driver = chromium()
        cls.driver.execute_cdp_cmd("Browser.setDownloadBehavior",
                                   {"behavior": "allow", "downloadPath": cls.downloads})

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        results = [cls.server.stop(), cls.damaged.stop()]
        cls.tmp.cleanup()
        for code, _, err in results:
            assert code == 0, err

    def wait(self, condition, timeout=20):
        return WebDriverWait(self.driver, timeout).until(lambda d: condition())

    def open(self, server, fragment=""):
        d = self.driver
        d.get(server.url + fragment)
        self.wait(lambda: d.execute_script("return window.velmoranReady === true && "
                                           "!!window.velmoranView"))
        self.wait(lambda: self.title().startswith("Scan "))

    def title(self):
        return self.driver.find_element(By.ID, "spectrum-title").text

    def api(self, server, path):
        status, body = server.request(path)
        self.assertEqual(status, 200, body)
        return json.loads(body)

    def select(self, index):
        self.driver.execute_async_script(SELECT, index)

    def severe_errors(self):
        return [e for e in self.driver.get_log("browser") if e["level"] == "SEVERE"]

    def download(self, button_id, suffix):
        """Clicks the button; returns the bytes of the file that appears."""
        for name in os.listdir(self.downloads):
            os.remove(os.path.join(self.downloads, name))
        self.driver.find_element(By.ID, button_id).click()
        self.wait(lambda: [n for n in os.listdir(self.downloads) if n.endswith(suffix)])
        name = next(n for n in os.listdir(self.downloads) if n.endswith(suffix))
        with open(os.path.join(self.downloads, name), "rb") as f:
            return name, f.read()

    def test_zoom_keys_and_the_url_state_survive_a_reload(self):
        d = self.driver
        self.open(self.server)
        survey = [i for i, s in enumerate(self.expected) if s["ms_level"] == 1]
        fragments = [i for i, s in enumerate(self.expected) if s["ms_level"] == 2]

        # A drag across the middle of the spectrum zooms in m/z; the zoom
        # stays when the next survey scan is shown (the lock is on).
        whole = d.execute_script(X_SCALE)
        over = d.find_element(By.CSS_SELECTOR, "#spectrum .u-over")
        width = over.size["width"]
        ActionChains(d).move_to_element_with_offset(over, -width // 8, 0).click_and_hold() \
            .move_by_offset(width // 4, 0).release().perform()
        self.wait(lambda: "mz" in fragment_of(d))
        zoom = d.execute_script(X_SCALE)
        self.assertTrue(whole[0] < zoom[0] < zoom[1] < whole[1], (whole, zoom))
        # Shift and a drag downwards zoom in intensity, not in m/z; a
        # double-click returns to the automatic range (and the whole
        # spectrum, which the lock then keeps).
        y_scale = "const y = window.velmoranView.spectrumView.plot.scales.y; return [y.min, y.max];"
        y_auto = d.execute_script(y_scale)
        height = over.size["height"]
        ActionChains(d).move_to_element_with_offset(over, 0, height // 4).key_down(Keys.SHIFT) \
            .click_and_hold().move_by_offset(0, height // 5).release().key_up(Keys.SHIFT).perform()
        self.wait(lambda: d.execute_script(y_scale)[1] < y_auto[1])
        self.assertEqual(d.execute_script(X_SCALE), zoom)
        ActionChains(d).double_click(over).perform()
        self.wait(lambda: d.execute_script(y_scale) == y_auto or "mz" not in fragment_of(d))
        self.wait(lambda: "mz" not in fragment_of(d))
        ActionChains(d).move_to_element_with_offset(over, -width // 8, 0).click_and_hold() \
            .move_by_offset(width // 4, 0).release().perform()
        self.wait(lambda: "mz" in fragment_of(d))
        zoom = d.execute_script(X_SCALE)
        # A retention-time zoom on the chromatogram.
        chromatogram = d.find_element(By.CSS_SELECTOR, "#chromatogram .u-over")
        ActionChains(d).move_to_element_with_offset(chromatogram, 0, 0).click_and_hold() \
            .move_by_offset(chromatogram.size["width"] // 4, 0).release().perform()
        self.wait(lambda: "rt" in fragment_of(d))
        rt_scale = "const x = window.velmoranView.chromatogram.plot.scales.x; return [x.min, x.max];"
        rt_zoom = d.execute_script(rt_scale)

        # ] steps to the next scan of the same level (here a survey scan
        # past the fragment scans in between), [ back; Shift+→ as ].
        body = d.find_element(By.TAG_NAME, "body")
        body.send_keys("]")
        self.wait(lambda: self.title().startswith("Scan %d · MS1" % self.expected[survey[1]]["scan_id"]))
        self.assertEqual(d.execute_script(X_SCALE), zoom)
        body.send_keys("[")
        self.wait(lambda: self.title().startswith("Scan %d · MS1" % self.expected[survey[0]]["scan_id"]))
        self.select(fragments[0])
        ActionChains(d).key_down(Keys.SHIFT).send_keys(Keys.ARROW_RIGHT).key_up(Keys.SHIFT).perform()
        self.wait(lambda: self.title().startswith("Scan %d · MS2" % self.expected[fragments[1]]["scan_id"]))
        body.send_keys(Keys.PAGE_DOWN)
        self.wait(lambda: self.title().startswith("Scan %d ·" % self.expected[fragments[1] + 10]["scan_id"]))
        body.send_keys(Keys.END)
        self.wait(lambda: self.title().startswith("Scan %d ·" % self.expected[-1]["scan_id"]))
        # Keys typed into the XIC box are the box's.
        before = self.title()
        d.find_element(By.ID, "xic-mz").send_keys("[]" + Keys.HOME)
        time.sleep(0.3)
        self.assertEqual(self.title(), before)
        d.find_element(By.ID, "xic-mz").clear()
        # ? opens the list of keys as a modal dialog; Escape closes it.
        body.send_keys("?")
        self.wait(lambda: d.execute_script("return document.getElementById('keys-dialog')?.open === true"))
        self.assertIn("same MS level", d.find_element(By.ID, "keys-dialog").text)
        ActionChains(d).send_keys(Keys.ESCAPE).perform()
        self.wait(lambda: d.execute_script("return document.getElementById('keys-dialog').open === false"))

        # XICs in Da at MS1, a log axis, a scan: all in the fragment.
        chosen = survey[3]
        self.select(chosen)
        first = self.expected[survey[0]]
        targets = "%r, %r" % (first["mz"][100], first["mz"][900])
        d.find_element(By.ID, "xic-mz").send_keys(targets)
        tolerance = d.find_element(By.ID, "xic-tolerance")
        tolerance.clear()
        tolerance.send_keys("0.05")
        d.find_element(By.CSS_SELECTOR, "#xic-unit option[value=da]").click()
        d.find_element(By.CSS_SELECTOR, "#axis-mode option[value=log]").click()
        d.find_element(By.CSS_SELECTOR, "#xic-form button[type=submit]").click()
        self.wait(lambda: "2 XICs" in d.find_element(By.ID, "xic-status").text)
        self.assertIn("± 0.05 Da", d.find_element(By.ID, "xic-status").text)
        # Shift and a drag on the chromatogram (a new chart, with the XICs):
        # an intensity zoom there, of the trace's axis and of the XICs' own.
        chromatogram = d.find_element(By.CSS_SELECTOR, "#chromatogram .u-over")
        ActionChains(d).move_to_element_with_offset(chromatogram, 0, -20).key_down(Keys.SHIFT) \
            .click_and_hold().move_by_offset(0, 40).release().key_up(Keys.SHIFT).perform()
        self.wait(lambda: {"xic", "tol", "unit", "axis", "scan", "rt_y", "xic_y"} <= set(fragment_of(d)))
        y_zoom = "const y = window.velmoranView.chromatogram.plot.scales.y; return [y.min, y.max];"
        xic_zoom = "const y = window.velmoranView.chromatogram.plot.scales.xic; return [y.min, y.max];"
        rt_intensity, xic_intensity = d.execute_script(y_zoom), d.execute_script(xic_zoom)
        state = d.execute_script("return location.hash")
        self.assertNotIn("token", state)
        self.assertEqual(fragment_of(d)["scan"], [str(chosen)])

        # The printed URL with that fragment (a bookmark, a reload) shows it again.
        self.open(self.server, state)
        self.assertTrue(self.title().startswith("Scan %d · MS1" % self.expected[chosen]["scan_id"]))
        self.wait(lambda: "2 XICs" in d.find_element(By.ID, "xic-status").text)
        self.assertEqual(d.find_element(By.ID, "xic-mz").get_attribute("value"), targets)
        self.assertEqual(d.find_element(By.ID, "xic-tolerance").get_attribute("value"), "0.05")
        self.assertEqual(d.find_element(By.ID, "xic-unit").get_attribute("value"), "da")
        self.assertEqual(d.find_element(By.ID, "axis-mode").get_attribute("value"), "log")
        self.assertEqual(d.execute_script(X_SCALE), zoom)
        self.assertEqual(d.execute_script(rt_scale), rt_zoom)
        self.assertEqual(d.execute_script(y_zoom), rt_intensity)
        self.assertEqual(d.execute_script(xic_zoom), xic_intensity)
        self.assertEqual(d.execute_script("return window.velmoranView.spectrumView.plot.scales.y.distr"), 3)
        self.assertEqual(self.severe_errors(), [])

    def test_exports_hold_the_api_numbers(self):
        d = self.driver
        self.open(self.server)
        profile = next(i for i, s in enumerate(self.expected) if s["ms_level"] == 1)
        self.select(profile)
        _, text = self.download("spectrum-csv", ".csv")
        rows = list(csv.reader(io.StringIO(text.decode())))
        spectrum = self.api(self.server, "/api/spectrum/%d" % profile)
        self.assertEqual(rows[0], ["mz", "intensity"])
        # Every point, whatever the zoom, each number exactly the API's.
        self.assertEqual([(float(a), float(b)) for a, b in rows[1:]],
                         list(zip(spectrum["mz"], spectrum["intensity"])))

        _, text = self.download("chromatogram-csv", ".csv")
        rows = list(csv.DictReader(io.StringIO(text.decode())))
        survey = [s for s in self.api(self.server, "/api/scans") if s["ms_level"] == 1]
        self.assertEqual([(int(r["scan_id"]), float(r["rt_sec"]), float(r["tic"]),
                           float(r["base_peak_intensity"])) for r in rows],
                         [(s["scan_id"], s["rt_sec"], s["tic"], s["base_peak_intensity"]) for s in survey])

        target = "%r" % spectrum["mz"][1500]
        d.find_element(By.ID, "xic-mz").send_keys(target)
        d.find_element(By.CSS_SELECTOR, "#xic-form button[type=submit]").click()
        self.wait(lambda: "1 XIC" in d.find_element(By.ID, "xic-status").text)
        _, text = self.download("xic-csv", ".csv")
        rows = list(csv.DictReader(io.StringIO(text.decode())))
        tolerance = d.find_element(By.ID, "xic-tolerance").get_attribute("value")
        xic = self.api(self.server, "/api/xic?mz=%s&ppm=%s" % (target, tolerance))
        self.assertEqual([(r["target"], float(r["rt_sec"]), int(r["scan_id"]), float(r["intensity"]))
                          for r in rows],
                         [(x["target"], x["rt_sec"], x["scan_id"], x["intensity"]) for x in xic])

        # Pictures: a PNG, and an SVG with the chart's lines and tick labels.
        _, png = self.download("spectrum-png", ".png")
        self.assertEqual(png[:8], b"\x89PNG\r\n\x1a\n")
        _, svg = self.download("chromatogram-svg", ".svg")
        root = ET.fromstring(svg)
        ns = "{http://www.w3.org/2000/svg}"
        self.assertEqual(len(root.findall(".//%spath" % ns)), 2)  # the TIC and the XIC
        labels = [t.text for t in root.iter(ns + "text")]
        self.assertIn("retention time (s)", labels)
        self.assertIn("intensity (counts)", labels)
        self.assertIn("XIC %s" % target, labels)  # the legend
        # Tick labels, taken from the chart's own axes (uPlot's splits and values).
        numeric = [t for t in labels if t and t.replace(".", "").replace("e+", "").isdigit()]
        self.assertGreater(len(numeric), 6, labels)

        # On the relative axis the spectrum's highest point is 100 %.
        d.find_element(By.CSS_SELECTOR, "#axis-mode option[value=relative]").click()
        _, svg = self.download("spectrum-svg", ".svg")
        labels = [t.text for t in ET.fromstring(svg).iter(ns + "text")]
        self.assertTrue({"0%", "20%", "100%"} <= set(labels), labels)
        d.find_element(By.CSS_SELECTOR, "#axis-mode option[value=linear]").click()
        self.assertEqual(self.severe_errors(), [])

    def test_a_hostile_fragment_changes_nothing_it_should_not(self):
        d = self.driver
        script = "<img src=x onerror=window.pwned=1>"
        fragment = "#" + urllib.parse.urlencode({
            "scan": "99999999999", "xic": script + ",500", "tol": "NaN", "axis": "<b>",
            "mz": "NaN:1", "rt": "1e999:2", "token": "0" * 64, "trace": "x" * 5000})
        self.open(self.server, fragment)
        # The first scan, no XIC, the default axis; the token gone from the address bar.
        self.assertTrue(self.title().startswith("Scan %d ·" % self.expected[0]["scan_id"]))
        self.assertEqual(d.find_element(By.ID, "xic-mz").get_attribute("value"), "")
        self.assertEqual(d.find_element(By.ID, "axis-mode").get_attribute("value"), "linear")
        self.wait(lambda: "token" not in d.execute_script("return location.hash"))
        self.assertIsNone(d.execute_script("return window.pwned ?? null"))
        self.assertEqual(d.find_elements(By.CSS_SELECTOR, "img"), [])
        # 10,000 targets are not sent to the server (at most 100 go).
        self.open(self.server, "#xic=" + "%2C".join(["500"] * 10000))
        self.assertEqual(self.severe_errors(), [])

    def test_fragment_marks_thin_out_to_the_width(self):
        d = self.driver
        marks = "return window.velmoranView.chromatogram.marksDrawnAs"
        try:
            # 60 fragment scans on a chart 400 pixels wide merge into a strip...
            d.set_window_size(500, 900)
            self.open(self.server)
            self.assertEqual(d.execute_script(marks), "strip")
            # ... and are ticks again on the first 3 seconds.
            self.open(self.server, "#rt=0:3")
            self.assertEqual(d.execute_script(marks), "ticks")
        finally:
            d.set_window_size(1280, 900)

    def test_a_damaged_run_shows_only_finite_values(self):
        d = self.driver
        self.open(self.damaged)
        scans = self.api(self.damaged, "/api/scans")
        untimed = sum(1 for s in scans if not isinstance(s["rt_sec"], (int, float)))
        summary = d.find_element(By.ID, "run-summary").text
        self.assertNotIn("– –", summary)
        self.assertIn("%d scan%s without a finite RT" % (untimed, "s" if untimed > 1 else ""), summary)
        # The fourth fragment scan: three peaks, none with a finite intensity.
        fragment = [i for i, s in enumerate(scans) if s["ms_level"] == 2][3]
        self.select(fragment)
        self.assertIn("no finite point", self.title())
        # Its CSV still holds its three points (empty cells where JSON has null).
        _, text = self.download("spectrum-csv", ".csv")
        spectrum = self.api(self.damaged, "/api/spectrum/%d" % fragment)
        rows = list(csv.reader(io.StringIO(text.decode())))[1:]
        self.assertEqual(len(rows), len(spectrum["mz"]))
        self.assertEqual(self.severe_errors(), [])


if __name__ == "__main__":
    unittest.main()
