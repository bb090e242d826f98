#include <velmoran/analysis/spectrum_summary.hpp>

#include <algorithm>
#include <array>
#include <limits>

#include <velmoran/analysis/spectrum_totals.hpp>

namespace velmoran::analysis {

SpectrumSummary summarize(std::span<const double> mz, std::span<const float> intensity,
                          bool whole_numbers) {
  SpectrumSummary summary;
  const std::size_t n = std::min(mz.size(), intensity.size());
  summary.points = n;
  if (n == 0) return summary;
  const SpectrumTotals totals = spectrum_totals(intensity.first(n), whole_numbers);
  summary.total_ion_current = totals.total_ion_current;
  summary.base_peak_mz = mz[totals.base_peak];
  summary.base_peak_intensity = static_cast<double>(intensity[totals.base_peak]);
  const auto [low, high] = bounds(mz.first(n));
  if (low <= high) {
    summary.lowest_mz = low;
    summary.highest_mz = high;
  }
  return summary;
}

std::pair<double, double> bounds(std::span<const double> values) {
  // Eight independent lanes instead of one chain of dependent comparisons;
  // a NaN compares false and leaves a lane as it was.
  constexpr std::size_t kLanes = 8;
  constexpr double kInf = std::numeric_limits<double>::infinity();
  std::array<double, kLanes> low;
  std::array<double, kLanes> high;
  low.fill(kInf);
  high.fill(-kInf);
  const std::size_t whole = values.size() - values.size() % kLanes;
  for (std::size_t i = 0; i < whole; i += kLanes) {
    for (std::size_t j = 0; j < kLanes; ++j) {
      const double v = values[i + j];
      low[j] = v < low[j] ? v : low[j];
      high[j] = v > high[j] ? v : high[j];
    }
  }
  for (std::size_t i = whole; i < values.size(); ++i) {
    low[0] = values[i] < low[0] ? values[i] : low[0];
    high[0] = values[i] > high[0] ? values[i] : high[0];
  }
  return {*std::min_element(low.begin(), low.end()), *std::max_element(high.begin(), high.end())};
}

}  // namespace velmoran::analysis
