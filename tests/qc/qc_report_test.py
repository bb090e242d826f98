"""velmoran qc --report in headless Chromium: the page opens from the disk
with no network, logs no console error, draws the TIC overlay and a chart
per metric, marks the planted outlier (a run whose spray fails halfway),
hides a run from its legend entry and sorts the table by a column.

Environment: VELMORAN, VELMORAN_MKDATASET; PYTHONPATH holds tests/view
(browser.py)."""

import os
import shutil
import subprocess
import tempfile
import unittest

from browser import chromium

VELMORAN = os.environ["VELMORAN"]
MKDATASET = os.environ["VELMORAN_MKDATASET"]


class ReportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.dir = tempfile.mkdtemp(prefix="velmoran-qc-report-")
        runs = []
        for i in range(1, 6):
            runs.append(os.path.join(cls.dir, f"normal{i}.d"))
            subprocess.run([MKDATASET, "synth", runs[-1], "--ms1", "16", "--ms2", "16",
                            "--seed", str(i)], check=True, stdout=subprocess.DEVNULL)
        runs.append(os.path.join(cls.dir, "spray_fails.d"))
        subprocess.run([MKDATASET, "synth", runs[-1], "--ms1", "16", "--ms2", "16",
                        "--spray-fails"], check=True, stdout=subprocess.DEVNULL)
        # A damaged scan table's NaN and infinite times.
        runs.append(os.path.join(cls.dir, "damaged.d"))
        subprocess.run([MKDATASET, "synth", runs[-1], "--ms1", "8", "--ms2", "8", "--damage"],
                       check=True, stdout=subprocess.DEVNULL)
        cls.report = os.path.join(cls.dir, "report with <odd> name.html")
        subprocess.run([VELMORAN, "qc", *runs, "-o", os.path.join(cls.dir, "b.mzQC"),
                        "--report", cls.report], check=True, capture_output=True)
        cls.browser = chromium()

    @classmethod
    def tearDownClass(cls):
        cls.browser.quit()
        shutil.rmtree(cls.dir, ignore_errors=True)

    def test_report_draws_marks_the_outlier_and_sorts(self):
        with open(self.report, encoding="utf-8") as f:
            page = f.read()
        self.assertNotIn("http://", page.split("<script>", 1)[0])
        b = self.browser
        b.get("file://" + self.report)
        self.assertEqual(b.execute_script("return document.body.dataset.drawn"), "yes")
        errors = [e for e in b.get_log("browser") if e["level"] == "SEVERE"]
        self.assertEqual(errors, [])
        metrics = b.execute_script("return document.querySelectorAll('#metrics .metric').length")
        canvases = b.execute_script("return document.querySelectorAll('canvas').length")
        self.assertGreater(metrics, 10)
        self.assertEqual(canvases, metrics + 1)
        # The TIC overlay: a series per run (after the time axis's entry), drawn
        # although a run has times that are not numbers: only finite times in
        # the data, and coloured lines on the canvas.
        legend = b.execute_script(
            "return [...document.querySelectorAll('#tic .u-legend .u-series')]"
            ".map(e => e.textContent.trim())")
        self.assertEqual(len(legend), 8)
        self.assertTrue(b.execute_script(
            "return JSON.parse(document.getElementById('qc-data').textContent).runs"
            ".every(r => r.rt.length > 0 && r.rt.every(Number.isFinite))"))
        coloured = b.execute_script(
            "const c = document.querySelector('#tic canvas');"
            "const d = c.getContext('2d').getImageData(0, 0, c.width, c.height).data;"
            "let n = 0; for (let i = 0; i < d.length; i += 4) {"
            "  if (Math.max(d[i], d[i+1], d[i+2]) - Math.min(d[i], d[i+1], d[i+2]) > 60) n++; }"
            "return n;")
        self.assertGreater(coloured, 1000)
        self.assertTrue(any("spray_fails.d" in text for text in legend))
        # The outlier: a red cell in the spray_fails.d row, a chart marking it.
        rows = b.execute_script(
            "return [...document.querySelectorAll('#table tbody tr')].map(r => "
            "[r.cells[0].textContent, r.querySelectorAll('td.outlier').length])")
        self.assertGreater(dict(rows)["spray_fails.d"], 0)
        self.assertGreater(b.execute_script(
            "return document.querySelectorAll('#metrics .has-outlier').length"), 0)
        # A legend click hides the run.
        b.execute_script(
            "return document.querySelectorAll('#tic .u-legend .u-series')[6].querySelector('th')"
        ).click()
        self.assertTrue(b.execute_script(
            "return document.querySelectorAll('#tic .u-legend .u-series')[6]"
            ".classList.contains('u-off')"))
        # Sorting by the first metric column orders the runs by its values.
        b.execute_script("document.querySelectorAll('#table th')[1].click()")
        column = b.execute_script(
            "return [...document.querySelectorAll('#table tbody tr')].map(r => r.cells[1].textContent)")
        values = [float(v) for v in column if v]
        self.assertEqual(values, sorted(values))


if __name__ == "__main__":
    unittest.main()
