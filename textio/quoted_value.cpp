#include <velmoran/textio/quoted_value.hpp>

namespace velmoran::textio {

std::string quoted_value(std::string_view value) {
  constexpr std::size_t kShown = 60;
  std::size_t shown = value.size();
  if (shown > kShown) {
    shown = kShown;
    // Back to the first byte of the character that would be cut.
    while (shown > 0 && (static_cast<unsigned char>(value[shown]) & 0xC0) == 0x80) --shown;
  }
  std::string out = "\"";
  for (const char c : value.substr(0, shown)) {
    const auto byte = static_cast<unsigned char>(c);
    out += byte < 0x20 || byte == 0x7f ? '?' : c;
  }
  if (shown < value.size()) out += "...";
  out += '"';
  return out;
}

}  // namespace velmoran::textio
