#include <velmoran/peak_picking.hpp>

#include <algorithm>
#include <array>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

namespace velmoran {

namespace {

// Eight flag bytes are read as one word, the first in its lowest byte.
static_assert(std::endian::native == std::endian::little, "flag words assume little-endian");

// ln 2 in two parts: the high part has trailing zero bits, so k * kLn2High
// is exact for the exponents that occur here.
constexpr double kLn2High = 6.93147180369123816490e-01;
constexpr double kLn2Low = 1.90821492927058770002e-10;
constexpr double kSqrtHalf = 0.70710678118654752440;

// 1/(2k + 1) for k = 0..9.
constexpr std::array<double, 10> kInverseOdds = [] {
  std::array<double, 10> table{};
  for (std::size_t k = 0; k < table.size(); ++k) table[k] = 1.0 / static_cast<double>(2 * k + 1);
  return table;
}();

// Natural logarithm of a positive normal x from basic arithmetic: x = m 2^e
// with m in [sqrt(1/2), sqrt(2)) taken from the bits, ln m = 2 atanh(s),
// s = (m - 1) / (m + 1), |s| < 0.172; the series to s^19 leaves an error
// below 1e-17.
double log_positive(double x) {
  const auto bits = std::bit_cast<std::uint64_t>(x);
  int e = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
  double m = std::bit_cast<double>((bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL);
  if (m > 2.0 * kSqrtHalf) {
    m *= 0.5;
    ++e;
  }
  const double s = (m - 1.0) / (m + 1.0);
  const double s2 = s * s;
  double series = kInverseOdds.back();
  for (std::size_t k = kInverseOdds.size() - 1; k-- > 0;) series = series * s2 + kInverseOdds[k];
  const auto exponent = static_cast<double>(e);
  return exponent * kLn2High + (exponent * kLn2Low + 2.0 * s * series);
}

// 1/k! for k = 0..15.
constexpr std::array<double, 16> kInverseFactorials = [] {
  std::array<double, 16> table{};
  double factorial = 1.0;
  for (std::size_t k = 0; k < table.size(); ++k) {
    if (k > 0) factorial *= static_cast<double>(k);
    table[k] = 1.0 / factorial;
  }
  return table;
}();

// e^y from basic arithmetic: y = k ln 2 + r with |r| <= ln 2 / 2, e^r by
// its Taylor polynomial to r^15 (error below 1e-18), scaled by 2^k.
double exp_of(double y) {
  if (y > 1000.0) return std::numeric_limits<double>::infinity();
  if (y < -1000.0) return 0.0;
  const double k = std::floor(y / (kLn2High + kLn2Low) + 0.5);
  const double r = (y - k * kLn2High) - k * kLn2Low;
  double sum = kInverseFactorials.back();
  for (std::size_t n = kInverseFactorials.size() - 1; n-- > 0;)
    sum = sum * r + kInverseFactorials[n];
  return k == 0.0 ? sum : std::ldexp(sum, static_cast<int>(k));
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
  // The intensity is tested first: most profile points are zero, and their
  // m/z need not be loaded at all.
  [[nodiscard]] double value(std::size_t i) const noexcept {
    const float y = intensity_[i];
    if (!(y > 0.0f) || y == std::numeric_limits<float>::infinity()) return 0.0;
    return std::isfinite(mz_[i]) ? double{y} : 0.0;
  }
  [[nodiscard]] const float* intensities() const noexcept { return intensity_; }

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
Apex fit(const Profile& p, std::size_t first, std::size_t last, double top, double left,
         double right) {
  if (first != last) return {p.mz(first) + (p.mz(last) - p.mz(first)) / 2.0, to_height(top)};
  const std::size_t i = first;
  if (left > 0.0 && right > 0.0) {
    // Parabola through (-1, ln left/top), (0, 0), (1, ln right/top); top
    // is strictly the highest, so the curvature is negative and the vertex
    // lies within half a step of i. The ratios lie in (0, 1) and are
    // normal doubles (at least 2^-149 / 2^128).
    const double la = log_positive(left / top);
    const double lc = log_positive(right / top);
    const double curvature = la + lc;
    const double offset = 0.5 * (la - lc) / curvature;
    const double step = offset >= 0.0 ? p.mz(i + 1) - p.mz(i) : p.mz(i) - p.mz(i - 1);
    const double log_rise = 0.25 * (lc - la) * offset;
    return {p.mz(i) + offset * step, to_height(top * exp_of(log_rise))};
  }
  // At an end of the axis: the intensity-weighted mean m/z of the point and
  // its one neighbour (none for a spectrum of one point).
  double shift = 0.0;
  if (left > 0.0) shift = -left * (p.mz(i) - p.mz(i - 1)) / (left + top);
  if (right > 0.0) shift = right * (p.mz(i + 1) - p.mz(i)) / (right + top);
  return {p.mz(i) + shift, to_height(top)};
}

// The same, kept on the highest point where the m/z arithmetic overflows
// (neighbours further apart than the double range: arrays made by hand).
Apex fit_apex(const Profile& p, std::size_t first, std::size_t last, double top, double left,
              double right) {
  Apex apex = fit(p, first, last, top, left, right);
  if (!std::isfinite(apex.mz)) apex.mz = p.mz(first);
  return apex;
}

// Calls emit(first, last, top, left, right) for the peak whose highest
// points start at i, if one does.
template <class Emit>
void peak_at(const Profile& p, std::size_t i, Emit& emit) {
  const std::size_t n = p.size();
  const double top = p.value(i);
  if (top == 0.0) return;
  // Higher than both sides, and above zero on both: a point, or two,
  // alone between zeros is noise let through the instrument's threshold,
  // not a peak shape. Beyond an end of the axis there is nothing to ask.
  const double left = i > 0 ? p.value(i - 1) : 0.0;
  if (i > 0 && !(left > 0.0 && left < top)) return;
  std::size_t last = i;
  while (last + 1 < n && p.value(last + 1) == top) ++last;
  const double right = last + 1 < n ? p.value(last + 1) : 0.0;
  if (last + 1 < n && !(right > 0.0 && right < top)) return;
  emit(i, last, top, left, right);
}

// Calls emit(first, last, top, left, right) for each peak, in axis order.
// A first pass over the raw intensities, without branches, keeps the points
// that rise above a left neighbour above zero and do not fall below a right
// one above zero (every peak inside the axis starts at such a point, and
// most profile points are not one); the full test runs on those alone.
template <class Emit>
void for_each_peak(const Profile& p, Emit&& emit) {
  const std::size_t n = p.size();
  if (n == 0) return;
  const float* y = p.intensities();
  if (n == 1 || y[0] >= y[1]) peak_at(p, 0, emit);
  // One flag byte per point, made by a loop the compiler vectorises; then
  // eight flags at a time, skipping the (many) words without one.
  constexpr std::size_t kChunk = 512;
  std::array<std::uint8_t, kChunk> flags;
  for (std::size_t start = 1; start + 1 < n; start += kChunk) {
    const std::size_t length = std::min(n - 1 - start, kChunk);
    const float* left = y + start - 1;
    const float* here = y + start;
    const float* right = y + start + 1;
    for (std::size_t j = 0; j < length; ++j) {
      flags[j] = static_cast<std::uint8_t>((here[j] > left[j]) & (here[j] >= right[j]) &
                                           (left[j] > 0.0f) & (right[j] > 0.0f));
    }
    std::fill(flags.begin() + static_cast<std::ptrdiff_t>(length),
              flags.begin() + static_cast<std::ptrdiff_t>((length + 7) / 8 * 8), std::uint8_t{0});
    for (std::size_t j = 0; j < length; j += 8) {
      std::uint64_t word = 0;
      std::memcpy(&word, flags.data() + j, sizeof word);
      while (word != 0) {
        peak_at(p, start + j + static_cast<std::size_t>(std::countr_zero(word)) / 8, emit);
        word &= word - 1;
      }
    }
  }
  if (n > 1 && y[n - 1] > y[n - 2]) peak_at(p, n - 1, emit);
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
