#include <velmoran/analysis/window_sums.hpp>

#include <algorithm>
#include <cmath>

namespace velmoran::analysis {

namespace {

// Non-decreasing m/z, without NaN (a NaN fails every comparison): the
// whole array is checked without an early exit, which vectorises.
bool sorted_by_mz(std::span<const double> mz) {
  bool unsorted = false;
  for (std::size_t i = 1; i < mz.size(); ++i) unsorted |= !(mz[i - 1] <= mz[i]);
  return !unsorted;
}

}  // namespace

MzWindow ppm_window(double target, double ppm) {
  double tolerance = target * ppm / 1e6;
  if (std::isinf(tolerance) && std::isfinite(target) && std::isfinite(ppm)) {
    tolerance = target * (ppm / 1e6);
  }
  return {target - tolerance, target + tolerance};
}

MzWindow da_window(double target, double da) { return {target - da, target + da}; }

bool valid_tolerance(ToleranceUnit unit, double tolerance) noexcept {
  constexpr double kMostPpm = 1e6;
  if (!std::isfinite(tolerance) || !(tolerance > 0.0)) return false;
  return unit == ToleranceUnit::da || tolerance <= kMostPpm;
}

TargetWindows target_windows(std::span<const double> targets, ToleranceUnit unit,
                             double tolerance) {
  TargetWindows out;
  out.windows.reserve(targets.size());
  for (std::size_t i = 0; i < targets.size(); ++i) {
    const MzWindow window = unit == ToleranceUnit::ppm ? ppm_window(targets[i], tolerance)
                                                       : da_window(targets[i], tolerance);
    if (!std::isfinite(window.low) || !std::isfinite(window.high)) {
      out.unbounded = i;
      return out;
    }
    out.windows.push_back(window);
  }
  return out;
}

WindowSums::WindowSums(std::span<const MzWindow> windows) {
  windows_.reserve(windows.size());
  for (std::size_t i = 0; i < windows.size(); ++i) windows_.push_back({windows[i], i});
  std::stable_sort(windows_.begin(), windows_.end(),
                   [](const Ordered& a, const Ordered& b) { return a.window.low < b.window.low; });
}

constexpr int kLinearSteps = 8;

template <class MzAt, class IntensityAt>
void WindowSums::merge(std::size_t n, MzAt mz_at, IntensityAt intensity_at,
                       std::span<double> sums) const {
  // The first point at or above the current window's low end only moves
  // forward, since the windows are sorted by their low ends; each window
  // then sums from there while the points stay at or below its high end.
  std::size_t first = 0;
  for (const Ordered& ordered : windows_) {
    const MzWindow& window = ordered.window;
    // A few points one by one (windows close together), then galloping:
    // steps of 1, 2, 4, ... while below the low edge and a binary search in
    // the last step, so that a window thousands of points further costs a
    // few dozen comparisons.
    for (int i = 0; i < kLinearSteps && first < n && mz_at(first) < window.low; ++i) ++first;
    if (first < n && mz_at(first) < window.low) {
      std::size_t below = first;  // known to be below the low edge
      std::size_t step = 1;
      while (step < n - below && mz_at(below + step) < window.low) {
        below += step;
        step *= 2;
      }
      std::size_t end = step < n - below ? below + step : n;  // at or above, or the end
      while (end - below > 1) {
        const std::size_t middle = below + (end - below) / 2;
        if (mz_at(middle) < window.low) {
          below = middle;
        } else {
          end = middle;
        }
      }
      first = end;
    }
    double sum = 0.0;
    for (std::size_t i = first; i < n && mz_at(i) <= window.high; ++i) {
      sum += static_cast<double>(intensity_at(i));
    }
    sums[ordered.target] = sum;
  }
}

void WindowSums::compute(std::span<const double> mz, std::span<const float> intensity,
                         std::span<double> sums, Scratch& scratch, bool monotone) const {
  const std::size_t n = std::min(mz.size(), intensity.size());
  mz = mz.first(n);
  // A monotone axis is sorted when it does not fall from end to end (a NaN
  // end fails the test, and the full check decides).
  const bool sorted = monotone && n > 0 && mz.front() <= mz.back() ? true : sorted_by_mz(mz);
  if (sorted) {
    merge(
        n, [&](std::size_t i) { return mz[i]; }, [&](std::size_t i) { return intensity[i]; }, sums);
    return;
  }
  // A centroid list need not be sorted: sort a copy, NaN m/z left out (it
  // lies in no window and has no place in the order). The stable sort keeps
  // points of equal m/z in their order.
  scratch.clear();
  scratch.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (mz[i] == mz[i]) scratch.push_back({mz[i], intensity[i]});
  }
  std::stable_sort(scratch.begin(), scratch.end(),
                   [](const Point& a, const Point& b) { return a.mz < b.mz; });
  merge(
      scratch.size(), [&](std::size_t i) { return scratch[i].mz; },
      [&](std::size_t i) { return scratch[i].intensity; }, sums);
}

}  // namespace velmoran::analysis
