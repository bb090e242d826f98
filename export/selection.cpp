#include <velmoran/export/selection.hpp>

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>
#include <vector>

namespace velmoran::exporting {

namespace {

// Keeps the points for which keep(i) holds, in order, in place.
template <class Keep>
void keep_points(quorlith::SpectrumRecord& record, Keep&& keep) {
  const std::size_t n = std::min(record.mz.size(), record.intensity.size());
  std::size_t w = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!keep(i)) continue;
    record.mz[w] = record.mz[i];
    record.intensity[w] = record.intensity[i];
    ++w;
  }
  record.mz.resize(w);
  record.intensity.resize(w);
}

void drop_zeros(quorlith::SpectrumRecord& record) {
  const auto& y = record.intensity;
  const std::size_t n = std::min(record.mz.size(), y.size());
  // The value before the point being decided, as read (the compaction may
  // already have moved another point into its place).
  float before = 0.0f;
  keep_points(record, [&](std::size_t i) {
    const float here = y[i];
    const bool keep = here != 0.0f || (i > 0 && before != 0.0f) || (i + 1 < n && y[i + 1] != 0.0f);
    before = here;
    return keep;
  });
}

// NaN ranks below every number.
float rank_of(float value) {
  return std::isnan(value) ? -std::numeric_limits<float>::infinity() : value;
}

void keep_top(quorlith::SpectrumRecord& record, std::size_t top, std::vector<float>& scratch) {
  const std::size_t n = std::min(record.mz.size(), record.intensity.size());
  if (n <= top) return;
  if (top == 0) {
    record.mz.clear();
    record.intensity.clear();
    return;
  }
  scratch.resize(n);
  std::transform(record.intensity.begin(),
                 record.intensity.begin() + static_cast<std::ptrdiff_t>(n), scratch.begin(),
                 rank_of);
  // The top-th largest rank: everything above it stays, and of the points
  // equal to it the first ones in m/z order, up to top.
  const auto nth = scratch.begin() + static_cast<std::ptrdiff_t>(top - 1);
  std::nth_element(scratch.begin(), nth, scratch.end(), std::greater<float>());
  const float cut = *nth;
  const auto above = static_cast<std::size_t>(
      std::count_if(scratch.begin(), scratch.end(), [cut](float v) { return v > cut; }));
  std::size_t equal_left = top - above;
  keep_points(record, [&](std::size_t i) {
    const float rank = rank_of(record.intensity[i]);
    if (rank > cut) return true;
    if (rank == cut && equal_left > 0) {
      --equal_left;
      return true;
    }
    return false;
  });
}

}  // namespace

ShapedPoints shape_points(quorlith::SpectrumRecord& record, bool profile,
                          const PointOptions& options, std::vector<float>& scratch) {
  ShapedPoints shaped{profile, false};
  if (analysis::apply_peak_mode(record, profile, options.peaks)) shaped = {false, true};
  // The most intense points are kept in m/z order; --top then keeps the
  // lower m/z among equal intensities.
  if (options.peaks == PeakMode::kProfile && options.top) analysis::sort_by_mz(record);
  if (shaped.profile && options.drop_zeros) drop_zeros(record);
  if (options.mz_window) {
    const double low = options.mz_window->first;
    const double high = options.mz_window->second;
    keep_points(record, [&](std::size_t i) { return record.mz[i] >= low && record.mz[i] <= high; });
  }
  if (options.min_intensity) {
    const double floor = *options.min_intensity;
    keep_points(record, [&](std::size_t i) { return double{record.intensity[i]} >= floor; });
  }
  if (options.top) keep_top(record, *options.top, scratch);
  return shaped;
}

}  // namespace velmoran::exporting
