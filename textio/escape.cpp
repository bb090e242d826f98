#include <velmoran/textio/escape.hpp>

#include <array>
#include <cstdint>

#include <velmoran/utf8.hpp>

namespace velmoran::textio {

void append_xml_attribute(std::string& out, std::string_view text) {
  for_each_utf8(text, [&](std::string_view sequence, char32_t c) {
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
      out += kReplacementCharacter;
    } else {
      out += sequence;
    }
  });
}

std::string xml_id_from(std::string_view name) {
  std::string id;
  id.reserve(name.size() + 1);
  for_each_utf8(name, [&](std::string_view, char32_t c) {
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
  for_each_utf8(text, [&](std::string_view sequence, char32_t c) {
    if (c < 0x20 || c == 0x7F) {
      out += kReplacementCharacter;
    } else {
      out += sequence;
    }
  });
  return out;
}

void append_delimited_field(std::string& out, std::string_view text, char delimiter) {
  if (text.find_first_of(std::array{delimiter, '"', '\r', '\n'}.data(), 0, 4) ==
      std::string_view::npos) {
    out += text;
    return;
  }
  out += '"';
  for (const char c : text) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
}

void append_json_string(std::string& out, std::string_view text) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  for_each_utf8(text, [&](std::string_view sequence, char32_t c) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20) {
      switch (c) {
        case '\n':
          out += "\\n";
          break;
        case '\r':
          out += "\\r";
          break;
        case '\t':
          out += "\\t";
          break;
        default:
          out += "\\u00";
          out += kHex[c >> 4U];
          out += kHex[c & 0xFU];
      }
    } else {
      out += sequence;
    }
  });
  out += '"';
}

}  // namespace velmoran::textio
