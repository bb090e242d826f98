#include <velmoran/peak_picking.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

namespace velmoran {

namespace {

// ln 2 in two parts: the high part has trailing zero bits, so k * kLn2High
// is exact for the exponents that occur here.
constexpr double kLn2High = 6.93147180369123816490e-01;
constexpr double kLn2Low = 1.90821492927058770002e-10;
constexpr double kSqrtHalf = 0.70710678118654752440;

// Natural logarithm of a positive finite x from basic arithmetic: x = m 2^e
// with m in [sqrt(1/2), sqrt(2)), ln m = 2 atanh(s), s = (m - 1) / (m + 1),
// |s| < 0.172; the series to s^23 leaves an error below 1e-17.
double log_positive(double x) {
  int e = 0;
  double m = std::frexp(x, &e);
  if (m < kSqrtHalf) {
    m *= 2.0;
    --e;
  }
  const double s = (m - 1.0) / (m + 1.0);
  const double s2 = s * s;
  double series = 1.0 / 23.0;
  for (int k = 21; k >= 1; k -= 2) series = series * s2 + 1.0 / static_cast<double>(k);
  const auto exponent = static_cast<double>(e);
  return exponent * kLn2High + (exponent * kLn2Low + 2.0 * s * series);
}

// e^y from basic arithmetic: y = k ln 2 + r with |r| <= ln 2 / 2, e^r by
// its Taylor polynomial to r^15 (error below 1e-18), scaled by 2^k.
double exp_of(double y) {
  if (y > 1000.0) return std::numeric_limits<double>::infinity();
  if (y < -1000.0) return 0.0;
  const double k = std::floor(y / (kLn2High + kLn2Low) + 0.5);
  const double r = (y - k * kLn2High) - k * kLn2Low;
  double sum = 1.0;
  for (int n = 15; n >= 1; --n) sum = 1.0 + sum * r / static_cast<double>(n);
  return std::ldexp(sum, static_cast<int>(k));
}

float to_height(double value) {
  return static_cast<float>(std::min(value, double{std::numeric_limits<float>::max()}));
}

// The profile as the picker sees it: what is not a finite positive
// intensity at a finite m/z is zero.
class Profile {
 public:
  Profile(std::span<const double> mz, std::span<const float> intensity)
      : mz_(mz.data()),
        intensity_(intensity.data()),
        size_(std::min(mz.size(), intensity.size())) {}

  [[nodiscard]] std::size_t size() const noexcept { return size_; }
  [[nodiscard]] double mz(std::size_t i) const noexcept { return mz_[i]; }
  [[nodiscard]] double value(std::size_t i) const noexcept {
    const double y = intensity_[i];
    return std::isfinite(mz_[i]) && std::isfinite(y) && y > 0.0 ? y : 0.0;
  }

 private:
  const double* mz_;
  const float* intensity_;
  std::size_t size_;
};

struct Apex {
  double mz;
  float height;
};

// The apex of the peak whose highest points are first..last (equal values
// `top`), with `left` and `right` the values beside them (above zero, or
// zero beyond an end of the axis).
Apex fit_apex(const Profile& p, std::size_t first, std::size_t last, double top, double left,
              double right) {
  if (first != last) return {p.mz(first) + (p.mz(last) - p.mz(first)) / 2.0, to_height(top)};
  const std::size_t i = first;
  if (left > 0.0 && right > 0.0) {
    // Parabola through (-1, ln left), (0, ln top), (1, ln right); top is
    // strictly the highest, so the curvature is negative and the vertex
    // lies within half a step of i.
    const double la = log_positive(left);
    const double lb = log_positive(top);
    const double lc = log_positive(right);
    const double curvature = la - 2.0 * lb + lc;
    const double offset = 0.5 * (la - lc) / curvature;
    const double step = offset >= 0.0 ? p.mz(i + 1) - p.mz(i) : p.mz(i) - p.mz(i - 1);
    const double log_height = lb + 0.25 * (lc - la) * offset;
    return {p.mz(i) + offset * step, to_height(exp_of(log_height))};
  }
  // At an end of the axis: the intensity-weighted mean m/z of the point and
  // its one neighbour (none for a spectrum of one point).
  double shift = 0.0;
  if (left > 0.0) shift = -left * (p.mz(i) - p.mz(i - 1)) / (left + top);
  if (right > 0.0) shift = right * (p.mz(i + 1) - p.mz(i)) / (right + top);
  return {p.mz(i) + shift, to_height(top)};
}

// Calls emit(first, last, top, left, right) for each peak, in axis order.
template <class Emit>
void for_each_peak(const Profile& p, Emit&& emit) {
  const std::size_t n = p.size();
  std::size_t i = 0;
  double previous = 0.0;  // value of the point before i
  while (i < n) {
    const double top = p.value(i);
    if (top == 0.0) {
      previous = 0.0;
      ++i;
      continue;
    }
    std::size_t last = i;
    while (last + 1 < n && p.value(last + 1) == top) ++last;
    const double right = last + 1 < n ? p.value(last + 1) : 0.0;
    // Higher than both sides, and above zero on both: a point, or two,
    // alone between zeros is noise let through the instrument's threshold,
    // not a peak shape. Beyond an end of the axis there is nothing to ask.
    const bool left_ok = i == 0 || (previous > 0.0 && previous < top);
    const bool right_ok = last + 1 == n || (right > 0.0 && right < top);
    if (left_ok && right_ok) emit(i, last, top, previous, right);
    previous = top;
    i = last + 1;
  }
}

}  // namespace

std::size_t pick_peaks_into(std::span<const double> mz, std::span<const float> intensity,
                            std::span<double> out_mz, std::span<float> out_intensity) noexcept {
  const Profile profile(mz, intensity);
  const std::size_t capacity =
      std::min({out_mz.size(), out_intensity.size(), max_picked_peaks(profile.size())});
  std::size_t count = 0;
  for_each_peak(profile,
                [&](std::size_t first, std::size_t last, double top, double left, double right) {
                  if (count == capacity) return;
                  const Apex apex = fit_apex(profile, first, last, top, left, right);
                  out_mz[count] = apex.mz;
                  out_intensity[count] = apex.height;
                  ++count;
                });
  return count;
}

PickedPeaks pick_peaks(std::span<const double> mz, std::span<const float> intensity) {
  const Profile profile(mz, intensity);
  std::size_t count = 0;
  for_each_peak(profile, [&count](std::size_t, std::size_t, double, double, double) { ++count; });
  PickedPeaks peaks;
  peaks.mz.resize(count);
  peaks.intensity.resize(count);
  const std::size_t written = pick_peaks_into(mz, intensity, peaks.mz, peaks.intensity);
  peaks.mz.resize(written);
  peaks.intensity.resize(written);
  return peaks;
}

}  // namespace velmoran
