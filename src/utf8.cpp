#include <velmoran/utf8.hpp>

#include <cstdint>

namespace velmoran {

Utf8Character next_utf8(std::string_view text) noexcept {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(text[k]); };
  const std::uint8_t b0 = byte(0);
  if (b0 < 0x80) return {1, b0, true};
  std::size_t need = 0;
  char32_t value = 0;
  std::uint8_t lo = 0x80;
  std::uint8_t hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
    value = b0 & 0x1Fu;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    value = b0 & 0x0Fu;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    value = b0 & 0x07u;
    if (b0 == 0xF0) lo = 0x90;  // no overlong forms
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return {};
  }
  for (std::size_t k = 1; k <= need; ++k) {
    if (k >= text.size()) return {k, 0xFFFD, false};
    const std::uint8_t b = byte(k);
    if (b < lo || b > hi) return {k, 0xFFFD, false};
    value = (value << 6) | (b & 0x3Fu);
    lo = 0x80;
    hi = 0xBF;
  }
  return {need + 1, value, true};
}

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for_each_utf8(bytes, [&](std::string_view piece, char32_t) { out += piece; });
  return out;
}

}  // namespace velmoran
