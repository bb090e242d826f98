// class Spectrum:                       # made by Run[i] and Run.spectra()
//     mz: Array                         # "d", the same Array on every read
//     intensity: Array                  # "f"
//     index: int                        # position in the scan table
//     scan_id: int
//     ms_level: int
//     rt_sec: float
//     precursor_mz: float | None
//     mrm_channel: int | None
//     mz_range: tuple[float, float] | None
//     centroided: bool                  # the points came from the peak block
//     error: str | None                 # why a block failed and left it empty
//     def __len__(self) -> int
//     def __repr__(self) -> str         # "Spectrum(scan 17, MS2, 300 points, RT 12.34 s)"
//     def __reduce__(self)              # by value (../toolkit/pickle.hpp)
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include <velmoran/raw/msscan.hpp>
#include <velmoran/reader.hpp>

#include "../toolkit/py_ref.hpp"

namespace velmoran::python::arrays {

// The Spectrum type, made on first use and kept for the life of the
// process (borrowed), or null with the exception set.
[[nodiscard]] PyTypeObject* spectrum_type() noexcept;

// A new Spectrum that takes over the arrays of `spectrum`, one of
// `reader`'s; null with the exception set. May throw std::bad_alloc
// (callers run inside guarded()).
[[nodiscard]] PyObject* make_spectrum(ScanSpectrum&& spectrum, const Reader& reader);

// A Spectrum's metadata, as make_spectrum_view() takes it.
struct SpectrumFields {
  std::size_t index = 0;
  std::uint32_t scan_id = 0;
  std::uint32_t ms_level = 0;
  double rt_sec = 0.0;
  std::optional<double> precursor_mz;
  std::optional<std::uint32_t> mrm_channel;
  std::optional<double> mz_low;
  std::optional<double> mz_high;
  bool centroided = false;
  std::optional<std::string> error;
};

// A new Spectrum of `fields` whose arrays are `mz` and `intensity` (Arrays
// of 'd' and 'f', `points` items: views into a Peaks' flat arrays); null
// with the exception set.
[[nodiscard]] PyObject* make_spectrum_view(PyRef mz, PyRef intensity, std::size_t points,
                                           const SpectrumFields& fields);

}  // namespace velmoran::python::arrays
