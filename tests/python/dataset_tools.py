"""Datasets for the Python tests, written by the project's generator.

The generator (velmoran-mkdataset) is named by the environment variable
VELMORAN_MKDATASET, which CTest sets; tests that need datasets are skipped
without it. Retention times the generator cannot be asked for are written
by patching the scan table it produced.
"""

import json
import math
import os
import shutil
import struct
import subprocess
import tempfile
import unittest

MKDATASET = os.environ.get("VELMORAN_MKDATASET", "")

needs_generator = unittest.skipUnless(
    MKDATASET,
    "VELMORAN_MKDATASET is not set: it names the velmoran-mkdataset tool, "
    "built in developer mode (CTest sets it)",
)

# Where every record starts in MSScan.bin: the header's payload offset.
PAYLOAD_OFFSET_FIELD = 88
# Retention time in minutes, a little-endian double, in every layout.
RETENTION_TIME_FIELD = 12


class TempDir:
    """A temporary directory removed at cleanup (use with addCleanup)."""

    def __init__(self):
        self.path = tempfile.mkdtemp(prefix="velmoran-py-")

    def remove(self):
        shutil.rmtree(self.path, ignore_errors=True)


def make_dataset(directory, name, mode="synth", *options, expect=True):
    """Writes a dataset with the generator; returns (path, expected scans),
    the latter None when not asked for."""
    path = os.path.join(directory, name)
    expect_file = path + ".json"
    command = [MKDATASET, mode, path] + [str(o) for o in options]
    if expect:
        command += ["--expect", expect_file]
    subprocess.run(command, check=True, stdout=subprocess.DEVNULL)
    if not expect:
        return path, None
    with open(expect_file, encoding="utf-8") as f:
        return path, json.load(f)["scans"]


def minutes_for_seconds(seconds):
    """A stored time in minutes that the reader turns into exactly `seconds`
    (minutes * 60.0), searching the doubles next to seconds / 60; None
    where there is none."""
    if not math.isfinite(seconds):
        return seconds
    minutes = seconds / 60.0
    candidates = [minutes]
    below = above = minutes
    for _ in range(8):
        below = math.nextafter(below, -math.inf)
        above = math.nextafter(above, math.inf)
        candidates += [below, above]
    for candidate in candidates:
        if candidate * 60.0 == seconds:
            return candidate
    return None


def set_retention_times(dataset, stride, minutes):
    """Overwrites the retention time of the first len(minutes) records."""
    path = os.path.join(dataset, "AcqData", "MSScan.bin")
    with open(path, "r+b") as f:
        table = bytearray(f.read())
        (payload,) = struct.unpack_from("<I", table, PAYLOAD_OFFSET_FIELD)
        for i, value in enumerate(minutes):
            struct.pack_into("<d", table, payload + i * stride + RETENTION_TIME_FIELD, value)
        f.seek(0)
        f.write(table)
