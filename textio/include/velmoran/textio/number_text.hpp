// Numbers as text: the shortest decimal that reads back to the same value,
// appended to a growing buffer (std::to_chars, no locale, no streams).
// Reading the numbers users type is numbers.hpp's.
#pragma once

#include <array>
#include <charconv>
#include <concepts>
#include <string>

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

}  // namespace velmoran::textio
