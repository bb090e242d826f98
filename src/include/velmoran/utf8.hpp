// Lossy UTF-8: file names are raw bytes on POSIX, and names, titles and
// targets files may hold anything. One rule serves the dataset's name and
// every text the program writes: each maximal invalid subsequence (a byte
// that cannot start a sequence, or the start of a sequence cut short)
// becomes one U+FFFD, as browsers and Python's "replace" do.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <velmoran/visibility.hpp>

namespace velmoran {

inline constexpr std::string_view kReplacementCharacter = "\xEF\xBF\xBD";  // U+FFFD

// The character at the start of non-empty `text`: a well-formed sequence
// (`valid`, its `length` in bytes and its `code_point`), or a maximal
// invalid subsequence of `length` bytes (at least 1) that stands for one
// U+FFFD (`valid` false, `code_point` 0xFFFD).
struct Utf8Character {
  std::size_t length = 1;
  char32_t code_point = 0xFFFD;
  bool valid = false;
};
[[nodiscard]] VELMORAN_EXPORT Utf8Character next_utf8(std::string_view text) noexcept;

// Calls `emit(bytes, code_point)` for each character of `text`: a valid
// sequence as it is, an invalid subsequence as U+FFFD's bytes.
template <class Emit>
void for_each_utf8(std::string_view text, Emit&& emit) {
  std::size_t i = 0;
  while (i < text.size()) {
    const Utf8Character c = next_utf8(text.substr(i));
    emit(c.valid ? text.substr(i, c.length) : kReplacementCharacter, c.code_point);
    i += c.length;
  }
}

// `bytes` with each maximal invalid subsequence replaced by U+FFFD; valid
// text is returned unchanged.
[[nodiscard]] VELMORAN_EXPORT std::string utf8_lossy(std::string_view bytes);

}  // namespace velmoran
