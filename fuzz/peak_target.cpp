// raw::decode_peak_block with any format ID and point count: it decodes
// exactly when the format is known and the block holds 12 bytes a peak,
// and then yields the stored values in the stored order.
#include <cstring>
#include <string>

#include "check.hpp"
#include "raw/mspeak.hpp"
#include "targets.hpp"

namespace velmoran::fuzz {

namespace {

template <class T>
bool same_bits(T a, T b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

}  // namespace

void run_peak(ByteView input) {
  const PeakInput carved = split_peak_input(input);
  const raw::BlockRef& block = carved.block;
  const bool known_format =
      block.format_id == raw::kPeakFormatPlanar || block.format_id == raw::kPeakFormatInterleaved;
  const std::uint64_t n = block.point_count;
  const bool fits = carved.bytes.size() >= 12 * n;

  auto decoded = raw::decode_peak_block(carved.bytes, block);
  VELMORAN_FUZZ_CHECK(decoded.has_value() == (known_format && fits));
  if (!decoded) {
    VELMORAN_FUZZ_CHECK(decoded.error().is_parse());
    VELMORAN_FUZZ_CHECK(decoded.error().detail() ==
                        (known_format
                             ? std::string("Truncated MSPeak.bin block")
                             : "Unknown peak format ID: " + std::to_string(block.format_id)));
    return;
  }
  VELMORAN_FUZZ_CHECK(decoded->mz.size() == n);
  VELMORAN_FUZZ_CHECK(decoded->intensity.size() == n);
  const auto count = static_cast<std::size_t>(n);
  for (std::size_t i = 0; i < count; ++i) {
    const bool planar = block.format_id == raw::kPeakFormatPlanar;
    const double mz = planar ? raw::load_le<double>(carved.bytes, 8 * i) / 100.0
                             : raw::load_le<double>(carved.bytes, 12 * i);
    const float intensity = planar ? raw::load_le<float>(carved.bytes, 8 * count + 4 * i)
                                   : raw::load_le<float>(carved.bytes, 12 * i + 8);
    VELMORAN_FUZZ_CHECK(same_bits(decoded->mz[i], mz));
    VELMORAN_FUZZ_CHECK(same_bits(decoded->intensity[i], intensity));
  }
}

}  // namespace velmoran::fuzz
