// A Parquet writer for the tables velmoran writes, and no more: flat and
// LIST (three-level form) columns of signed 32/64-bit integers, 32/64-bit
// floats and UTF-8 strings, optionally null, optionally inside one
// required struct group; DataPage V1 pages, PLAIN encoding (or
// BYTE_STREAM_SPLIT on floating columns), zstd, min/max statistics, a page
// index (column and offset index) on the columns that ask for one, sorting
// columns and key-value metadata. No dictionaries, no nested lists, no
// reading.
//
// Rows are appended in batches (`append` per column, then `end_rows`); a
// page ends at a row boundary once its values pass the page size, a row
// group at a batch boundary once it passes the row or byte target. A row
// group is assembled in memory and handed to the sink in one write.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <velmoran/result.hpp>

namespace velmoran::parquet {

enum class Type { kInt32, kInt64, kFloat, kDouble, kString };

struct Column {
  std::string name;
  Type type = Type::kInt64;
  // The value (or the whole list) may be null.
  bool nullable = false;
  // A LIST of values of `type` (never null inside the list).
  bool list = false;
  // BYTE_STREAM_SPLIT instead of PLAIN (floating columns only).
  bool byte_stream_split = false;
  // A column index and an offset index for this column.
  bool page_index = false;
  // The name of a required struct group holding the column; adjacent
  // columns with the same group share it. Empty: a top-level column.
  std::string group{};
};

struct SortingColumn {
  std::size_t column = 0;
  bool descending = false;
  bool nulls_first = false;
};

struct WriterOptions {
  // A row group ends after the batch that reaches either target.
  std::uint64_t row_group_rows = 1'000'000;
  std::uint64_t row_group_bytes = std::uint64_t{256} << 20;
  std::size_t page_bytes = std::size_t{1} << 20;
  int zstd_level = 3;
  std::string created_by;
  std::vector<std::pair<std::string, std::string>> metadata{};
  std::vector<SortingColumn> sorting{};
};

struct Written {};

// Where the file's bytes go; every failure is reported.
class Sink {
 public:
  virtual ~Sink();
  [[nodiscard]] virtual Result<Written> write(std::string_view bytes) = 0;
};

class Writer {
 public:
  // The schema is checked: a byte-stream split on a column that is not
  // floating, or a sorting column out of range, is a parse error at begin().
  Writer(Sink& sink, std::vector<Column> columns, WriterOptions options);
  Writer(const Writer&) = delete;
  Writer& operator=(const Writer&) = delete;
  Writer(Writer&&) noexcept;
  Writer& operator=(Writer&&) noexcept;
  ~Writer();

  // Writes the leading magic.
  [[nodiscard]] Result<Written> begin();

  // Flat columns: values of consecutive rows. The overload must match the
  // column's type (an int64 may go to an int32 column when it fits).
  void append(std::size_t column, std::span<const double> values);
  void append(std::size_t column, std::span<const float> values);
  void append(std::size_t column, std::span<const std::int64_t> values);
  void append(std::size_t column, std::span<const std::int32_t> values);
  // The same value (or null) in `count` consecutive rows.
  void repeat(std::size_t column, double value, std::size_t count);
  void repeat(std::size_t column, std::int64_t value, std::size_t count);
  void repeat(std::size_t column, std::string_view value, std::size_t count);
  void repeat_null(std::size_t column, std::size_t count);
  // LIST columns: one row holding `values` (empty is an empty list).
  void append_list(std::size_t column, std::span<const double> values);
  void append_list(std::size_t column, std::span<const float> values);
  void append_list(std::size_t column, std::span<const std::int64_t> values);
  void append_list(std::size_t column, std::span<const std::int32_t> values);

  // Ends a batch of `rows` rows, which every column must hold; may write a
  // row group.
  [[nodiscard]] Result<Written> end_rows(std::size_t rows);
  // Writes the last row group, the page index and the footer.
  [[nodiscard]] Result<Written> finish();

  [[nodiscard]] std::uint64_t bytes_written() const noexcept;
  [[nodiscard]] std::uint64_t rows_written() const noexcept;

 private:
  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace velmoran::parquet
