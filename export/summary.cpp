#include <velmoran/export/summary.hpp>

#include <algorithm>

namespace velmoran::exporting {

SpectrumSummary summarize(std::span<const double> mz, std::span<const float> intensity) {
  SpectrumSummary summary;
  const std::size_t n = std::min(mz.size(), intensity.size());
  summary.points = n;
  if (n == 0) return summary;
  double tic = 0.0;
  std::size_t base = 0;
  double low = mz[0];
  double high = mz[0];
  for (std::size_t i = 0; i < n; ++i) {
    tic += static_cast<double>(intensity[i]);
    // Strictly greater keeps the first of equal maxima.
    if (intensity[i] > intensity[base]) base = i;
    low = std::min(low, mz[i]);
    high = std::max(high, mz[i]);
  }
  summary.total_ion_current = tic;
  summary.base_peak_mz = mz[base];
  summary.base_peak_intensity = static_cast<double>(intensity[base]);
  summary.lowest_mz = low;
  summary.highest_mz = high;
  return summary;
}

}  // namespace velmoran::exporting
