// Text that goes into XML and line-based peak lists. A dataset's name comes
// from a directory name and may hold anything: quotes, markup characters,
// control characters that XML 1.0 forbids, bytes that are not UTF-8.
#pragma once

#include <string>
#include <string_view>

namespace velmoran::exporting {

// Appends `text` for use inside a double-quoted XML attribute value: markup
// characters become entities, tab, newline and carriage return become
// character references (so attribute normalisation keeps them), and what
// XML 1.0 cannot hold at all (other control characters, U+FFFE, U+FFFF,
// bytes that are not UTF-8) becomes U+FFFD.
void append_xml_attribute(std::string& out, std::string_view text);

// A valid xs:ID (an NCName) made from `name`: ASCII letters, digits, '.',
// '-' and '_' are kept, every other character becomes '_', and a '_' is put
// in front when the first character cannot start a name. Never empty.
[[nodiscard]] std::string xml_id_from(std::string_view name);

// `text` with every character that would break a line-based format or is
// not valid UTF-8 (control characters, bytes that are not UTF-8) replaced
// by U+FFFD.
[[nodiscard]] std::string single_line_text(std::string_view text);

}  // namespace velmoran::exporting
