#include "utf8_lossy.hpp"

#include <cstdint>

namespace velmoran {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";

// Length of the valid sequence starting at `i`, or the length of the
// maximal invalid subpart to replace (at least 1) negated.
int next_sequence(std::string_view s, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint8_t>(s[k]); };
  const std::uint8_t b0 = byte(i);
  if (b0 < 0x80) return 1;
  int need;
  std::uint8_t lo = 0x80;
  std::uint8_t hi = 0xBF;
  if (b0 >= 0xC2 && b0 <= 0xDF) {
    need = 1;
  } else if (b0 >= 0xE0 && b0 <= 0xEF) {
    need = 2;
    if (b0 == 0xE0) lo = 0xA0;  // no overlong forms
    if (b0 == 0xED) hi = 0x9F;  // no surrogates
  } else if (b0 >= 0xF0 && b0 <= 0xF4) {
    need = 3;
    if (b0 == 0xF0) lo = 0x90;  // no overlong forms
    if (b0 == 0xF4) hi = 0x8F;  // nothing above U+10FFFF
  } else {
    return -1;
  }
  for (int k = 1; k <= need; ++k) {
    const std::size_t at = i + static_cast<std::size_t>(k);
    if (at >= s.size()) return -k;
    const std::uint8_t b = byte(at);
    if (b < lo || b > hi) return -k;
    lo = 0x80;
    hi = 0xBF;
  }
  return need + 1;
}

}  // namespace

std::string utf8_lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  std::size_t i = 0;
  while (i < bytes.size()) {
    const int n = next_sequence(bytes, i);
    if (n > 0) {
      out.append(bytes.substr(i, static_cast<std::size_t>(n)));
      i += static_cast<std::size_t>(n);
    } else {
      out.append(kReplacement);
      i += static_cast<std::size_t>(-n);
    }
  }
  return out;
}

}  // namespace velmoran
