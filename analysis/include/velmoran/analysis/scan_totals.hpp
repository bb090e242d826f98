// A spectrum's total ion current and base peak, with one rule for a
// spectrum without points: total ion current 0, base-peak intensity 0,
// base-peak m/z NaN (no m/z to give; an empty cell in text). The scans
// command, convert's chromatograms and the Python module's tic(), bpc()
// and scans_frame(totals=True) all take their values from here.
#pragma once

#include <atomic>
#include <cstddef>
#include <limits>
#include <span>
#include <vector>

#include <quorlith/types.hpp>

#include <velmoran/reader.hpp>
#include <velmoran/representation.hpp>

namespace velmoran::analysis {

struct ScanTotals {
  Representation representation = Representation::empty;
  // The intensities summed in double in point order.
  double total_ion_current = 0.0;
  // The first point of the highest intensity (NaN left out; the first
  // point when every intensity is NaN).
  double base_peak_mz = std::numeric_limits<double>::quiet_NaN();
  float base_peak_intensity = 0.0F;
};

// The totals of points (`mz`, `intensity`; the shorter length counts).
// `whole_numbers`: the caller knows every intensity to be a whole number
// in [0, 2^32], as a profile's are (analysis::spectrum_totals).
[[nodiscard]] ScanTotals point_totals(std::span<const double> mz, std::span<const float> intensity,
                                      bool whole_numbers = false);

// The totals of `record`, one of `reader`'s spectra, and its representation.
[[nodiscard]] ScanTotals scan_totals(const Reader& reader, const quorlith::SpectrumRecord& record);

// The totals of the scans at `positions`, read on `threads` threads until
// `stop` is set (the rest are then left as for an empty spectrum).
[[nodiscard]] std::vector<ScanTotals> scan_totals(const Reader& reader,
                                                  std::span<const std::size_t> positions,
                                                  unsigned threads, const std::atomic<bool>& stop);

}  // namespace velmoran::analysis
