#include <velmoran/export/summary.hpp>

#include <algorithm>

namespace velmoran::exporting {

SpectrumSummary summarize(std::span<const double> mz, std::span<const float> intensity) {
  SpectrumSummary summary;
  const std::size_t n = std::min(mz.size(), intensity.size());
  summary.points = n;
  if (n == 0) return summary;
  // Three passes, each a short dependency chain the compiler can pipeline
  // (and, for the m/z range, vectorise), rather than one loop carrying all.
  double tic = 0.0;
  for (std::size_t i = 0; i < n; ++i) tic += static_cast<double>(intensity[i]);
  // Strictly greater keeps the first of equal maxima.
  std::size_t base = 0;
  float highest = intensity[0];
  for (std::size_t i = 1; i < n; ++i) {
    if (intensity[i] > highest) {
      highest = intensity[i];
      base = i;
    }
  }
  double low = mz[0];
  double high = mz[0];
  for (std::size_t i = 1; i < n; ++i) {
    low = mz[i] < low ? mz[i] : low;
    high = mz[i] > high ? mz[i] : high;
  }
  summary.total_ion_current = tic;
  summary.base_peak_mz = mz[base];
  summary.base_peak_intensity = static_cast<double>(intensity[base]);
  summary.lowest_mz = low;
  summary.highest_mz = high;
  return summary;
}

}  // namespace velmoran::exporting
