// class Peaks:                          # made by Run.peaks()
//     mz: Array                         # "d", every point of every spectrum
//     intensity: Array                  # "f"
//     offsets: Array                    # "q", n + 1: spectrum k is mz[offsets[k]:offsets[k+1]]
//     index: Array                      # "q", the scan positions selected
//     scan_id, ms_level, mrm_channel: Array   # "q", per spectrum; mrm_channel -1 where absent
//     rt_sec, precursor_mz, mz_low, mz_high: Array   # "d", per spectrum; NaN where absent
//     centroided: Array                 # "B", per spectrum: 1 where its points are centroids
//     errors: dict[int, str]            # scan position -> why its blocks failed
//                                       # (its spectrum is empty); a new dict each time
//     def __len__(self) -> int          # n, the number of spectra
//     def __getitem__(self, k) -> Spectrum   # arrays are views into mz and intensity;
//                                       # negative k from the end; IndexError, TypeError
//     def __iter__(self)                # peaks[0], peaks[1], ...
//     def tic(self) -> Array            # "d": each spectrum's intensities summed in point order
//     def base_peak(self) -> tuple[Array, Array]   # "d", "f": the first highest point
//                                       # (NaN and 0 for an empty spectrum)
//     def frame(self) -> pandas.DataFrame   # index, scan_id, rt_sec, mz, intensity: a row a point
//     def __repr__(self) -> str         # "Peaks(1000 spectra, 20000000 points)"
//     def __reduce__(self)              # by value (../toolkit/pickle.hpp)
#pragma once

#include <Python.h>

#include <cstddef>
#include <vector>

#include <velmoran/analysis/gather_peaks.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::python::arrays {

[[nodiscard]] PyTypeObject* peaks_type() noexcept;

// A new Peaks of `flat` for the scans at `positions` of `reader`'s table;
// null with the exception set.
[[nodiscard]] PyObject* make_peaks(analysis::FlatPeaks&& flat, std::vector<std::size_t>&& positions,
                                   const Reader& reader);

}  // namespace velmoran::python::arrays
