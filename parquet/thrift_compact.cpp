#include <velmoran/parquet/thrift_compact.hpp>

#include <algorithm>

namespace velmoran::parquet {

namespace {
constexpr std::uint8_t kTypeBoolTrue = 1;
constexpr std::uint8_t kTypeBoolFalse = 2;
constexpr std::uint8_t kTypeI32 = 5;
constexpr std::uint8_t kTypeI64 = 6;
constexpr std::uint8_t kTypeBinary = 8;
constexpr std::uint8_t kTypeList = 9;
constexpr std::uint8_t kTypeStruct = 12;
}  // namespace

void CompactWriter::varint(std::uint64_t value) {
  while (value >= 0x80) {
    out_.push_back(static_cast<char>((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out_.push_back(static_cast<char>(value));
}

void CompactWriter::zigzag(std::int64_t value) {
  varint((static_cast<std::uint64_t>(value) << 1) ^ static_cast<std::uint64_t>(value >> 63));
}

// A field id within 15 of the previous one fits the type byte's high nibble.
void CompactWriter::field_header(std::int16_t field, std::uint8_t type) {
  const int delta = field - last_field_;
  if (delta > 0 && delta <= 15) {
    out_.push_back(static_cast<char>((delta << 4) | type));
  } else {
    out_.push_back(static_cast<char>(type));
    zigzag(field);
  }
  last_field_ = field;
}

void CompactWriter::i32(std::int16_t field, std::int32_t value) {
  field_header(field, kTypeI32);
  zigzag(value);
}

void CompactWriter::i64(std::int16_t field, std::int64_t value) {
  field_header(field, kTypeI64);
  zigzag(value);
}

void CompactWriter::binary(std::int16_t field, std::string_view value) {
  field_header(field, kTypeBinary);
  varint(value.size());
  out_.append(value);
}

void CompactWriter::boolean(std::int16_t field, bool value) {
  field_header(field, value ? kTypeBoolTrue : kTypeBoolFalse);
}

void CompactWriter::begin_struct(std::int16_t field) {
  field_header(field, kTypeStruct);
  enclosing_.push_back(last_field_);
  last_field_ = 0;
}

void CompactWriter::begin_element_struct() {
  enclosing_.push_back(last_field_);
  last_field_ = 0;
}

void CompactWriter::end_struct() {
  out_.push_back(0);  // stop
  last_field_ = enclosing_.empty() ? 0 : enclosing_.back();
  if (!enclosing_.empty()) enclosing_.pop_back();
}

void CompactWriter::begin_list(std::int16_t field, ElementType type, std::size_t size) {
  field_header(field, kTypeList);
  if (size < 15) {
    out_.push_back(static_cast<char>((size << 4) | type));
  } else {
    out_.push_back(static_cast<char>(0xF0 | type));
    varint(size);
  }
}

void CompactWriter::element_i32(std::int32_t value) { zigzag(value); }
void CompactWriter::element_i64(std::int64_t value) { zigzag(value); }
void CompactWriter::element_binary(std::string_view value) {
  varint(value.size());
  out_.append(value);
}
void CompactWriter::element_bool(bool value) {
  out_.push_back(static_cast<char>(value ? kTypeBoolTrue : kTypeBoolFalse));
}

std::string CompactWriter::finish() {
  out_.push_back(0);
  last_field_ = 0;
  enclosing_.clear();
  return std::move(out_);
}

namespace {

void put_varint(std::string& out, std::uint64_t value) {
  while (value >= 0x80) {
    out.push_back(static_cast<char>((value & 0x7F) | 0x80));
    value >>= 7;
  }
  out.push_back(static_cast<char>(value));
}

}  // namespace

// Runs of 8 or more equal levels are RLE runs; the rest go in bit-packed
// groups of 8 (the last one padded with zeros, which the reader's value
// count cuts off).
std::string encode_levels(const std::vector<std::uint8_t>& levels, unsigned bit_width) {
  std::string out;
  const std::size_t n = levels.size();
  std::string packed;
  std::size_t groups = 0;
  const auto flush_packed = [&] {
    if (groups == 0) return;
    put_varint(out, (groups << 1) | 1);
    out += packed;
    packed.clear();
    groups = 0;
  };
  std::size_t i = 0;
  while (i < n) {
    std::size_t run = 1;
    while (i + run < n && levels[i + run] == levels[i]) ++run;
    if (run >= 8) {
      flush_packed();
      put_varint(out, run << 1);
      out.push_back(static_cast<char>(levels[i]));  // bit widths up to 8 take one byte
      i += run;
      continue;
    }
    // Eight values, bit_width bits each, least significant bit first.
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < 8; ++k) {
      const std::uint32_t level = i + k < n ? levels[i + k] : 0;
      bits |= level << (k * bit_width);
    }
    for (unsigned byte = 0; byte < bit_width; ++byte) {
      packed.push_back(static_cast<char>((bits >> (8 * byte)) & 0xFF));
    }
    ++groups;
    i = std::min(n, i + 8);
    if (groups == 63) flush_packed();
  }
  flush_packed();
  return out;
}

}  // namespace velmoran::parquet
