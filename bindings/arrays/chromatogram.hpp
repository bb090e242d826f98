// class Chromatogram:                  # made by Run.channels(), Run.tic(), Run.bpc()
//     channel: int | None               # the MRM channel; None for a TIC or BPC
//     index: Array                      # 'q': the scans' positions in the table
//     rt_sec: Array                     # 'd': their times in seconds
//     intensity: Array                  # 'd': the sum of each scan's intensities
//                                       #      (a BPC: its base-peak intensity)
//     mz: Array | None                  # 'd': a BPC's base-peak m/z (NaN: empty spectrum)
//     q1: float | None                  # precursor m/z from the transition list
//     q3: float | None                  # product m/z from the transition list
//     collision_energy: float | None    # from the list, when it gives one
//     name: str | None                  # from the list, when it gives one
//     def __len__(self) -> int          # points
//     def __repr__(self) -> str         # "Chromatogram(channel=3, 120 points, Q1=412.75, Q3=183.125)",
//                                       # "Chromatogram(TIC, 1200 points)"
//     def __reduce__(self)              # by value (../toolkit/pickle.hpp)
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <vector>

#include <velmoran/mrm/channel_chromatograms.hpp>
#include <velmoran/mrm/transitions.hpp>

namespace velmoran::python::arrays {

enum class TraceKind { kChannel, kTotalIonCurrent, kBasePeak };

// The Chromatogram type, made on first use and kept for the life of the
// process (borrowed), or null with the exception set.
[[nodiscard]] PyTypeObject* chromatogram_type() noexcept;

// A new Chromatogram that owns the arrays of `chromatogram`; `transition`
// (may be null) gives q1, q3, collision_energy and name. Null with the
// exception set.
[[nodiscard]] PyObject* make_chromatogram(mrm::ChannelChromatogram&& chromatogram,
                                          const mrm::Transition* transition);

// A TIC or BPC over the scans at `positions`; `mz` the BPC's base-peak m/z.
[[nodiscard]] PyObject* make_trace_chromatogram(TraceKind kind,
                                                std::vector<std::size_t>&& positions,
                                                std::vector<double>&& rt_sec,
                                                std::vector<double>&& intensity,
                                                std::optional<std::vector<double>>&& mz);

}  // namespace velmoran::python::arrays
