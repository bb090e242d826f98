// The numbers users type: in options, in the viewer's query, in the cells
// of a targets file or a transition list. One rule for all of them:
//
// - decimal digits, optionally with a fraction and an exponent for real
//   numbers ("524.3", ".5", "5.", "5.243e2"); whole numbers take digits only;
// - at most one leading '+' ("+5"; lists written by hand have it), a '-'
//   only where the value may be negative;
// - nothing around the number: no spaces (a cell's spaces are the
//   record reader's business), no thousands separators, no hexadecimal;
// - finite: "inf", "nan" and values beyond the type's range (1e999, 1e-400
//   as well, which would silently become 0) are refused.
#pragma once

#include <charconv>
#include <concepts>
#include <optional>
#include <string_view>
#include <system_error>

namespace velmoran::textio {

// `text` without its one allowed leading '+' (nullopt when a sign follows
// it, "+-5", or nothing does).
[[nodiscard]] inline std::optional<std::string_view> without_plus(std::string_view text) {
  if (!text.starts_with('+')) return text;
  text.remove_prefix(1);
  if (text.empty() || text[0] == '+' || text[0] == '-') return std::nullopt;
  return text;
}

// A finite real number; nullopt for anything else.
[[nodiscard]] std::optional<double> parse_finite(std::string_view text);

// A finite real number above 0 (an m/z, a tolerance, an energy).
[[nodiscard]] std::optional<double> parse_positive(std::string_view text);

// A whole number that fits T (a level, a channel, a count, an index).
template <std::integral T>
[[nodiscard]] std::optional<T> parse_whole(std::string_view text) {
  const auto digits = without_plus(text);
  if (!digits || digits->empty()) return std::nullopt;
  T value{};
  const char* const end = digits->data() + digits->size();
  const auto [stop, ec] = std::from_chars(digits->data(), end, value);
  if (ec != std::errc{} || stop != end) return std::nullopt;
  return value;
}

}  // namespace velmoran::textio
