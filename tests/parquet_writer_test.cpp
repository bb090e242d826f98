// The Parquet writer's hand-written encodings against bytes worked out from
// the Thrift compact protocol's and Parquet's own descriptions; whole files
// are checked by independent readers (tests/parquet_readers).
#include <gtest/gtest.h>

#include <cerrno>
#include <string>
#include <vector>

#include <velmoran/parquet/thrift_compact.hpp>
#include <velmoran/parquet/writer.hpp>

namespace {

using velmoran::parquet::CompactWriter;

std::string bytes(std::initializer_list<int> values) {
  std::string out;
  for (int v : values) out.push_back(static_cast<char>(v));
  return out;
}

TEST(ThriftCompact, FieldsListsAndNestedStructs) {
  CompactWriter w;
  w.i32(1, 2);                                   // delta 1, i32: 0x15; zigzag(2) = 4
  w.i64(3, 150);                                 // delta 2, i64: 0x26; zigzag(150) = 300 = ac 02
  w.binary(4, "ab");                             // delta 1, binary: 0x18; length 2
  w.begin_struct(5);                             // delta 1, struct: 0x1c; field ids restart inside
  w.boolean(1, true);                            // delta 1, true: 0x11
  w.end_struct();                                // stop
  w.i32(20, -1);                                 // delta 15 fits: 0xf5; zigzag(-1) = 1
  w.i32(40, 0);                                  // delta 20 does not: 0x05, zigzag(40) = 80
  w.begin_list(41, CompactWriter::kI64, 2);      // delta 1, list: 0x19; 2 << 4 | i64
  w.element_i64(-2);                             // zigzag(-2) = 3
  w.element_i64(64);                             // zigzag(64) = 128 = 80 01
  w.begin_list(42, CompactWriter::kStruct, 16);  // 16 elements: 0xfc then varint 16
  EXPECT_EQ(w.finish(),
            bytes({0x15, 0x04, 0x26, 0xac, 0x02, 0x18, 0x02, 'a',  'b',  0x1c, 0x11, 0x00, 0xf5,
                   0x01, 0x05, 0x50, 0x00, 0x19, 0x26, 0x03, 0x80, 0x01, 0x19, 0xfc, 0x10, 0x00}));
}

TEST(Levels, RleAndBitPackedRuns) {
  struct Case {
    const char* what;
    std::vector<std::uint8_t> levels;
    unsigned width;
    std::string expected;
  };
  const std::vector<Case> cases = {
      // Parquet's own example of bit packing: 0..7 in three bits.
      {"bit-packed 0..7", {0, 1, 2, 3, 4, 5, 6, 7}, 3, bytes({0x03, 0x88, 0xc6, 0xfa})},
      {"one RLE run", std::vector<std::uint8_t>(10, 1), 1, bytes({0x14, 0x01})},
      // Three values padded to a group of eight.
      {"short tail", {1, 0, 1}, 1, bytes({0x03, 0x05})},
      {"run after a group",
       {0, 1, 0, 1, 0, 1, 0, 1, 2, 2, 2, 2, 2, 2, 2, 2, 2},
       2,
       bytes({0x03, 0x44, 0x44, 0x12, 0x02})},
      {"nothing", {}, 1, ""},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(velmoran::parquet::encode_levels(c.levels, c.width), c.expected) << c.what;
  }
}

// A sink that takes `room` bytes, then fails as a full disk does.
class FullDisk : public velmoran::parquet::Sink {
 public:
  explicit FullDisk(std::size_t room) : room_(room) {}
  velmoran::Result<velmoran::parquet::Written> write(std::string_view data) override {
    if (data.size() > room_) return velmoran::Error::os(ENOSPC);
    room_ -= data.size();
    return velmoran::parquet::Written{};
  }

 private:
  std::size_t room_;
};

TEST(ParquetWriter, SinkFailureIsTheResult) {
  for (std::size_t room : {std::size_t{0}, std::size_t{4}, std::size_t{100}}) {
    FullDisk sink(room);
    velmoran::parquet::Writer writer(sink, {{"x", velmoran::parquet::Type::kDouble}}, {});
    auto result = writer.begin();
    for (int batch = 0; result && batch < 3; ++batch) {
      const std::vector<double> values(1000, 1.5);
      writer.append(0, values);
      result = writer.end_rows(values.size());
    }
    if (result) result = writer.finish();
    ASSERT_FALSE(result) << room;
    EXPECT_EQ(result.error().os_error(), ENOSPC);
  }
}

}  // namespace
