"""The view's state in the URL's fragment, in Debian's Chromium, headless:
choosing another run drops exactly the keys that describe the run shown
(its scan, its zooms, the map's zoom) and keeps the choices that apply to
any run; a range narrower than a double can tell apart (a crafted link, or
a dozen zooms into the map) neither stops the page from loading nor freezes
it under the mouse.

Environment: VELMORAN, VELMORAN_MKDATASET.
Run with Debian's /usr/bin/python3 (python3-selenium, chromium-driver).
"""
import os
import time
import unittest
import urllib.parse

from selenium.webdriver.common.action_chains import ActionChains
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

from page_case import MKDATASET, ServedPage
from view_server import make_run

# Keys of the run shown, and choices that apply to any run (docs/view.md).
RUN_KEYS = {"scan": "3", "rt": "10:20", "mz": "300:400", "rt_y": "1:1000", "mz_y": "1:500",
            "xic_y": "1:100", "map_rt": "10:20", "map_mz": "300:400"}
PAGE_KEYS = {"trace": "bpc", "axis": "log", "lock": "0", "map_level": "2", "map_marks": "0",
             "hide": "1", "norm": "1", "ov_rt": "5:30", "ov_y": "2:90", "xic": "500.25",
             "tol": "20", "unit": "da", "level": "1"}
# Each a range a double cannot split into ticks.
NARROW = ["#map_mz=1000:1000.0000000000003", "#rt_y=1e17:100000000000000016",
          "#rt=100:100.00000000000001&mz=1e17:100000000000000016&map_rt=100:100.00000000000001"]
MAP_LOADED = "const done = arguments[0]; window.velmoranView.mapLoaded.then(() => done(0));"
# The latest grid asked for, painted.
MAP_PAINTED = "const done = arguments[0]; window.velmoranView.map.loading.then(() => done(0));"


class StateBrowserTest(ServedPage):
    @classmethod
    def make_runs(cls, directory):
        return [make_run(MKDATASET, os.path.join(directory, name), "synth", "--ms1", "30",
                         "--ms2", "60", "--points", "1500", "--peaks", "30", "--seed", seed)
                for name, seed in (("first.d", "31"), ("second.d", "32"))]

    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        # A frozen tab fails the test instead of holding it.
        cls.driver.set_page_load_timeout(15)
        cls.driver.set_script_timeout(15)

    def open(self, fragment):
        d = self.driver
        d.get(self.server.url + fragment)
        WebDriverWait(d, 15).until(lambda _: d.execute_script(
            "return window.velmoranReady === true && !!window.velmoranView"))
        d.execute_async_script(MAP_LOADED)

    def fragment(self):
        return dict(urllib.parse.parse_qsl(self.driver.execute_script("return location.hash.slice(1)")))

    def test_another_run_keeps_the_page_keys_and_drops_the_run_keys(self):
        d = self.driver
        self.open("#" + urllib.parse.urlencode({**RUN_KEYS, **PAGE_KEYS}))
        d.execute_script("window.velmoranView.selectRun(1)")
        WebDriverWait(d, 15).until(lambda _: d.execute_script("return window.velmoranView?.run") == 1)
        d.execute_async_script(MAP_LOADED)
        kept = self.fragment()
        self.assertEqual(set(kept), {"run"} | set(PAGE_KEYS))
        self.assertEqual(kept["run"], "1")
        self.assertEqual({k: kept[k] for k in ("trace", "axis", "map_level", "hide", "xic")},
                         {k: PAGE_KEYS[k] for k in ("trace", "axis", "map_level", "hide", "xic")})

    def assertAnswersTheMouse(self):
        d = self.driver
        for selector in ("#map", "#chromatogram .u-over"):
            start = time.monotonic()
            ActionChains(d).move_to_element(d.find_element(By.CSS_SELECTOR, selector)) \
                .move_by_offset(7, 5).perform()
            d.execute_script("return 0")
            self.assertLess(time.monotonic() - start, 2, selector)

    def test_ranges_narrower_than_a_double_resolves_do_not_freeze_the_page(self):
        d = self.driver
        for fragment in NARROW:
            with self.subTest(fragment=fragment):
                start = time.monotonic()
                self.open(fragment)
                self.assertLess(time.monotonic() - start, 8)
                self.assertAnswersTheMouse()

        # Twelve drags into the middle tenth of the map reach such a range too.
        self.open("")
        plot = d.execute_script("const a = window.velmoranView.map.area(); return [a.x, a.y, a.w, a.h];")
        element = d.find_element(By.ID, "map")
        left, top = -element.size["width"] / 2 + plot[0], -element.size["height"] / 2 + plot[1]
        for _ in range(12):
            ActionChains(d).move_to_element_with_offset(element, left + 0.45 * plot[2], top + 0.45 * plot[3]) \
                .click_and_hold().move_by_offset(0.1 * plot[2], 0.1 * plot[3]).release().perform()
            d.execute_async_script(MAP_PAINTED)
        mz = d.execute_script("return window.velmoranView.map.grid.mz")
        self.assertGreater(mz[1] - mz[0], 1e-10 * mz[1])
        self.assertAnswersTheMouse()


if __name__ == "__main__":
    unittest.main()
