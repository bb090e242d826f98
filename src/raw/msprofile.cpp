#include "raw/msprofile.hpp"

#include <cstdint>
#include <type_traits>

#include "raw/lzf.hpp"

namespace velmoran::raw {

namespace {

constexpr std::size_t kPreambleSize = 16;
constexpr std::uint64_t kHeaderSize = 16;
constexpr std::uint64_t kBytesPerPoint = 4;

}  // namespace

Result<DecodedArrays> decode_profile_block(ByteView bytes, const BlockRef& block, double first_mz,
                                           double last_mz) {
  // The order of these tests decides the message of a block that fails
  // several of them; the stream is looked at only when there are points.
  if (bytes.size() < kPreambleSize) {
    return Error::parse("MSProfile block too short for preamble");
  }
  if (!block.uncompressed_byte_count) {
    return Error::parse("Missing UncompressedByteCount for profile block");
  }
  const std::uint64_t n = block.point_count;
  DecodedArrays out;
  if (n == 0) return out;

  auto expanded = decompress(bytes.subspan(kPreambleSize), *block.uncompressed_byte_count);
  if (!expanded) return std::move(expanded).error();
  if (expanded->size() < kHeaderSize + kBytesPerPoint * n) {
    return Error::parse("Decompressed profile block too short for point count");
  }

  // n is bounded by the decompressed length here, so the arrays are too.
  const auto count = static_cast<std::size_t>(n);
  out.intensity.resize(count);
  out.mz.resize(count);

  // Stored intensities are unsigned 32-bit; the nearest float (ties to
  // even) loses the lowest bits of values above 2^24.
  const std::uint8_t* p = expanded->data() + kHeaderSize;
  for (std::size_t i = 0; i < count; ++i) {
    out.intensity[i] = static_cast<float>(load_le<std::uint32_t>(p + kBytesPerPoint * i));
  }

  // The axis is computed, never stored: first + step * i, the product
  // rounded before the sum (the library is built without contraction into
  // fused multiply-adds). The index is a signed 32-bit integer, which SSE2
  // converts to double two at a time (a 64-bit one only one by one); either
  // way every index converts exactly. The count fits: the decompressed
  // length is a 32-bit field and holds 4 bytes per point.
  static_assert(std::is_same_v<decltype(block.uncompressed_byte_count)::value_type, std::uint32_t>);
  const double step = n == 1 ? 0.0 : (last_mz - first_mz) / static_cast<double>(n - 1);
  const auto points = static_cast<std::int32_t>(count);
  double* const mz = out.mz.data();
  for (std::int32_t i = 0; i < points; ++i) mz[i] = first_mz + step * static_cast<double>(i);
  return out;
}

}  // namespace velmoran::raw
