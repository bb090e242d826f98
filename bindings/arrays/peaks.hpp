// class Peaks:                          # made by Run.peaks()
//     mz: Array                         # "d", every point of every spectrum
//     intensity: Array                  # "f"
//     offsets: Array                    # "q", n + 1: spectrum k is mz[offsets[k]:offsets[k+1]]
//     index: Array                      # "q", the scan positions selected
//     errors: dict[int, str]            # scan position -> why its blocks failed
//                                       # (its spectrum is empty); a new dict each time
//     def __len__(self) -> int          # n, the number of spectra
//     def __repr__(self) -> str         # "Peaks(1000 spectra, 20000000 points)"
#pragma once

#include <Python.h>

#include <cstddef>
#include <vector>

#include "../toolkit/gather_peaks.hpp"

namespace velmoran::python::arrays {

[[nodiscard]] PyTypeObject* peaks_type() noexcept;

// A new Peaks of `flat` for the scans at `positions`; null with the
// exception set.
[[nodiscard]] PyObject* make_peaks(FlatPeaks&& flat, std::vector<std::size_t>&& positions);

}  // namespace velmoran::python::arrays
