// Per-spectrum summaries: total ion current, base peak, observed m/z range.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <utility>

namespace velmoran::analysis {

struct SpectrumSummary {
  std::size_t points = 0;
  // Sum of the intensities, accumulated in double in point order.
  double total_ion_current = 0.0;
  // The first point of the highest intensity (NaN left out); absent for an
  // empty spectrum.
  std::optional<double> base_peak_mz;
  std::optional<double> base_peak_intensity;
  // Lowest and highest m/z of any point (a centroid list need not be
  // sorted); absent when there is none that is a number.
  std::optional<double> lowest_mz;
  std::optional<double> highest_mz;
};

// `whole_numbers`: the caller knows every intensity to be a whole number in
// [0, 2^32], as a profile's are (see spectrum_totals()).
[[nodiscard]] SpectrumSummary summarize(std::span<const double> mz,
                                        std::span<const float> intensity,
                                        bool whole_numbers = false);

// Lowest and highest value, NaN left out, in independent lanes; low > high
// when nothing is left (an empty span, or every value NaN).
[[nodiscard]] std::pair<double, double> bounds(std::span<const double> values);

}  // namespace velmoran::analysis
