#include <velmoran/parquet/writer.hpp>

#include <zstd.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>
#include <limits>
#include <optional>
#include <type_traits>
#include <variant>

#include <velmoran/parquet/thrift_compact.hpp>

namespace velmoran::parquet {

Sink::~Sink() = default;

namespace {

static_assert(std::endian::native == std::endian::little, "Parquet values are little endian");

// parquet.thrift's enumerations, as far as they are used.
enum PhysicalType : std::int32_t {
  kInt32 = 1,
  kInt64 = 2,
  kFloat = 4,
  kDouble = 5,
  kByteArray = 6
};
enum Encoding : std::int32_t { kPlain = 0, kRle = 3, kByteStreamSplit = 9 };
enum Repetition : std::int32_t { kRequired = 0, kOptional = 1, kRepeated = 2 };
constexpr std::int32_t kConvertedUtf8 = 0;
constexpr std::int32_t kConvertedList = 3;
constexpr std::int32_t kCodecZstd = 6;
constexpr std::int32_t kPageData = 0;
enum BoundaryOrder : std::int32_t { kUnordered = 0, kAscending = 1, kDescending = 2 };
constexpr std::string_view kMagic = "PAR1";

PhysicalType physical(Type type) {
  switch (type) {
    case Type::kInt32:
      return kInt32;
    case Type::kInt64:
      return kInt64;
    case Type::kFloat:
      return kFloat;
    case Type::kDouble:
      return kDouble;
    case Type::kString:
      return kByteArray;
  }
  return kByteArray;
}

std::size_t value_width(Type type) {
  switch (type) {
    case Type::kInt32:
    case Type::kFloat:
      return 4;
    case Type::kInt64:
    case Type::kDouble:
      return 8;
    case Type::kString:
      return 0;
  }
  return 0;
}

bool floating(Type type) { return type == Type::kFloat || type == Type::kDouble; }

template <class T>
void put_raw(std::string& out, T value) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  out.append(bytes, sizeof(T));
}

// The running minimum and maximum of a page or a column chunk. Floating
// values compare as doubles (a float widens exactly), NaN is left out;
// integers as int64; strings bytewise, unsigned.
struct Bounds {
  std::variant<std::monostate, std::pair<double, double>, std::pair<std::int64_t, std::int64_t>,
               std::pair<std::string, std::string>>
      range;

  void add(double v) {
    if (std::isnan(v)) return;
    if (auto* r = std::get_if<1>(&range)) {
      r->first = std::min(r->first, v);
      r->second = std::max(r->second, v);
    } else {
      range = std::pair{v, v};
    }
  }
  void add(std::int64_t v) {
    if (auto* r = std::get_if<2>(&range)) {
      r->first = std::min(r->first, v);
      r->second = std::max(r->second, v);
    } else {
      range = std::pair{v, v};
    }
  }
  void add(std::string_view v) {
    if (auto* r = std::get_if<3>(&range)) {
      if (v < r->first) r->first = v;
      if (v > r->second) r->second = v;
    } else {
      range = std::pair{std::string(v), std::string(v)};
    }
  }
  void merge(const Bounds& other) {
    std::visit(
        [this](const auto& r) {
          if constexpr (!std::is_same_v<std::decay_t<decltype(r)>, std::monostate>) {
            add(r.first);
            add(r.second);
          }
        },
        other.range);
  }
  [[nodiscard]] bool empty() const { return range.index() == 0; }

  // The statistics' bytes: PLAIN values without a length prefix. A zero
  // minimum is written as -0.0 and a zero maximum as +0.0, as readers
  // expect of floating statistics.
  [[nodiscard]] std::pair<std::string, std::string> encoded(Type type) const {
    std::string lo;
    std::string hi;
    if (const auto* d = std::get_if<1>(&range)) {
      const double min = d->first == 0.0 ? -0.0 : d->first;
      const double max = d->second == 0.0 ? 0.0 : d->second;
      if (type == Type::kFloat) {
        put_raw(lo, static_cast<float>(min));
        put_raw(hi, static_cast<float>(max));
      } else {
        put_raw(lo, min);
        put_raw(hi, max);
      }
    } else if (const auto* i = std::get_if<2>(&range)) {
      if (type == Type::kInt32) {
        put_raw(lo, static_cast<std::int32_t>(i->first));
        put_raw(hi, static_cast<std::int32_t>(i->second));
      } else {
        put_raw(lo, i->first);
        put_raw(hi, i->second);
      }
    } else if (const auto* s = std::get_if<3>(&range)) {
      lo = s->first;
      hi = s->second;
    }
    return {std::move(lo), std::move(hi)};
  }
};

// A page, compressed, with what its header, the column index and the
// offset index say of it.
struct Page {
  std::string bytes;             // header and data
  std::size_t uncompressed = 0;  // header and data before compression
  std::uint64_t first_row = 0;   // within the row group
  std::uint64_t levels = 0;      // values, nulls and empty lists
  std::uint64_t null_count = 0;
  Bounds bounds;
};

struct ColumnState {
  Column spec;
  std::vector<std::string> path;
  int max_def = 0;
  int max_rep = 0;
  // The page being filled.
  std::string values;
  std::vector<std::uint8_t> def;
  std::vector<std::uint8_t> rep;
  std::uint64_t level_count = 0;  // values and nulls (and empty lists)
  std::uint64_t value_count = 0;
  std::uint64_t null_count = 0;
  std::uint64_t page_rows = 0;
  std::uint64_t rows = 0;          // in this row group, pages before this one included
  std::uint64_t pending_rows = 0;  // appended since the last end_rows
  Bounds bounds;
  // The row group's finished pages.
  std::vector<Page> pages;
};

// Where a written column chunk lies, for the footer and the page index.
struct ChunkRecord {
  std::int64_t data_offset = 0;
  std::int64_t total_compressed = 0;
  std::int64_t total_uncompressed = 0;
  std::int64_t level_count = 0;
  std::int64_t null_count = 0;
  Bounds bounds;
  struct PageRecord {
    std::int64_t offset;
    std::int32_t size;
    std::int64_t first_row;
    std::int64_t null_count;
    bool all_null;
    Bounds bounds;
  };
  std::vector<PageRecord> pages;
  std::int64_t column_index_offset = -1;
  std::int32_t column_index_length = 0;
  std::int64_t offset_index_offset = -1;
  std::int32_t offset_index_length = 0;
};

struct RowGroupRecord {
  std::int64_t rows = 0;
  std::int64_t file_offset = 0;
  std::int64_t total_uncompressed = 0;
  std::int64_t total_compressed = 0;
  std::vector<ChunkRecord> chunks;
};

void write_statistics(CompactWriter& w, std::int16_t field, std::uint64_t nulls,
                      const Bounds& bounds, Type type) {
  w.begin_struct(field);
  w.i64(3, static_cast<std::int64_t>(nulls));
  if (!bounds.empty()) {
    auto [lo, hi] = bounds.encoded(type);
    w.binary(5, hi);
    w.binary(6, lo);
  }
  w.end_struct();
}

}  // namespace

struct Writer::State {
  Sink* sink = nullptr;
  std::vector<ColumnState> columns;
  WriterOptions options;
  std::unique_ptr<ZSTD_CCtx, decltype(&ZSTD_freeCCtx)> zstd{nullptr, &ZSTD_freeCCtx};
  std::uint64_t offset = 0;
  std::uint64_t total_rows = 0;
  std::uint64_t group_rows = 0;
  std::uint64_t group_bytes = 0;  // uncompressed values held in the row group
  std::vector<RowGroupRecord> groups;
  std::optional<Error> schema_error;
  std::string compressed;

  Result<Written> write(std::string_view bytes) {
    auto r = sink->write(bytes);
    if (r) offset += bytes.size();
    return r;
  }

  Result<Written> close_page(ColumnState& c);
  Result<Written> flush_group();
  std::string footer();
  void schema_elements(CompactWriter& w);
};

namespace {

// One level value for each of the three cases of a flat column's row.
void note_flat(ColumnState& c, bool present, std::size_t count) {
  if (c.max_def > 0) c.def.insert(c.def.end(), count, static_cast<std::uint8_t>(present ? 1 : 0));
  c.level_count += count;
  if (present) {
    c.value_count += count;
  } else {
    c.null_count += count;
  }
  c.pending_rows += count;
}

}  // namespace

Writer::Writer(Sink& sink, std::vector<Column> columns, WriterOptions options)
    : state_(std::make_unique<State>()) {
  State& s = *state_;
  s.sink = &sink;
  s.options = std::move(options);
  for (auto& column : columns) {
    ColumnState c;
    if (column.byte_stream_split && !floating(column.type)) {
      s.schema_error = Error::parse(
          "parquet: byte stream split on a column that is not floating: " + column.name);
    }
    if (!column.group.empty()) c.path.push_back(column.group);
    c.path.push_back(column.name);
    if (column.list) {
      c.path.emplace_back("list");
      c.path.emplace_back("element");
    }
    c.max_def = (column.nullable ? 1 : 0) + (column.list ? 1 : 0);
    c.max_rep = column.list ? 1 : 0;
    c.spec = std::move(column);
    s.columns.push_back(std::move(c));
  }
  for (const auto& sorting : s.options.sorting) {
    if (sorting.column >= s.columns.size()) {
      s.schema_error = Error::parse("parquet: a sorting column is not in the schema");
    }
  }
}

Writer::Writer(Writer&&) noexcept = default;
Writer& Writer::operator=(Writer&&) noexcept = default;
Writer::~Writer() = default;

Result<Written> Writer::begin() {
  State& s = *state_;
  if (s.schema_error) return *s.schema_error;
  s.zstd.reset(ZSTD_createCCtx());
  if (!s.zstd) throw std::bad_alloc();
  return s.write(kMagic);
}

namespace {

// One value converted to the column's type, and its bounds.
template <class T>
void put_value(ColumnState& c, T v) {
  switch (c.spec.type) {
    case Type::kInt32: {
      const auto x = static_cast<std::int32_t>(v);
      put_raw(c.values, x);
      c.bounds.add(std::int64_t{x});
      break;
    }
    case Type::kInt64: {
      const auto x = static_cast<std::int64_t>(v);
      put_raw(c.values, x);
      c.bounds.add(x);
      break;
    }
    case Type::kFloat: {
      const auto x = static_cast<float>(v);
      put_raw(c.values, x);
      c.bounds.add(static_cast<double>(x));
      break;
    }
    case Type::kDouble: {
      const auto x = static_cast<double>(v);
      put_raw(c.values, x);
      c.bounds.add(x);
      break;
    }
    case Type::kString:
      break;
  }
}

template <class T>
constexpr Type type_of() {
  if constexpr (std::is_same_v<T, double>) return Type::kDouble;
  if constexpr (std::is_same_v<T, float>) return Type::kFloat;
  if constexpr (std::is_same_v<T, std::int64_t>) return Type::kInt64;
  return Type::kInt32;
}

// Values of the column's own type are copied as they are; others convert.
template <class T>
void put_values(ColumnState& c, std::span<const T> values) {
  if (c.spec.type != type_of<T>()) {
    for (T v : values) put_value(c, v);
    return;
  }
  const auto* bytes = reinterpret_cast<const char*>(values.data());  // NOLINT
  c.values.append(bytes, values.size_bytes());
  for (T v : values) {
    if constexpr (std::is_floating_point_v<T>) {
      c.bounds.add(static_cast<double>(v));
    } else {
      c.bounds.add(static_cast<std::int64_t>(v));
    }
  }
}

// Values of consecutive rows of a flat column.
template <class T>
void append_flat(ColumnState& c, std::span<const T> values) {
  put_values(c, values);
  note_flat(c, true, values.size());
}

// One row of a LIST column holding `values`.
template <class T>
void append_list_values(ColumnState& c, std::span<const T> values) {
  put_values(c, values);
  const auto full = static_cast<std::uint8_t>(c.max_def);
  if (values.empty()) {
    c.def.push_back(static_cast<std::uint8_t>(c.max_def - 1));
    c.rep.push_back(0);
    c.level_count += 1;
  } else {
    c.def.insert(c.def.end(), values.size(), full);
    c.rep.push_back(0);
    c.rep.insert(c.rep.end(), values.size() - 1, 1);
    c.level_count += values.size();
    c.value_count += values.size();
  }
  c.pending_rows += 1;
}

}  // namespace

void Writer::append(std::size_t column, std::span<const double> values) {
  append_flat(state_->columns.at(column), values);
}

void Writer::append(std::size_t column, std::span<const float> values) {
  append_flat(state_->columns.at(column), values);
}

void Writer::append(std::size_t column, std::span<const std::int64_t> values) {
  append_flat(state_->columns.at(column), values);
}

void Writer::append(std::size_t column, std::span<const std::int32_t> values) {
  append_flat(state_->columns.at(column), values);
}

void Writer::repeat(std::size_t column, double value, std::size_t count) {
  ColumnState& c = state_->columns.at(column);
  if (count == 0) return;
  std::string one;
  if (c.spec.type == Type::kFloat) {
    put_raw(one, static_cast<float>(value));
    value = static_cast<double>(static_cast<float>(value));
  } else {
    put_raw(one, value);
  }
  for (std::size_t i = 0; i < count; ++i) c.values += one;
  c.bounds.add(value);
  note_flat(c, true, count);
}

void Writer::repeat(std::size_t column, std::int64_t value, std::size_t count) {
  ColumnState& c = state_->columns.at(column);
  if (count == 0) return;
  std::string one;
  if (c.spec.type == Type::kInt32) {
    put_raw(one, static_cast<std::int32_t>(value));
  } else {
    put_raw(one, value);
  }
  for (std::size_t i = 0; i < count; ++i) c.values += one;
  c.bounds.add(value);
  note_flat(c, true, count);
}

void Writer::repeat(std::size_t column, std::string_view value, std::size_t count) {
  ColumnState& c = state_->columns.at(column);
  if (count == 0) return;
  std::string one;
  put_raw(one, static_cast<std::uint32_t>(value.size()));
  one += value;
  for (std::size_t i = 0; i < count; ++i) c.values += one;
  c.bounds.add(value);
  note_flat(c, true, count);
}

void Writer::repeat_null(std::size_t column, std::size_t count) {
  ColumnState& c = state_->columns.at(column);
  if (c.spec.list) {
    c.def.insert(c.def.end(), count, 0);
    c.rep.insert(c.rep.end(), count, 0);
    c.level_count += count;
    c.null_count += count;
    c.pending_rows += count;
    return;
  }
  note_flat(c, false, count);
}

void Writer::append_list(std::size_t column, std::span<const double> values) {
  append_list_values(state_->columns.at(column), values);
}

void Writer::append_list(std::size_t column, std::span<const float> values) {
  append_list_values(state_->columns.at(column), values);
}

void Writer::append_list(std::size_t column, std::span<const std::int64_t> values) {
  append_list_values(state_->columns.at(column), values);
}

void Writer::append_list(std::size_t column, std::span<const std::int32_t> values) {
  append_list_values(state_->columns.at(column), values);
}

namespace {

// BYTE_STREAM_SPLIT: byte k of every value, then byte k+1 of every value.
std::string split_streams(const std::string& plain, std::size_t width) {
  std::string out(plain.size(), '\0');
  const std::size_t n = plain.size() / width;
  for (std::size_t i = 0; i < n; ++i) {
    for (std::size_t k = 0; k < width; ++k) out[k * n + i] = plain[i * width + k];
  }
  return out;
}

void append_u32(std::string& out, std::size_t value) {
  put_raw(out, static_cast<std::uint32_t>(value));
}

unsigned bit_width_of(int max_level) {
  return static_cast<unsigned>(std::bit_width(static_cast<unsigned>(max_level)));
}

}  // namespace

Result<Written> Writer::State::close_page(ColumnState& c) {
  if (c.level_count == 0) return Written{};
  std::string body;
  if (c.max_rep > 0) {
    const std::string levels = encode_levels(c.rep, bit_width_of(c.max_rep));
    append_u32(body, levels.size());
    body += levels;
  }
  if (c.max_def > 0) {
    const std::string levels = encode_levels(c.def, bit_width_of(c.max_def));
    append_u32(body, levels.size());
    body += levels;
  }
  const bool split = c.spec.byte_stream_split;
  body += split ? split_streams(c.values, value_width(c.spec.type)) : c.values;

  compressed.resize(ZSTD_compressBound(body.size()));
  const std::size_t size = ZSTD_compressCCtx(zstd.get(), compressed.data(), compressed.size(),
                                             body.data(), body.size(), options.zstd_level);
  if (ZSTD_isError(size)) return Error::parse(std::string("zstd: ") + ZSTD_getErrorName(size));
  if (body.size() > std::numeric_limits<std::int32_t>::max() ||
      size > std::numeric_limits<std::int32_t>::max()) {
    return Error::parse("parquet: a page larger than 2 GiB");
  }

  CompactWriter header;
  header.i32(1, kPageData);
  header.i32(2, static_cast<std::int32_t>(body.size()));
  header.i32(3, static_cast<std::int32_t>(size));
  header.begin_struct(5);
  header.i32(1, static_cast<std::int32_t>(c.level_count));
  header.i32(2, split ? kByteStreamSplit : kPlain);
  header.i32(3, kRle);
  header.i32(4, kRle);
  write_statistics(header, 5, c.null_count, c.bounds, c.spec.type);
  header.end_struct();
  const std::string head = header.finish();

  Page page;
  page.bytes.reserve(head.size() + size);
  page.bytes = head;
  page.bytes.append(compressed.data(), size);
  page.uncompressed = head.size() + body.size();
  page.first_row = c.rows;
  page.levels = c.level_count;
  group_bytes += body.size();
  page.null_count = c.null_count;
  page.bounds = std::move(c.bounds);
  c.pages.push_back(std::move(page));

  c.rows += c.page_rows;
  c.page_rows = 0;
  c.values.clear();
  c.def.clear();
  c.rep.clear();
  c.level_count = 0;
  c.value_count = 0;
  c.null_count = 0;
  c.bounds = {};
  return Written{};
}

Result<Written> Writer::end_rows(std::size_t rows) {
  State& s = *state_;
  for (auto& c : s.columns) {
    if (c.pending_rows != rows) {
      return Error::parse("parquet: column " + c.spec.name + " holds " +
                          std::to_string(c.pending_rows) + " rows of a batch of " +
                          std::to_string(rows));
    }
  }
  for (auto& c : s.columns) {
    c.pending_rows = 0;
    c.page_rows += rows;
    if (c.values.size() + c.def.size() >= s.options.page_bytes) {
      if (auto r = s.close_page(c); !r) return r;
    }
  }
  s.group_rows += rows;
  s.total_rows += rows;
  std::uint64_t held = s.group_bytes;
  for (const auto& c : s.columns) held += c.values.size();
  if (s.group_rows >= s.options.row_group_rows || held >= s.options.row_group_bytes) {
    return s.flush_group();
  }
  return Written{};
}

Result<Written> Writer::State::flush_group() {
  if (group_rows == 0) return Written{};
  for (auto& c : columns) {
    if (auto r = close_page(c); !r) return r;
  }
  RowGroupRecord group;
  group.rows = static_cast<std::int64_t>(group_rows);
  group.file_offset = static_cast<std::int64_t>(offset);
  std::string bytes;
  std::uint64_t at = offset;
  for (auto& c : columns) {
    ChunkRecord chunk;
    chunk.data_offset = static_cast<std::int64_t>(at);
    for (auto& page : c.pages) {
      const bool all_null = page.bounds.empty();
      chunk.pages.push_back({static_cast<std::int64_t>(at),
                             static_cast<std::int32_t>(page.bytes.size()),
                             static_cast<std::int64_t>(page.first_row),
                             static_cast<std::int64_t>(page.null_count), all_null, page.bounds});
      chunk.total_compressed += static_cast<std::int64_t>(page.bytes.size());
      chunk.total_uncompressed += static_cast<std::int64_t>(page.uncompressed);
      chunk.null_count += static_cast<std::int64_t>(page.null_count);
      chunk.level_count += static_cast<std::int64_t>(page.levels);
      chunk.bounds.merge(page.bounds);
      at += page.bytes.size();
      bytes += page.bytes;
    }
    c.pages.clear();
    c.rows = 0;
    group.total_compressed += chunk.total_compressed;
    group.total_uncompressed += chunk.total_uncompressed;
    group.chunks.push_back(std::move(chunk));
  }
  if (auto r = write(bytes); !r) return r;
  groups.push_back(std::move(group));
  group_rows = 0;
  group_bytes = 0;
  return Written{};
}

void Writer::State::schema_elements(CompactWriter& w) {
  // Top-level fields: a group counts once.
  std::size_t top = 0;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const auto& group = columns[i].spec.group;
    if (group.empty() || i == 0 || columns[i - 1].spec.group != group) ++top;
  }
  std::size_t elements = 1;
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const auto& spec = columns[i].spec;
    if (!spec.group.empty() && (i == 0 || columns[i - 1].spec.group != spec.group)) ++elements;
    elements += spec.list ? 3 : 1;
  }
  w.begin_list(2, CompactWriter::kStruct, elements);
  w.begin_element_struct();
  w.binary(4, "schema");
  w.i32(5, static_cast<std::int32_t>(top));
  w.end_struct();
  for (std::size_t i = 0; i < columns.size(); ++i) {
    const auto& spec = columns[i].spec;
    if (!spec.group.empty() && (i == 0 || columns[i - 1].spec.group != spec.group)) {
      std::size_t children = 0;
      for (std::size_t j = i; j < columns.size() && columns[j].spec.group == spec.group; ++j) {
        ++children;
      }
      w.begin_element_struct();
      w.i32(3, kRequired);
      w.binary(4, spec.group);
      w.i32(5, static_cast<std::int32_t>(children));
      w.end_struct();
    }
    const auto leaf = [&](std::int32_t repetition, std::string_view name) {
      w.begin_element_struct();
      w.i32(1, physical(spec.type));
      w.i32(3, repetition);
      w.binary(4, name);
      if (spec.type == Type::kString) {
        w.i32(6, kConvertedUtf8);
        w.begin_struct(10);
        w.begin_struct(1);  // STRING
        w.end_struct();
        w.end_struct();
      }
      w.end_struct();
    };
    if (spec.list) {
      w.begin_element_struct();
      w.i32(3, spec.nullable ? kOptional : kRequired);
      w.binary(4, spec.name);
      w.i32(5, 1);
      w.i32(6, kConvertedList);
      w.begin_struct(10);
      w.begin_struct(3);  // LIST
      w.end_struct();
      w.end_struct();
      w.end_struct();
      w.begin_element_struct();
      w.i32(3, kRepeated);
      w.binary(4, "list");
      w.i32(5, 1);
      w.end_struct();
      leaf(kRequired, "element");
    } else {
      leaf(spec.nullable ? kOptional : kRequired, spec.name);
    }
  }
}

namespace {

BoundaryOrder boundary_order(const std::vector<ChunkRecord::PageRecord>& pages) {
  bool ascending = true;
  bool descending = true;
  const ChunkRecord::PageRecord* last = nullptr;
  for (const auto& page : pages) {
    if (page.all_null) continue;
    if (last) {
      const auto compare = [](const Bounds& a, const Bounds& b, bool mins) {
        // -1, 0, 1 of a against b, on the minimum or the maximum.
        return std::visit(
            [&](const auto& x) -> int {
              using T = std::decay_t<decltype(x)>;
              if constexpr (std::is_same_v<T, std::monostate>) {
                return 0;
              } else {
                const auto& y = std::get<T>(b.range);
                const auto& u = mins ? x.first : x.second;
                const auto& v = mins ? y.first : y.second;
                return u < v ? -1 : (v < u ? 1 : 0);
              }
            },
            a.range);
      };
      const int lo = compare(last->bounds, page.bounds, true);
      const int hi = compare(last->bounds, page.bounds, false);
      if (lo > 0 || hi > 0) ascending = false;
      if (lo < 0 || hi < 0) descending = false;
    }
    last = &page;
  }
  if (ascending) return kAscending;
  if (descending) return kDescending;
  return kUnordered;
}

}  // namespace

std::string Writer::State::footer() {
  CompactWriter w;
  w.i32(1, 2);
  schema_elements(w);
  w.i64(3, static_cast<std::int64_t>(total_rows));
  w.begin_list(4, CompactWriter::kStruct, groups.size());
  for (std::size_t g = 0; g < groups.size(); ++g) {
    const auto& group = groups[g];
    w.begin_element_struct();
    w.begin_list(1, CompactWriter::kStruct, group.chunks.size());
    for (std::size_t i = 0; i < group.chunks.size(); ++i) {
      const auto& chunk = group.chunks[i];
      const auto& c = columns[i];
      w.begin_element_struct();
      w.i64(2, chunk.data_offset);
      w.begin_struct(3);
      w.i32(1, physical(c.spec.type));
      const bool has_levels = c.max_def > 0 || c.max_rep > 0;
      w.begin_list(2, CompactWriter::kI32, has_levels ? 2 : 1);
      w.element_i32(c.spec.byte_stream_split ? kByteStreamSplit : kPlain);
      if (has_levels) w.element_i32(kRle);
      w.begin_list(3, CompactWriter::kBinary, c.path.size());
      for (const auto& part : c.path) w.element_binary(part);
      w.i32(4, kCodecZstd);
      w.i64(5, chunk.level_count);
      w.i64(6, chunk.total_uncompressed);
      w.i64(7, chunk.total_compressed);
      w.i64(9, chunk.data_offset);
      write_statistics(w, 12, static_cast<std::uint64_t>(chunk.null_count), chunk.bounds,
                       c.spec.type);
      w.end_struct();
      if (chunk.offset_index_offset >= 0) {
        w.i64(4, chunk.offset_index_offset);
        w.i32(5, chunk.offset_index_length);
        w.i64(6, chunk.column_index_offset);
        w.i32(7, chunk.column_index_length);
      }
      w.end_struct();
    }
    w.i64(2, group.total_uncompressed);
    w.i64(3, group.rows);
    if (!options.sorting.empty()) {
      w.begin_list(4, CompactWriter::kStruct, options.sorting.size());
      for (const auto& sorting : options.sorting) {
        w.begin_element_struct();
        w.i32(1, static_cast<std::int32_t>(sorting.column));
        w.boolean(2, sorting.descending);
        w.boolean(3, sorting.nulls_first);
        w.end_struct();
      }
    }
    w.i64(5, group.file_offset);
    w.i64(6, group.total_compressed);
    w.i32(7, static_cast<std::int32_t>(g));
    w.end_struct();
  }
  if (!options.metadata.empty()) {
    w.begin_list(5, CompactWriter::kStruct, options.metadata.size());
    for (const auto& [key, value] : options.metadata) {
      w.begin_element_struct();
      w.binary(1, key);
      w.binary(2, value);
      w.end_struct();
    }
  }
  if (!options.created_by.empty()) w.binary(6, options.created_by);
  // Every column orders its statistics by its type.
  w.begin_list(7, CompactWriter::kStruct, columns.size());
  for (std::size_t i = 0; i < columns.size(); ++i) {
    w.begin_element_struct();
    w.begin_struct(1);
    w.end_struct();
    w.end_struct();
  }
  return w.finish();
}

Result<Written> Writer::finish() {
  State& s = *state_;
  for (const auto& c : s.columns) {
    if (c.pending_rows != 0) return Error::parse("parquet: rows appended after the last end_rows");
  }
  if (auto r = s.flush_group(); !r) return r;
  // The page index: every column index, then every offset index.
  std::string bytes;
  std::uint64_t at = s.offset;
  for (auto& group : s.groups) {
    for (std::size_t i = 0; i < group.chunks.size(); ++i) {
      if (!s.columns[i].spec.page_index) continue;
      auto& chunk = group.chunks[i];
      CompactWriter w;
      w.begin_list(1, CompactWriter::kBool, chunk.pages.size());
      for (const auto& page : chunk.pages) w.element_bool(page.all_null);
      std::vector<std::pair<std::string, std::string>> encoded;
      for (const auto& page : chunk.pages)
        encoded.push_back(page.bounds.encoded(s.columns[i].spec.type));
      w.begin_list(2, CompactWriter::kBinary, chunk.pages.size());
      for (const auto& e : encoded) w.element_binary(e.first);
      w.begin_list(3, CompactWriter::kBinary, chunk.pages.size());
      for (const auto& e : encoded) w.element_binary(e.second);
      w.i32(4, boundary_order(chunk.pages));
      w.begin_list(5, CompactWriter::kI64, chunk.pages.size());
      for (const auto& page : chunk.pages) w.element_i64(page.null_count);
      const std::string index = w.finish();
      chunk.column_index_offset = static_cast<std::int64_t>(at);
      chunk.column_index_length = static_cast<std::int32_t>(index.size());
      at += index.size();
      bytes += index;
    }
  }
  for (auto& group : s.groups) {
    for (std::size_t i = 0; i < group.chunks.size(); ++i) {
      if (!s.columns[i].spec.page_index) continue;
      auto& chunk = group.chunks[i];
      CompactWriter w;
      w.begin_list(1, CompactWriter::kStruct, chunk.pages.size());
      for (const auto& page : chunk.pages) {
        w.begin_element_struct();
        w.i64(1, page.offset);
        w.i32(2, page.size);
        w.i64(3, page.first_row);
        w.end_struct();
      }
      const std::string index = w.finish();
      chunk.offset_index_offset = static_cast<std::int64_t>(at);
      chunk.offset_index_length = static_cast<std::int32_t>(index.size());
      at += index.size();
      bytes += index;
    }
  }
  const std::string meta = s.footer();
  bytes += meta;
  append_u32(bytes, meta.size());
  bytes += kMagic;
  return s.write(bytes);
}

std::uint64_t Writer::bytes_written() const noexcept { return state_->offset; }
std::uint64_t Writer::rows_written() const noexcept { return state_->total_rows; }

}  // namespace velmoran::parquet
