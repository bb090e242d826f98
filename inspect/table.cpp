#include <velmoran/inspect/table.hpp>

#include <array>
#include <cstdint>

namespace velmoran::inspect {

namespace {

// Length of the valid UTF-8 sequence at the start of `text`, or 0 when it
// does not start with one (overlong forms, surrogates and code points above
// U+10FFFF are invalid).
std::size_t utf8_sequence_length(std::string_view text) {
  const auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(text[i]); };
  const auto continuation = [&](std::size_t i) {
    return i < text.size() && (byte(i) & 0xC0U) == 0x80U;
  };
  const std::uint8_t lead = byte(0);
  if (lead < 0x80U) return 1;
  if (lead >= 0xC2U && lead <= 0xDFU) return continuation(1) ? 2 : 0;
  if (lead >= 0xE0U && lead <= 0xEFU) {
    if (!continuation(1) || !continuation(2)) return 0;
    if (lead == 0xE0U && byte(1) < 0xA0U) return 0;   // overlong
    if (lead == 0xEDU && byte(1) >= 0xA0U) return 0;  // surrogate
    return 3;
  }
  if (lead >= 0xF0U && lead <= 0xF4U) {
    if (!continuation(1) || !continuation(2) || !continuation(3)) return 0;
    if (lead == 0xF0U && byte(1) < 0x90U) return 0;   // overlong
    if (lead == 0xF4U && byte(1) >= 0x90U) return 0;  // above U+10FFFF
    return 4;
  }
  return 0;
}

}  // namespace

std::optional<TextFormat> parse_text_format(std::string_view name) {
  if (name == "tsv") return TextFormat::tsv;
  if (name == "csv") return TextFormat::csv;
  if (name == "json") return TextFormat::json;
  return std::nullopt;
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
  std::size_t i = 0;
  while (i < text.size()) {
    const auto c = static_cast<std::uint8_t>(text[i]);
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
      ++i;
    } else if (c < 0x20U) {
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
      ++i;
    } else if (c < 0x80U) {
      out += static_cast<char>(c);
      ++i;
    } else if (const std::size_t n = utf8_sequence_length(text.substr(i)); n > 0) {
      out += text.substr(i, n);
      i += n;
    } else {
      out += "\xEF\xBF\xBD";  // U+FFFD for one invalid byte
      ++i;
    }
  }
  out += '"';
}

TableFormat::TableFormat(TextFormat format, std::span<const std::string_view> columns)
    : format_(format), columns_(columns.begin(), columns.end()) {
  column_prefixes_.reserve(columns_.size());
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    std::string prefix;
    if (format_ == TextFormat::json) {
      if (i > 0) prefix += ',';
      append_json_string(prefix, columns_[i]);
      prefix += ':';
    } else if (i > 0) {
      prefix += format_ == TextFormat::csv ? ',' : '\t';
    }
    column_prefixes_.push_back(std::move(prefix));
  }
}

void TableFormat::append_header(std::string& out) const {
  if (format_ == TextFormat::json) {
    out += '[';
    return;
  }
  const char delimiter = format_ == TextFormat::csv ? ',' : '\t';
  for (std::size_t i = 0; i < columns_.size(); ++i) {
    if (i > 0) out += delimiter;
    append_delimited_field(out, columns_[i], delimiter);
  }
  out += '\n';
}

void TableFormat::append_row_start(std::string& out, bool first) const {
  if (format_ == TextFormat::json) out += first ? "\n{" : ",\n{";
}

void TableFormat::append_row_end(std::string& out) const {
  out += format_ == TextFormat::json ? '}' : '\n';
}

void TableFormat::append_footer(std::string& out, bool any_rows) const {
  if (format_ == TextFormat::json) out += any_rows ? "\n]\n" : "]\n";
}

void TableFormat::append_text(std::string& out, std::size_t column, std::string_view text) const {
  out += column_prefixes_[column];
  switch (format_) {
    case TextFormat::json:
      append_json_string(out, text);
      break;
    case TextFormat::csv:
      append_delimited_field(out, text, ',');
      break;
    case TextFormat::tsv:
      append_delimited_field(out, text, '\t');
      break;
  }
}

void TableFormat::append_null(std::string& out, std::size_t column) const {
  out += column_prefixes_[column];
  if (format_ == TextFormat::json) out += "null";
}

TableWriter::TableWriter(exporting::OutputFile& out, TextFormat format,
                         std::span<const std::string_view> columns)
    : out_(&out), table_(format, columns) {
  buffer_.reserve(kFlushBytes + (std::size_t{64} << 10));
  table_.append_header(buffer_);
}

Result<Done> TableWriter::flush() {
  auto written = out_->write(buffer_);
  buffer_.clear();
  return written;
}

Result<Done> TableWriter::write_rows(std::string_view rows, std::size_t count) {
  rows_ += count;
  // Large blocks of rows go out as they are, without a copy into the buffer.
  if (rows.size() < kDirectBytes && buffer_.size() + rows.size() <= kFlushBytes) {
    buffer_ += rows;
    return Done{};
  }
  auto flushed = flush();
  if (!flushed) return flushed;
  return out_->write(rows);
}

Result<Done> TableWriter::finish() {
  table_.append_footer(buffer_, rows_ > 0);
  return flush();
}

}  // namespace velmoran::inspect
