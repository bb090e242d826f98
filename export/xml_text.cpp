#include <velmoran/export/xml_text.hpp>

#include <cstdint>

namespace velmoran::exporting {

namespace {

constexpr std::string_view kReplacement = "\xEF\xBF\xBD";  // U+FFFD

// Length of the well-formed UTF-8 sequence at the start of `text` and its
// code point, or 0 when the bytes there are not one.
std::size_t utf8_sequence(std::string_view text, char32_t& code_point) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80) {
    code_point = lead;
    return 1;
  }
  std::size_t length = 0;
  char32_t value = 0;
  char32_t minimum = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    value = lead & 0x1Fu;
    minimum = 0x80;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    value = lead & 0x0Fu;
    minimum = 0x800;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    value = lead & 0x07u;
    minimum = 0x10000;
  } else {
    return 0;
  }
  if (text.size() < length) return 0;
  for (std::size_t i = 1; i < length; ++i) {
    if ((byte(i) & 0xC0u) != 0x80u) return 0;
    value = (value << 6) | (byte(i) & 0x3Fu);
  }
  if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 0;
  code_point = value;
  return length;
}

// Walks `text` by UTF-8 sequence; `emit(sequence, code_point)` gets each
// valid one, invalid bytes arrive one at a time with code point 0xFFFD.
template <class Emit>
void for_each_character(std::string_view text, Emit&& emit) {
  std::size_t i = 0;
  while (i < text.size()) {
    char32_t code_point = 0;
    const std::size_t length = utf8_sequence(text.substr(i), code_point);
    if (length == 0) {
      emit(kReplacement, char32_t{0xFFFD});
      ++i;
    } else {
      emit(text.substr(i, length), code_point);
      i += length;
    }
  }
}

}  // namespace

void append_xml_attribute(std::string& out, std::string_view text) {
  for_each_character(text, [&](std::string_view sequence, char32_t c) {
    switch (c) {
      case '&':
        out += "&amp;";
        return;
      case '<':
        out += "&lt;";
        return;
      case '>':
        out += "&gt;";
        return;
      case '"':
        out += "&quot;";
        return;
      case '\'':
        out += "&apos;";
        return;
      case '\t':
        out += "&#9;";
        return;
      case '\n':
        out += "&#10;";
        return;
      case '\r':
        out += "&#13;";
        return;
      default:
        break;
    }
    if (c < 0x20 || c == 0x7F || c == 0xFFFE || c == 0xFFFF) {
      out += kReplacement;
    } else {
      out += sequence;
    }
  });
}

std::string xml_id_from(std::string_view name) {
  std::string id;
  id.reserve(name.size() + 1);
  for_each_character(name, [&](std::string_view, char32_t c) {
    const bool keep = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
                      c == '.' || c == '-' || c == '_';
    id += keep ? static_cast<char>(c) : '_';
  });
  if (id.empty() ||
      !((id[0] >= 'a' && id[0] <= 'z') || (id[0] >= 'A' && id[0] <= 'Z') || id[0] == '_')) {
    id.insert(id.begin(), '_');
  }
  return id;
}

std::string single_line_text(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for_each_character(text, [&](std::string_view sequence, char32_t c) {
    if (c < 0x20 || c == 0x7F) {
      out += kReplacement;
    } else {
      out += sequence;
    }
  });
  return out;
}

}  // namespace velmoran::exporting
