// Per-spectrum summaries: total ion current, base peak, observed m/z range.
#pragma once

#include <cstddef>
#include <optional>
#include <span>

namespace velmoran::exporting {

struct SpectrumSummary {
  std::size_t points = 0;
  // Sum of the intensities, accumulated in double in point order.
  double total_ion_current = 0.0;
  // The first point of the highest intensity; absent for an empty spectrum.
  std::optional<double> base_peak_mz;
  std::optional<double> base_peak_intensity;
  // Lowest and highest m/z of any point (a centroid list need not be sorted).
  std::optional<double> lowest_mz;
  std::optional<double> highest_mz;
};

[[nodiscard]] SpectrumSummary summarize(std::span<const double> mz,
                                        std::span<const float> intensity);

}  // namespace velmoran::exporting
