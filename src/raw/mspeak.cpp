#include "raw/mspeak.hpp"

#include <string>

namespace velmoran::raw {

namespace {

constexpr std::uint64_t kBytesPerPeak = 12;

}  // namespace

Result<DecodedArrays> decode_peak_block(ByteView bytes, const BlockRef& block) {
  if (block.format_id != kPeakFormatPlanar && block.format_id != kPeakFormatInterleaved) {
    return Error::parse("Unknown peak format ID: " + std::to_string(block.format_id));
  }
  const std::uint64_t n = block.point_count;
  if (bytes.size() < kBytesPerPeak * n) return Error::parse("Truncated MSPeak.bin block");

  // n is bounded by the block's length here, so the arrays are too.
  const auto count = static_cast<std::size_t>(n);
  DecodedArrays out;
  if (count == 0) return out;
  out.mz.resize(count);
  out.intensity.resize(count);
  const std::uint8_t* p = bytes.data();
  if (block.format_id == kPeakFormatInterleaved) {
    // One 12-byte record per peak: 64-bit m/z, then 32-bit intensity.
    for (std::size_t i = 0; i < count; ++i, p += kBytesPerPeak) {
      out.mz[i] = load_le<double>(p);
      out.intensity[i] = load_le<float>(p + 8);
    }
  } else {
    // Two planes: every m/z times 100, then every intensity.
    for (std::size_t i = 0; i < count; ++i) out.mz[i] = load_le<double>(p + 8 * i) / 100.0;
    const std::uint8_t* plane = p + 8 * count;
    for (std::size_t i = 0; i < count; ++i) out.intensity[i] = load_le<float>(plane + 4 * i);
  }
  return out;
}

}  // namespace velmoran::raw
