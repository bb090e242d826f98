#include <velmoran/inspect/table.hpp>

#include <velmoran/textio/escape.hpp>

namespace velmoran::inspect {

using textio::append_delimited_field;
using textio::append_json_string;

std::optional<TextFormat> parse_text_format(std::string_view name) {
  if (name == "tsv") return TextFormat::tsv;
  if (name == "csv") return TextFormat::csv;
  if (name == "json") return TextFormat::json;
  return std::nullopt;
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

TableWriter::TableWriter(textio::OutputFile& out, TextFormat format,
                         std::span<const std::string_view> columns)
    : out_(out), table_(format, columns) {
  table_.append_header(out_.buffer());
}

Result<Done> TableWriter::write_rows(std::string_view rows, std::size_t count) {
  rows_ += count;
  return out_.write(rows);
}

Result<Done> TableWriter::finish() {
  table_.append_footer(out_.buffer(), rows_ > 0);
  return out_.flush();
}

}  // namespace velmoran::inspect
