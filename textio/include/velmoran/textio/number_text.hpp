// Numbers as text: the shortest decimal that reads back to the same value,
// appended to a growing buffer (std::to_chars, no locale, no streams), and
// the one parser of the numbers that users type.
#pragma once

#include <array>
#include <charconv>
#include <cmath>
#include <concepts>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace velmoran::textio {

// Appends the shortest round-trip text of `value`: a double as a double, a
// float as a float (so 0.1f reads "0.1", not "0.10000000149011612").
template <class T>
requires std::floating_point<T> || std::integral<T>
inline void append_number(std::string& out, T value) {
  std::array<char, 32> text;
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value);
  out.append(text.data(), result.ptr);
}

template <class T>
requires std::floating_point<T> || std::integral<T>
[[nodiscard]] inline std::string number_text(T value) {
  std::string out;
  append_number(out, value);
  return out;
}

// A finite number written as a decimal (std::from_chars' general format:
// no leading '+', no hexadecimal, no spaces) with nothing around it;
// nullopt for anything else, NaN and infinities included.
[[nodiscard]] inline std::optional<double> parse_finite(std::string_view text) {
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  if (!std::isfinite(value)) return std::nullopt;
  return value;
}

}  // namespace velmoran::textio
