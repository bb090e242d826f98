"""Test cases whose class serves generated runs with velmoran view and opens
Debian's Chromium, headless, once for all its tests; both are stopped when
the class is done. OneRunPage serves one run of MS1 and MS2 scans.

Environment: VELMORAN, VELMORAN_MKDATASET.
"""
import json
import os
import tempfile
import unittest

from selenium.webdriver.support.ui import WebDriverWait

from browser import chromium
from view_server import ViewServer, make_run, velmoran_from_env

VELMORAN, MKDATASET = velmoran_from_env()


class ServedPage(unittest.TestCase):
    """Serves the runs make_runs(directory) writes and opens Chromium, once
    for the class's tests."""

    @classmethod
    def setUpClass(cls):
        cls.tmp = tempfile.TemporaryDirectory()
        cls.server = ViewServer(VELMORAN, *cls.make_runs(cls.tmp.name))
        cls.driver = chromium()

    @classmethod
    def tearDownClass(cls):
        cls.driver.quit()
        code, _, err = cls.server.stop()
        cls.tmp.cleanup()
        assert code == 0, err

    def wait(self, condition, timeout=20):
        return WebDriverWait(self.driver, timeout).until(lambda d: condition())

    def title(self):
        return self.driver.find_element("id", "spectrum-title").text


class OneRunPage(ServedPage):
    # The run's name and the generator's seed; the writer's expected scans
    # are in cls.expected.
    RUN = "page"
    SEED = 21

    @classmethod
    def make_runs(cls, directory):
        run = os.path.join(directory, cls.RUN + ".d")
        expect = os.path.join(directory, cls.RUN + ".json")
        make_run(MKDATASET, run, "synth", "--ms1", "60", "--ms2", "120", "--points", "4000",
                 "--peaks", "60", "--seed", str(cls.SEED), "--expect", expect)
        with open(expect) as f:
            cls.expected = json.load(f)["scans"]
        return [run]
