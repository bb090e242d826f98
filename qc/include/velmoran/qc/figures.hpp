// What the quality metrics need of one spectrum, taken in the one pass over
// a run: its level, time, points, total ion current, base peak and
// precursor. The metrics are computed from these alone, so no block is read
// twice.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <quorlith/types.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::qc {

struct SpectrumFigures {
  std::string native_id;
  std::uint32_t ms_level = 0;
  double retention_time_sec = 0.0;
  // Points of the spectrum as convert writes it (0 for an empty one).
  std::uint64_t points = 0;
  // Sum of the intensities (0 for an empty spectrum), as the scans table
  // and convert's TIC chromatogram give it.
  double total_ion_current = 0.0;
  // Highest intensity (0 for an empty spectrum), as convert's base peak
  // chromatogram gives it.
  double base_peak_intensity = 0.0;
  std::optional<double> precursor_mz;
  // A block of the scan could not be read or decoded and left it without
  // points: the spectrum is damaged, not empty.
  bool unreadable = false;
};

// The figures of `spectrum`, one of `reader`'s spectra as read_spectrum()
// gives it (the error of a block that failed beside the record).
[[nodiscard]] SpectrumFigures figures_of(const Reader& reader, const ScanSpectrum& spectrum);

}  // namespace velmoran::qc
