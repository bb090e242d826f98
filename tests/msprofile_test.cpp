#include "raw/msprofile.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "dataset_writer.hpp"
#include "synthetic_run.hpp"

namespace velmoran::raw {
namespace {

using testkit::ByteVector;

BlockRef profile_ref(std::uint32_t point_count, std::optional<std::uint32_t> uncompressed) {
  BlockRef block;
  block.format_id = 1;
  block.point_count = point_count;
  block.uncompressed_byte_count = uncompressed;
  return block;
}

// A block of these intensities, with `surplus` zero bytes after them in the
// decompressed data; its BlockRef describes it truthfully.
struct Block {
  ByteVector bytes;
  BlockRef ref;
};
Block make_block(const std::vector<std::uint32_t>& intensities, std::size_t surplus = 0) {
  ByteVector payload = testkit::profile_payload(intensities);
  payload.resize(payload.size() + surplus, 0);
  return {testkit::encode_profile_block(payload),
          profile_ref(static_cast<std::uint32_t>(intensities.size()),
                      static_cast<std::uint32_t>(payload.size()))};
}

TEST(ProfileBlock, FailuresInOrder) {
  const ByteVector fifteen(15, 0);
  const ByteVector sixteen(16, 0);
  // Preamble, then a back reference at output position 0.
  ByteVector corrupt(16, 0);
  corrupt.insert(corrupt.end(), {0x20, 0x00});
  // Preamble, then one literal byte.
  ByteVector one_byte(16, 0);
  one_byte.insert(one_byte.end(), {0x00, 0x61});
  const Block four_points = make_block({1, 2, 3, 4});

  const struct {
    const char* name;
    ByteVector bytes;
    BlockRef ref;
    std::string message;
  } cases[] = {
      {"short preamble, no count", fifteen, profile_ref(0, std::nullopt),
       "MSProfile block too short for preamble"},
      {"short preamble, no points", fifteen, profile_ref(0, 0),
       "MSProfile block too short for preamble"},
      {"missing count, no points", sixteen, profile_ref(0, std::nullopt),
       "Missing UncompressedByteCount for profile block"},
      {"nothing decompressed", sixteen, profile_ref(1, 0),
       "Decompressed profile block too short for point count"},
      {"empty stream", sixteen, profile_ref(1, 20), "LZF: decompressed length 0 != expected 20"},
      {"stream error passed up", corrupt, profile_ref(1, 20), "LZF: invalid back reference"},
      // A claim of 4 GiB against a 2-byte stream: refused, not allocated.
      {"largest claim", one_byte, profile_ref(1, 0xFFFFFFFF),
       "LZF: decompressed length 1 != expected 4294967295"},
      // 16 + 4 * (2^32 - 1) computed without wrapping.
      {"largest point count", four_points.bytes, profile_ref(0xFFFFFFFF, 32),
       "Decompressed profile block too short for point count"},
      {"one point too many", four_points.bytes, profile_ref(5, 32),
       "Decompressed profile block too short for point count"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto result = decode_profile_block(c.bytes, c.ref, 100.0, 200.0);
    ASSERT_FALSE(result);
    EXPECT_EQ(result.error(), Error::parse(c.message));
  }
}

TEST(ProfileBlock, NoPointsSkipTheStream) {
  ByteVector corrupt(16, 0);
  corrupt.push_back(0xFF);
  auto result = decode_profile_block(corrupt, profile_ref(0, 1000), 100.0, 200.0);
  ASSERT_TRUE(result) << result.error();
  EXPECT_TRUE(result->mz.empty());
  EXPECT_TRUE(result->intensity.empty());
}

TEST(ProfileBlock, Axis) {
  const struct {
    const char* name;
    std::size_t points;
    double first;
    double last;
    quorlith::MzArray mz;
  } cases[] = {
      {"one point takes the first m/z", 1, 300.0, 900.0, {300.0}},
      {"even spacing", 3, 100.0, 200.0, {100.0, 150.0, 200.0}},
      {"no m/z range", 3, 0.0, 0.0, {0.0, 0.0, 0.0}},
      {"falling", 3, 200.0, 100.0, {200.0, 150.0, 100.0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Block block = make_block(std::vector<std::uint32_t>(c.points, 5));
    auto result = decode_profile_block(block.bytes, block.ref, c.first, c.last);
    ASSERT_TRUE(result) << result.error();
    EXPECT_EQ(result->mz, c.mz);
    EXPECT_EQ(result->intensity, quorlith::IntensityArray(c.points, 5.0F));
  }
}

// The axis is first + step * i with the product rounded on its own. Find a
// point where a fused multiply-add would round differently, and check that
// the decoder gives the two-rounding value there (and everywhere).
TEST(ProfileBlock, AxisRoundsProductAndSumSeparately) {
  constexpr std::size_t n = 20001;
  const double first = 100.123;
  const double last = 1999.877;
  const double step = (last - first) / static_cast<double>(n - 1);
  std::vector<double> expected(n);
  std::optional<std::size_t> differs_at;
  for (std::size_t i = 0; i < n; ++i) {
    volatile double product = step * static_cast<double>(i);  // rounded here
    expected[i] = first + product;
    if (!differs_at && expected[i] != std::fma(step, static_cast<double>(i), first)) differs_at = i;
  }
  ASSERT_TRUE(differs_at) << "no point where a fused multiply-add differs";

  const Block block = make_block(std::vector<std::uint32_t>(n, 0));
  auto result = decode_profile_block(block.bytes, block.ref, first, last);
  ASSERT_TRUE(result) << result.error();
  EXPECT_NE(result->mz[*differs_at], std::fma(step, static_cast<double>(*differs_at), first));
  EXPECT_EQ(result->mz[*differs_at], expected[*differs_at]);
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), result->mz.begin()));
}

TEST(ProfileBlock, IntensitiesRoundToNearestFloat) {
  const Block block = make_block({0, 1, 16777216, 16777217, 16777219, 4294967295}, 7);
  auto result = decode_profile_block(block.bytes, block.ref, 1.0, 2.0);
  ASSERT_TRUE(result) << result.error();
  // 16777217 ties to even (down), 16777219 ties to even (up).
  EXPECT_EQ(result->intensity, (quorlith::IntensityArray{0.0F, 1.0F, 16777216.0F, 16777216.0F,
                                                         16777220.0F, 4294967296.0F}));
}

TEST(ProfileBlock, WriterBlocksDecode) {
  const std::vector<std::uint32_t> intensities = testkit::synthetic_profile(20000, 3);
  testkit::DatasetWriter writer;
  const testkit::Descriptor d = writer.add_profile_block(intensities);
  const ByteVector& file = writer.profile_file();
  const ByteView bytes = ByteView(file).subspan(d.offset, d.byte_count);
  auto result = decode_profile_block(bytes, profile_ref(d.point_count, d.uncompressed_byte_count),
                                     100.0, 1100.0);
  ASSERT_TRUE(result) << result.error();
  ASSERT_EQ(result->intensity.size(), intensities.size());
  for (std::size_t i = 0; i < intensities.size(); ++i) {
    ASSERT_EQ(result->intensity[i], static_cast<float>(intensities[i])) << i;
  }
  EXPECT_EQ(result->mz.front(), 100.0);
  EXPECT_NEAR(result->mz.back(), 1100.0, 1e-9);
}

}  // namespace
}  // namespace velmoran::raw
