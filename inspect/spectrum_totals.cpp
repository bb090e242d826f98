#include <velmoran/inspect/spectrum_totals.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <cmath>
#include <cstdint>
#include <limits>

namespace velmoran::inspect {

namespace {

constexpr std::size_t kLanes = 8;
constexpr std::size_t kMaxLaneSumPoints = std::size_t{1} << 20;
constexpr float kTwo23 = 8388608.0F;     // from here on every float is whole
constexpr float kTwo32 = 4294967296.0F;  // 2^32 * 2^20 points = 2^52 < 2^53

// Sums in kLanes lanes and, with kCheck, reports whether every value was a
// whole number of magnitude at most 2^32 (NaN and infinities are not).
template <bool kCheck>
double lane_sum(std::span<const float> values, bool& whole) {
  std::array<double, kLanes> sums{};
  std::array<std::uint32_t, kLanes> ok;
  ok.fill(1);
  const std::size_t full = values.size() - values.size() % kLanes;
  const auto check = [](float v) -> std::uint32_t {
    const float a = std::fabs(v);
    // Below 2^23, adding and taking away 2^23 rounds to a whole number.
    const float rounded = (a + kTwo23) - kTwo23;
    return static_cast<std::uint32_t>(a <= kTwo32) &
           (static_cast<std::uint32_t>(a >= kTwo23) | static_cast<std::uint32_t>(rounded == a));
  };
  for (std::size_t i = 0; i < full; i += kLanes) {
    for (std::size_t j = 0; j < kLanes; ++j) {
      const float v = values[i + j];
      if constexpr (kCheck) ok[j] &= check(v);
      sums[j] += static_cast<double>(v);
    }
  }
  for (std::size_t i = full; i < values.size(); ++i) {
    if constexpr (kCheck) ok[0] &= check(values[i]);
    sums[0] += static_cast<double>(values[i]);
  }
  std::uint32_t all = 1;
  double total = 0.0;
  for (std::size_t j = 0; j < kLanes; ++j) {
    all &= ok[j];
    total += sums[j];
  }
  whole = all != 0;
  return total;
}

double sequential_sum(std::span<const float> values) {
  double total = 0.0;
  for (const float v : values) total += static_cast<double>(v);
  return total;
}

using Float4 = float __attribute__((vector_size(16)));

// The highest intensity, NaN left out (-inf when nothing is left): eight
// lanes in two vectors of four, which compile to packed max instructions.
float highest(std::span<const float> values) {
  constexpr float kInf = std::numeric_limits<float>::infinity();
  Float4 a = {-kInf, -kInf, -kInf, -kInf};
  Float4 b = a;
  const std::size_t full = values.size() - values.size() % kLanes;
  for (std::size_t i = 0; i < full; i += kLanes) {
    Float4 x;
    Float4 y;
    std::memcpy(&x, values.data() + i, sizeof x);
    std::memcpy(&y, values.data() + i + 4, sizeof y);
    // A NaN compares false and leaves the lane as it was.
    a = x > a ? x : a;
    b = y > b ? y : b;
  }
  float top = -kInf;
  for (int j = 0; j < 4; ++j) top = std::max({top, a[j], b[j]});
  for (std::size_t i = full; i < values.size(); ++i) top = values[i] > top ? values[i] : top;
  return top;
}

// The first point of the highest intensity: the highest found in lanes,
// then the first point that holds it.
std::size_t first_maximum(std::span<const float> values) {
  const float top = highest(values);
  // Eight points at a time up to the first group that holds it.
  const Float4 wanted = {top, top, top, top};
  const std::size_t full = values.size() - values.size() % kLanes;
  std::size_t from = 0;
  for (; from < full; from += kLanes) {
    Float4 x;
    Float4 y;
    std::memcpy(&x, values.data() + from, sizeof x);
    std::memcpy(&y, values.data() + from + 4, sizeof y);
    const auto equal = (x == wanted) | (y == wanted);
    if ((equal[0] | equal[1] | equal[2] | equal[3]) != 0) break;
  }
  for (std::size_t i = from; i < values.size(); ++i) {
    if (values[i] == top) return i;
  }
  return 0;  // every intensity NaN
}

}  // namespace

SpectrumTotals spectrum_totals(std::span<const float> intensity, bool whole_numbers) {
  SpectrumTotals totals;
  if (intensity.empty()) return totals;
  bool whole = whole_numbers;
  const double lanes =
      whole_numbers ? lane_sum<false>(intensity, whole) : lane_sum<true>(intensity, whole);
  totals.total_ion_current =
      whole && intensity.size() <= kMaxLaneSumPoints ? lanes : sequential_sum(intensity);
  totals.base_peak = first_maximum(intensity);
  return totals;
}

}  // namespace velmoran::inspect
