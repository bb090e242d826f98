// Thrift's compact protocol, the encoding of Parquet's page headers and
// footer, written only (structs, lists, i32/i64, binary, bool): what the
// writer needs and nothing it does not.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace velmoran::parquet {

class CompactWriter {
 public:
  // Element types of lists (the compact protocol's type nibbles).
  enum ElementType : std::uint8_t {
    kBool = 1,
    kI32 = 5,
    kI64 = 6,
    kBinary = 8,
    kStruct = 12,
  };

  void i32(std::int16_t field, std::int32_t value);
  void i64(std::int16_t field, std::int64_t value);
  void binary(std::int16_t field, std::string_view value);
  void boolean(std::int16_t field, bool value);
  // A struct field: its fields follow, then end_struct().
  void begin_struct(std::int16_t field);
  void end_struct();
  // A list field of `size` elements, written with the element calls below.
  void begin_list(std::int16_t field, ElementType type, std::size_t size);
  void element_i32(std::int32_t value);
  void element_i64(std::int64_t value);
  void element_binary(std::string_view value);
  void element_bool(bool value);
  // A struct element of a list: its fields, then end_struct().
  void begin_element_struct();
  // Ends the outermost struct (the message).
  [[nodiscard]] std::string finish();

 private:
  void field_header(std::int16_t field, std::uint8_t type);
  void varint(std::uint64_t value);
  void zigzag(std::int64_t value);

  std::string out_;
  std::int16_t last_field_ = 0;
  std::vector<std::int16_t> enclosing_;
};

// The RLE / bit-packed hybrid encoding of repetition or definition levels,
// without the length prefix.
[[nodiscard]] std::string encode_levels(const std::vector<std::uint8_t>& levels,
                                        unsigned bit_width);

}  // namespace velmoran::parquet
