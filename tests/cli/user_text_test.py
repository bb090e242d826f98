"""The files users give (xic --targets, --transitions) read by one dialect:
each row of the table is read the same way by both, and a refused one names
FILE:LINE: column X. Files that are not small text end at once with exit 2.

Environment: VELMORAN, VELMORAN_MKDATASET.
"""
import csv
import io
import json
import os
import subprocess
import tempfile
import time
import unittest

VELMORAN = os.environ["VELMORAN"]
WORK = tempfile.TemporaryDirectory(prefix="velmoran-text-")
RUN = os.path.join(WORK.name, "run.d")
subprocess.run([os.environ["VELMORAN_MKDATASET"], "mrm", RUN, "--layout", "186", "--scans", "20",
                "--seed", "6"], check=True, capture_output=True)


def velmoran(*args):
    return subprocess.run([VELMORAN, *args], capture_output=True, text=True, timeout=60)


def write(name, text):
    path = os.path.join(WORK.name, name)
    with open(path, "w", newline="", encoding="utf-8") as f:
        f.write(text)
    return path


def target_names(path):
    done = velmoran("xic", RUN, "--targets", path, "--ppm", "5", "--format", "csv")
    return done, [row["target"] for row in csv.DictReader(io.StringIO(done.stdout))][:1]


def transition_names(path):
    done = velmoran("info", RUN, "--json", "--transitions", path)
    if done.returncode != 0:
        return done, []
    return done, [c["name"] for c in json.loads(done.stdout)["channels"] if c["channel"] == 1]


class DialectTest(unittest.TestCase):
    # The first cell of a row as written, and the name read from it (as
    # Python's csv module reads the accepted ones), or the error's text.
    CASES = [
        ('"a, b"', "a, b"),
        ('"say ""hi"""', 'say "hi"'),
        ("  spaced\t", "spaced"),
        ('"  kept  "', "  kept  "),
        ('"open', "column name: a quote is not closed"),
        ('"a" ', "column name: text follows the closing quote"),
        (' "a"', "column name: a quote inside a cell"),
        ('a"b', "column name: a quote inside a cell"),
    ]

    def test_targets_and_transitions_read_a_cell_alike(self):
        for cell, want in self.CASES:
            readers = (
                (target_names, "t.csv", "name,mz\n" + cell + ",500.5\n"),
                (transition_names, "l.csv",
                 "name,channel,precursor_mz,product_mz\n" + cell + ",1,500.5,100\n"),
            )
            for read, name, text in readers:
                with self.subTest(cell=cell, file=name):
                    path = write(name, text)
                    done, names = read(path)
                    if want.startswith("column "):
                        self.assertEqual(done.returncode, 2, done.stderr)
                        self.assertIn(f"{path}:2: {want}", done.stderr)
                        self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)
                    else:
                        self.assertEqual(done.returncode, 0, done.stderr)
                        self.assertEqual(names, next(csv.reader([cell.strip()]))[:1])
                        self.assertEqual(names, [want])

    def test_rows_of_empty_cells_are_skipped(self):
        for read, name, text in (
            (target_names, "e.csv", "name,mz\n,\n\"a\",500.5\n,,\n"),
            (transition_names, "e.csv",
             ",,,,\nname,channel,precursor_mz,product_mz\n,,,\na,1,500.5,100\n,,,,\n"),
            (transition_names, "e.tsv", "name\tchannel\tprecursor_mz\tproduct_mz\n\t\t\t\na\t1\t5\t1\n"),
        ):
            with self.subTest(file=name, text=text):
                done, names = read(write(name, text))
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertEqual(names, ["a"])


class FileSizeTest(unittest.TestCase):
    def test_files_that_are_not_small_text_end_at_once(self):
        huge = os.path.join(WORK.name, "huge.csv")
        with open(huge, "wb") as f:
            f.truncate(1 << 30)  # sparse: no disk used
        utf16 = os.path.join(WORK.name, "utf16.csv")
        with open(utf16, "w", encoding="utf-16") as f:
            f.write("name,mz\na,500.5\n")
        for path in ("/dev/zero", huge, utf16):
            for option, command in (("--targets", ["xic", RUN, "--ppm", "5"]),
                                    ("--transitions", ["chromatograms", RUN])):
                with self.subTest(path=path, option=option):
                    start = time.monotonic()
                    done = velmoran(*command, option, path)
                    self.assertLess(time.monotonic() - start, 1.0)
                    self.assertEqual(done.returncode, 2, done.stderr)
                    self.assertTrue(done.stderr.startswith(f"velmoran: {option}: {path}")
                                    or done.stderr.startswith(f"velmoran: {path}"), done.stderr)
                    self.assertEqual(len(done.stderr.splitlines()), 1, done.stderr)


class UnmatchedChannelsTest(unittest.TestCase):
    def test_the_warning_names_ten_channels_and_counts_the_rest(self):
        rows = "".join(f"{k},500,100\n" for k in [1, *range(1000, 1025)])
        done = velmoran("chromatograms", RUN, "-o", os.devnull, "--transitions",
                        write("many.csv", "channel,precursor_mz,product_mz\n" + rows))
        self.assertEqual(done.returncode, 0, done.stderr)
        warning = done.stderr.strip()
        self.assertEqual(len(warning.splitlines()), 1, warning)
        self.assertTrue(warning.endswith(
            "no scan carries: " + ", ".join(str(k) for k in range(1000, 1010)) + " and 15 more"),
            warning)


if __name__ == "__main__":
    unittest.main()
