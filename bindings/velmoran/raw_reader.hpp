// class RawReader:
//     """RawReader(path)"""
//     def __new__(cls, path: str) -> RawReader      # reads and decodes every scan
//     scan_count: int                               # read-only
//     def read_spectrum(self, scan_index: int) -> Spectrum
//     def __repr__(self) -> str                     # "RawReader('run.d', 1200 scans)"
#pragma once

#include <Python.h>

namespace velmoran::python {

// The RawReader type, made on first use and kept for the life of the
// process (borrowed), or null with the exception set.
[[nodiscard]] PyTypeObject* raw_reader_type() noexcept;

}  // namespace velmoran::python
