// Text as the written formats need it. A dataset's name comes from a
// directory name and a target's from a user's file: they may hold anything
// (quotes, markup characters, delimiters, control characters, bytes that
// are not UTF-8). Every function here repairs UTF-8 with the one rule of
// velmoran/utf8.hpp.
#pragma once

#include <string>
#include <string_view>

namespace velmoran::textio {

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

// Appends `text` as one CSV (or TSV) field: as it is, unless it holds the
// delimiter, a double quote, CR or LF; then in double quotes with every
// double quote doubled (RFC 4180; R and pandas read TSV quoted the same
// way). Bytes are copied as they are.
void append_delimited_field(std::string& out, std::string_view text, char delimiter);

// Appends `text` as a JSON string: quoted, with '"', '\\' and the control
// characters escaped, and text that is not UTF-8 repaired, so the output
// stays valid JSON whatever a name holds.
void append_json_string(std::string& out, std::string_view text);

}  // namespace velmoran::textio
