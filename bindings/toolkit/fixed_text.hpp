// A retention time as reprs show it, in Python terms:
//
//   "NaN" if isnan(x) else "inf"/"-inf" if isinf(x) else f"{x:.2f}"
//
// The exact value rounded to two decimals, ties to the even digit, never
// an exponent; "-0.00" for negative zero and negative values that round
// to zero. std::to_chars is exact and, unlike printf, does not depend on
// the locale's decimal point.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <cstddef>
#include <string_view>

namespace velmoran::python {

// Longest fixed text of a double with two decimals: a sign, 309 integer
// digits (DBL_MAX is about 1.8e308), the point and two digits.
inline constexpr std::size_t kFixedTextCapacity = 1 + 309 + 1 + 2;

struct FixedText {
  std::array<char, kFixedTextCapacity + 1> text{};  // NUL-terminated
  [[nodiscard]] const char* c_str() const noexcept { return text.data(); }
};

[[nodiscard]] inline FixedText fixed_two_decimals(double value) noexcept {
  FixedText out;
  std::string_view special;
  if (std::isnan(value)) {
    special = "NaN";
  } else if (std::isinf(value)) {
    special = value < 0 ? "-inf" : "inf";
  }
  if (!special.empty()) {
    special.copy(out.text.data(), special.size());
    return out;
  }
  // The capacity holds every finite double, so this cannot fail.
  std::to_chars(out.text.data(), out.text.data() + kFixedTextCapacity, value,
                std::chars_format::fixed, 2);
  return out;
}

}  // namespace velmoran::python
