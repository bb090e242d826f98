#include "raw/mspeak.hpp"

#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "dataset_writer.hpp"

namespace velmoran::raw {
namespace {

using testkit::ByteVector;

template <class T>
void append(ByteVector& out, T value) {
  const auto bytes = std::bit_cast<std::array<std::uint8_t, sizeof(T)>>(value);
  out.insert(out.end(), bytes.begin(), bytes.end());
}

BlockRef peak_ref(std::uint32_t format_id, std::uint32_t point_count) {
  BlockRef block;
  block.format_id = format_id;
  block.point_count = point_count;
  return block;
}

std::string error_of(ByteView bytes, const BlockRef& block) {
  auto result = decode_peak_block(bytes, block);
  if (result) return "decoded";
  EXPECT_TRUE(result.error().is_parse());
  return result.error().detail();
}

TEST(PeakBlock, Failures) {
  const ByteVector twelve(12, 0);
  const struct {
    const char* name;
    ByteVector bytes;
    BlockRef block;
    std::string message;
  } cases[] = {
      {"profile format id, no peaks", {}, peak_ref(1, 0), "Unknown peak format ID: 1"},
      {"unknown format beats truncation", {}, peak_ref(4, 100), "Unknown peak format ID: 4"},
      {"largest format id", twelve, peak_ref(0xFFFFFFFF, 1), "Unknown peak format ID: 4294967295"},
      {"format 3 one byte short", ByteVector(23, 0), peak_ref(3, 2), "Truncated MSPeak.bin block"},
      {"format 2 one byte short", ByteVector(23, 0), peak_ref(2, 2), "Truncated MSPeak.bin block"},
      // 12 * (2^32 - 1) computed without wrapping; nothing is allocated.
      {"largest count", twelve, peak_ref(3, 0xFFFFFFFF), "Truncated MSPeak.bin block"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(error_of(c.bytes, c.block), c.message);
  }
}

TEST(PeakBlock, NoPeaksGiveEmptyArrays) {
  for (std::uint32_t format : {2U, 3U}) {
    auto result = decode_peak_block({}, peak_ref(format, 0));
    ASSERT_TRUE(result) << result.error();
    EXPECT_TRUE(result->mz.empty());
    EXPECT_TRUE(result->intensity.empty());
  }
}

TEST(PeakBlock, InterleavedRecords) {
  ByteVector bytes;
  append(bytes, 100.5);
  append(bytes, 2.0F);
  bytes.push_back(0xEE);  // surplus, ignored
  auto result = decode_peak_block(bytes, peak_ref(3, 1));
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(result->mz, quorlith::MzArray{100.5});
  EXPECT_EQ(result->intensity, quorlith::IntensityArray{2.0F});
}

TEST(PeakBlock, PlanesWithScaledMz) {
  ByteVector bytes;
  append(bytes, 10050.0);
  append(bytes, 20000.0);
  append(bytes, 1.5F);
  append(bytes, 3.0F);
  auto result = decode_peak_block(bytes, peak_ref(2, 2));
  ASSERT_TRUE(result) << result.error();
  EXPECT_EQ(result->mz, (quorlith::MzArray{100.5, 200.0}));
  EXPECT_EQ(result->intensity, (quorlith::IntensityArray{1.5F, 3.0F}));
}

// Values pass through unchecked; intensities and format-3 m/z bit for bit
// (a signalling NaN's payload included).
TEST(PeakBlock, ValuesPassThroughBitForBit) {
  const std::vector<std::uint32_t> intensity_bits = {0x7F800001, 0xFFC12345, 0x80000000, 0xFF800000,
                                                     0x00000001};
  const std::vector<std::uint64_t> mz_bits = {0x7FF0000000000001, 0xFFF8000000000ABC,
                                              0x8000000000000000, 0xC059000000000000,
                                              0x0000000000000001};
  const std::size_t n = intensity_bits.size();
  ByteVector interleaved;
  ByteVector planar;
  for (std::size_t i = 0; i < n; ++i) {
    append(interleaved, mz_bits[i]);
    append(interleaved, intensity_bits[i]);
    append(planar, std::bit_cast<std::uint64_t>(static_cast<double>(i) * 100.0));
  }
  for (std::uint32_t bits : intensity_bits) append(planar, bits);

  for (const auto& [format, bytes] : {std::pair{3U, interleaved}, std::pair{2U, planar}}) {
    auto result = decode_peak_block(bytes, peak_ref(format, static_cast<std::uint32_t>(n)));
    ASSERT_TRUE(result) << result.error();
    ASSERT_EQ(result->intensity.size(), n);
    ASSERT_EQ(result->mz.size(), n);
    for (std::size_t i = 0; i < n; ++i) {
      EXPECT_EQ(std::bit_cast<std::uint32_t>(result->intensity[i]), intensity_bits[i]);
      if (format == 3) {
        EXPECT_EQ(std::bit_cast<std::uint64_t>(result->mz[i]), mz_bits[i]);
      } else {
        EXPECT_EQ(result->mz[i], static_cast<double>(i));
      }
    }
  }
}

// Blocks from our writer, in file order, at odd offsets within a buffer.
TEST(PeakBlock, WriterBlocksDecode) {
  std::vector<double> mz;
  std::vector<float> intensity;
  for (int i = 0; i < 1000; ++i) {
    mz.push_back(50.0 + 0.731 * i);
    intensity.push_back(static_cast<float>((i * 7919) % 100000) * 0.25F);
  }
  for (std::uint32_t format : {2U, 3U}) {
    SCOPED_TRACE(format);
    ByteVector bytes = {0xAB};  // misaligns the block
    const ByteVector block = testkit::encode_peak_block(format, mz, intensity);
    bytes.insert(bytes.end(), block.begin(), block.end());
    auto result = decode_peak_block(ByteView(bytes).subspan(1), peak_ref(format, 1000));
    ASSERT_TRUE(result) << result.error();
    for (std::size_t i = 0; i < mz.size(); ++i) {
      // Format 2 stores m/z * 100 and divides again: the same two roundings.
      const double expected = format == 3 ? mz[i] : (mz[i] * 100.0) / 100.0;
      ASSERT_EQ(result->mz[i], expected) << i;
      ASSERT_EQ(result->intensity[i], intensity[i]) << i;
    }
  }
}

}  // namespace
}  // namespace velmoran::raw
