// The values of a request's query as the API routes read them, and as
// their error messages quote them.
#pragma once

#include <charconv>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>

namespace velmoran::view {

// A plain decimal number of type T filling the whole text (no sign, no
// spaces), or nullopt.
template <class T>
std::optional<T> decimal(std::string_view text) {
  T value{};
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  if (text.empty() || ec != std::errc{} || end != text.data() + text.size()) return std::nullopt;
  return value;
}

// Quotes a parameter's value in a message, shortened when long.
inline std::string shown(std::string_view value) {
  constexpr std::size_t kShown = 40;
  std::string text = "\"";
  text.append(value.substr(0, kShown));
  if (value.size() > kShown) text += "...";
  return text + "\"";
}

}  // namespace velmoran::view
