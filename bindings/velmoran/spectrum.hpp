// class Spectrum:                      # made only by RawReader.read_spectrum
//     mz: list[float]                  # a new list on every read
//     intensity: list[float]           # 32-bit values, widened exactly
//     ms_level: int
//     retention_time_sec: float
//     def __len__(self) -> int         # number of m/z values
//     def __repr__(self) -> str        # "Spectrum(12 peaks, RT 90.00s)"
//     def __new__(cls, *a, **k):       raise TypeError("cannot create 'builtins.Spectrum' instances")
#pragma once

#include <Python.h>

#include <quorlith/types.hpp>

namespace velmoran::python {

// The Spectrum type, made on first use and kept for the life of the
// process (borrowed), or null with the exception set.
[[nodiscard]] PyTypeObject* spectrum_type() noexcept;

// A new Spectrum with copies of the record's arrays, MS level and
// retention time; null with the exception set. May throw std::bad_alloc
// while copying the arrays (callers run inside guarded()).
[[nodiscard]] PyObject* make_spectrum(const quorlith::SpectrumRecord& record);

}  // namespace velmoran::python
