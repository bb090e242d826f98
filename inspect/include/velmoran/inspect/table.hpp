// Tables as text that pandas, R and spreadsheets read: TSV, CSV (RFC 4180)
// or JSON (an array with one object per row, keyed by column name).
//
// TableFormat renders single cells into any string, so a caller can render
// cells that repeat over many rows once and reuse the text; TableWriter
// streams rows through a BufferedWriter into an OutputFile.
#pragma once

#include <concepts>
#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <velmoran/result.hpp>
#include <velmoran/textio/buffered_writer.hpp>
#include <velmoran/textio/number_text.hpp>
#include <velmoran/textio/output_file.hpp>

namespace velmoran::inspect {

using textio::Done;

enum class TextFormat { tsv, csv, json };

// "tsv", "csv" or "json".
[[nodiscard]] std::optional<TextFormat> parse_text_format(std::string_view name);

// Appends a number as JSON: the shortest round-trip text, or null for NaN
// and infinities, which JSON cannot hold.
template <class T>
requires std::floating_point<T> || std::integral<T>
void append_json_number(std::string& out, T value) {
  if constexpr (std::floating_point<T>) {
    if (!(value - value == value - value)) {  // NaN or infinite
      out += "null";
      return;
    }
  }
  textio::append_number(out, value);
}

// How the cells of one table are rendered. Cells are appended in column
// order; each call appends its separator (or, in JSON, its key) first.
class TableFormat {
 public:
  TableFormat(TextFormat format, std::span<const std::string_view> columns);

  [[nodiscard]] TextFormat format() const noexcept { return format_; }
  // What goes before a cell of this column: the separator, or in JSON the
  // separator and the key.
  [[nodiscard]] std::string_view column_prefix(std::size_t column) const {
    return column_prefixes_[column];
  }

  // The header line (TSV, CSV) or the opening bracket (JSON).
  void append_header(std::string& out) const;
  // Before a row's first cell; `first` for the first row of the table.
  void append_row_start(std::string& out, bool first) const;
  void append_row_end(std::string& out) const;
  // After the last row (JSON: the closing bracket).
  void append_footer(std::string& out, bool any_rows) const;

  void append_text(std::string& out, std::size_t column, std::string_view text) const;
  template <class T>
  requires std::floating_point<T> || std::integral<T>
  void append_number(std::string& out, std::size_t column, T value) const {
    out += column_prefixes_[column];
    if (format_ == TextFormat::json) {
      append_json_number(out, value);
    } else {
      textio::append_number(out, value);
    }
  }
  // An absent value: an empty cell, or null in JSON.
  void append_null(std::string& out, std::size_t column) const;
  template <class T>
  void append_optional(std::string& out, std::size_t column, const std::optional<T>& value) const {
    if (value) {
      append_number(out, column, *value);
    } else {
      append_null(out, column);
    }
  }

 private:
  TextFormat format_;
  std::vector<std::string_view> columns_;
  // What goes before each cell: the separator, or in JSON the key.
  std::vector<std::string> column_prefixes_;
};

// Streams a table into an OutputFile: the header at construction, rows in
// between, the footer in finish(). Nothing is committed here: the caller
// commits the file after finish() succeeded.
class TableWriter {
 public:
  TableWriter(textio::OutputFile& out, TextFormat format,
              std::span<const std::string_view> columns);

  [[nodiscard]] const TableFormat& table() const noexcept { return table_; }
  // The row being built; append cells with table().append_*().
  [[nodiscard]] std::string& buffer() noexcept { return out_.buffer(); }

  void begin_row() {
    table_.append_row_start(out_.buffer(), rows_ == 0);
    ++rows_;
  }
  // Ends the row and writes the buffer out once it is large.
  [[nodiscard]] Result<Done> end_row() {
    table_.append_row_end(out_.buffer());
    return out_.written_to_buffer();
  }
  // Writes `count` whole rows rendered by the caller (row starts and ends
  // included; the first row of a JSON table starts differently, see
  // rows_written()), after whatever the buffer holds.
  [[nodiscard]] Result<Done> write_rows(std::string_view rows, std::size_t count);
  [[nodiscard]] std::size_t rows_written() const noexcept { return rows_; }

  [[nodiscard]] Result<Done> finish();

 private:
  textio::BufferedWriter out_;
  TableFormat table_;
  std::size_t rows_ = 0;
};

}  // namespace velmoran::inspect
