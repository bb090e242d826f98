#include <velmoran/analysis/spectrum_totals.hpp>

#include <algorithm>
#include <array>
#include <cstring>
#include <cmath>
#include <cstdint>
#include <limits>
#include <tuple>
#include <utility>

namespace velmoran::analysis {

namespace {

constexpr std::size_t kLanes = 8;
constexpr std::size_t kMaxLaneSumPoints = std::size_t{1} << 20;
constexpr float kTwo23 = 8388608.0F;     // from here on every float is whole
constexpr float kTwo32 = 4294967296.0F;  // 2^32 * 2^20 points = 2^52 < 2^53

// Sums in kLanes lanes and reports whether every value was a whole number
// of magnitude at most 2^32 (NaN and infinities are not).
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
      ok[j] &= check(v);
      sums[j] += static_cast<double>(v);
    }
  }
  for (std::size_t i = full; i < values.size(); ++i) {
    ok[0] &= check(values[i]);
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

// Eight values as two vectors of four, read from `p` on.
struct Eight {
  Float4 low;
  Float4 high;
};
Eight load_eight(const float* p) {
  Eight e;
  std::memcpy(&e.low, p, sizeof e.low);
  std::memcpy(&e.high, p + 4, sizeof e.high);
  return e;
}

// The highest value in eight lanes, two vectors of four, which compile to
// packed max instructions; a NaN compares false and leaves its lane as it
// was.
class HighestLanes {
 public:
  void take(const Eight& e) {
    low_ = e.low > low_ ? e.low : low_;
    high_ = e.high > high_ ? e.high : high_;
  }
  // The highest of the lanes and of `tail`; -inf when nothing but NaN
  // was taken.
  [[nodiscard]] float top(std::span<const float> tail) const {
    float top = -kInf;
    for (int j = 0; j < 4; ++j) top = std::max({top, low_[j], high_[j]});
    for (const float v : tail) top = v > top ? v : top;
    return top;
  }

 private:
  static constexpr float kInf = std::numeric_limits<float>::infinity();
  Float4 low_ = {-kInf, -kInf, -kInf, -kInf};
  Float4 high_ = low_;
};

// The highest intensity, NaN left out (-inf when nothing is left).
float highest(std::span<const float> values) {
  HighestLanes lanes;
  const std::size_t full = values.size() - values.size() % kLanes;
  for (std::size_t i = 0; i < full; i += kLanes) lanes.take(load_eight(values.data() + i));
  return lanes.top(values.subspan(full));
}

// The first point that holds `top`; 0 when none does (every intensity NaN).
std::size_t first_holding(std::span<const float> values, float top) {
  // Eight points at a time up to the first group that holds it.
  const Float4 wanted = {top, top, top, top};
  const std::size_t full = values.size() - values.size() % kLanes;
  std::size_t from = 0;
  for (; from < full; from += kLanes) {
    const Eight e = load_eight(values.data() + from);
    const auto equal = (e.low == wanted) | (e.high == wanted);
    if ((equal[0] | equal[1] | equal[2] | equal[3]) != 0) break;
  }
  for (std::size_t i = from; i < values.size(); ++i) {
    if (values[i] == top) return i;
  }
  return 0;  // every intensity NaN
}

// For intensities known to be whole numbers: the lane sum and the highest
// value in one pass (four double lanes, eight float lanes).
std::pair<double, float> whole_sum_and_highest(std::span<const float> values) {
  using Double2 = double __attribute__((vector_size(16)));
  HighestLanes lanes;
  Double2 s0 = {0.0, 0.0};
  Double2 s1 = s0;
  Double2 s2 = s0;
  Double2 s3 = s0;
  const std::size_t full = values.size() - values.size() % kLanes;
  for (std::size_t i = 0; i < full; i += kLanes) {
    const Eight e = load_eight(values.data() + i);
    lanes.take(e);
    s0 += Double2{static_cast<double>(e.low[0]), static_cast<double>(e.low[1])};
    s1 += Double2{static_cast<double>(e.low[2]), static_cast<double>(e.low[3])};
    s2 += Double2{static_cast<double>(e.high[0]), static_cast<double>(e.high[1])};
    s3 += Double2{static_cast<double>(e.high[2]), static_cast<double>(e.high[3])};
  }
  const Double2 s = (s0 + s1) + (s2 + s3);
  double total = s[0] + s[1];
  for (std::size_t i = full; i < values.size(); ++i) total += static_cast<double>(values[i]);
  return {total, lanes.top(values.subspan(full))};
}

}  // namespace

SpectrumTotals spectrum_totals(std::span<const float> intensity, bool whole_numbers) {
  SpectrumTotals totals;
  if (intensity.empty()) return totals;
  float top = 0.0F;
  if (whole_numbers && intensity.size() <= kMaxLaneSumPoints) {
    std::tie(totals.total_ion_current, top) = whole_sum_and_highest(intensity);
  } else {
    bool whole = false;
    const double lanes = lane_sum(intensity, whole);
    totals.total_ion_current =
        whole && intensity.size() <= kMaxLaneSumPoints ? lanes : sequential_sum(intensity);
    top = highest(intensity);
  }
  totals.base_peak = first_holding(intensity, top);
  return totals;
}

}  // namespace velmoran::analysis
