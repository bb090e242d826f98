"""Transition lists and the MRM commands on a generated run: every kind of
bad list is a usage error naming file, line and column; good lists in any
spelling give the same chromatograms; info and chromatograms against the
generator's expected spectra (read with json, csv and math.fsum).

Environment: VELMORAN, VELMORAN_MKDATASET.
"""
import csv
import io
import json
import math
import os
import subprocess
import tempfile
import unittest

VELMORAN = os.environ["VELMORAN"]
MKDATASET = os.environ["VELMORAN_MKDATASET"]
WORK = tempfile.mkdtemp(prefix="velmoran-mrm-")
RUN = os.path.join(WORK, "run.d")
EXPECT = os.path.join(WORK, "run.json")
LIST = os.path.join(WORK, "list.csv")
subprocess.run([MKDATASET, "mrm", RUN, "--layout", "186", "--scans", "60", "--seed", "5",
                "--expect", EXPECT, "--transitions", LIST], check=True, capture_output=True)
SCANS = json.load(open(EXPECT))["scans"]


def velmoran(*args):
    return subprocess.run([VELMORAN, *args], capture_output=True, text=True)


def write(name, text, newline=None):
    path = os.path.join(WORK, name)
    with open(path, "w", newline=newline, encoding="utf-8") as f:
        f.write(text)
    return path


def expected_rows():
    rows = []
    for index, scan in enumerate(SCANS):
        if scan["ms_level"] >= 2:
            rows.append((scan["mrm_channel"], index, scan["scan_id"], scan["retention_time_sec"],
                         math.fsum(scan["intensity"])))
    return sorted(rows, key=lambda row: (row[0], row[1]))


class BadListTest(unittest.TestCase):
    HEADER = "channel,precursor_mz,product_mz,collision_energy,name\n"
    CASES = [
        # (name, content, line, column or text in the message)
        ("missing.csv", "channel,precursor_mz\n1,300.5\n", 1, "column product_mz"),
        ("twice.csv", "channel,Channel,precursor_mz,product_mz\n", 1, "column channel"),
        ("word.csv", HEADER + "1,abc,100,,\n", 2, "column precursor_mz"),
        ("zero.csv", HEADER + "1,300,0,,\n", 2, "column product_mz"),
        ("negative.csv", HEADER + "1,-300,100,,\n", 2, "column precursor_mz"),
        ("nan.csv", HEADER + "1,nan,100,,\n", 2, "column precursor_mz"),
        ("inf.csv", HEADER + "1,300,inf,,\n", 2, "column product_mz"),
        ("huge.csv", HEADER + "1,1e999,100,,\n", 2, "column precursor_mz"),
        ("energy.csv", HEADER + "1,300,100,-5,\n", 2, "column collision_energy"),
        ("channel.csv", HEADER + "1.5,300,100,,\n", 2, "column channel"),
        ("channel_big.csv", HEADER + "4294967296,300,100,,\n", 2, "column channel"),
        ("empty_cell.csv", HEADER + "1,,100,,\n", 2, "column precursor_mz"),
        ("short_row.csv", HEADER + "1,300\n", 2, "column product_mz"),
        ("duplicate.csv", HEADER + "1,300,100,,\n\n2,300,90,,\n1,310,100,,\n", 5, "line 2"),
        ("quote.csv", HEADER + '1,300,100,,"open\n', 2, "quote"),
        ("no_header.csv", "", 1, "no header"),
        ("tabbed.tsv", "channel,precursor_mz,product_mz\n1,300,100\n", 1, "column channel"),
    ]

    def test_each_bad_list_is_a_usage_error_naming_its_place(self):
        for name, content, line, column in self.CASES:
            path = write(name, content)
            for command in (["convert", RUN, "-o", os.path.join(WORK, "x.mzML")],
                            ["chromatograms", RUN], ["info", RUN]):
                with self.subTest(list=name, command=command[0]):
                    done = velmoran(*command, "--transitions", path)
                    self.assertEqual(done.returncode, 2, done.stderr)
                    self.assertIn(f"{path}:{line}:", done.stderr)
                    self.assertIn(column, done.stderr)
                    self.assertEqual(len(done.stderr.strip().splitlines()), 1, done.stderr)
        self.assertFalse(os.path.exists(os.path.join(WORK, "x.mzML")))

    def test_unreadable_lists(self):
        for path in ("/nonexistent/list.csv", WORK, "/dev/zero"):
            with self.subTest(path=path):
                done = velmoran("chromatograms", RUN, "--transitions", path)
                self.assertEqual(done.returncode, 2, done.stderr)
                self.assertIn(path, done.stderr)


class GoodListTest(unittest.TestCase):
    def chromatograms(self, list_path):
        done = velmoran("chromatograms", RUN, "--transitions", list_path, "--format", "json")
        self.assertEqual(done.returncode, 0, done.stderr)
        return json.loads(done.stdout)

    def test_spellings_of_one_list_agree(self):
        with open(LIST, newline="") as f:
            rows = list(csv.DictReader(f))
        reference = self.chromatograms(LIST)
        tsv = "Name\tEXTRA\tProduct_MZ\tprecursor_mz\tChannel\tcollision_energy\r\n" + "".join(
            "\"" + r["name"].replace("\"", "\"\"") + f"\"\tx\t{r['product_mz']}\t {r['precursor_mz']} \t{r['channel']}\t"
            f"{r['collision_energy']}\r\n" for r in rows)
        for name, text in (("list.tsv", "\ufeff" + tsv), ("list.txt", tsv)):
            with self.subTest(list=name):
                path = write(name, text, newline="")
                self.assertEqual(self.chromatograms(path), reference)

    def test_rows_match_the_list_and_the_expected_spectra(self):
        with open(LIST, newline="") as f:
            by_channel = {int(r["channel"]): r for r in csv.DictReader(f)}
        got = self.chromatograms(LIST)
        want = expected_rows()
        self.assertEqual(len(got), len(want))
        for row, (channel, index, scan_id, rt, intensity) in zip(got, want):
            listed = by_channel[channel]
            self.assertEqual((row["channel"], row["index"], row["scan_id"], row["rt_sec"]),
                             (channel, index, scan_id, rt))
            self.assertAlmostEqual(row["intensity"], intensity, delta=1e-12 * intensity)
            self.assertEqual((row["q1"], row["q3"], row["name"]),
                             (float(listed["precursor_mz"]), float(listed["product_mz"]),
                              listed["name"]))

    def test_channel_option_and_plain_rows(self):
        done = velmoran("chromatograms", RUN, "--channel", "2", "--channel", "5", "--format", "csv")
        self.assertEqual(done.returncode, 0, done.stderr)
        rows = list(csv.DictReader(io.StringIO(done.stdout)))
        want = [r for r in expected_rows() if r[0] in (2, 5)]
        self.assertEqual([(int(r["channel"]), int(r["index"])) for r in rows],
                         [(r[0], r[1]) for r in want])
        self.assertEqual({(r["q1"], r["q3"], r["name"]) for r in rows}, {("", "", "")})
        done = velmoran("chromatograms", RUN, "--channel", "77")
        self.assertEqual(done.returncode, 2)
        self.assertIn("77", done.stderr)

    def test_info_lists_channels(self):
        done = velmoran("info", RUN, "--json", "--transitions", LIST)
        self.assertEqual(done.returncode, 0, done.stderr)
        channels = json.loads(done.stdout)["channels"]
        counts = {}
        for scan in SCANS:
            counts.setdefault(scan["mrm_channel"], 0)
            counts[scan["mrm_channel"]] += scan["ms_level"] >= 2
        self.assertEqual([(c["channel"], c["scans"]) for c in channels], sorted(counts.items()))
        with open(LIST, newline="") as f:
            names = [r["name"] for r in csv.DictReader(f)]
        self.assertEqual([c["name"] for c in channels], names)
        text = velmoran("info", RUN).stdout
        self.assertIn(f"channels        {len(counts)}\n", text)


if __name__ == "__main__":
    unittest.main()
