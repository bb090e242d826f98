// raw::decode_profile_block with any counts and m/z range: its outcome
// follows from the block's length, the counts and what raw::decompress
// makes of the stream; a decoded block has one intensity per stored value
// and the evenly spanned axis. The peaks picked from it are finite,
// positive, within the axis and in its order, whatever the stored values and
// the m/z range (NaN, infinite, falling).
#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include <velmoran/peak_picking.hpp>

#include "check.hpp"
#include "raw/lzf.hpp"
#include "raw/msprofile.hpp"
#include "targets.hpp"

namespace velmoran::fuzz {

namespace {

constexpr std::size_t kPreamble = 16;
constexpr std::uint64_t kHeader = 16;

bool same_bits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

void check_failure(const Result<raw::DecodedArrays>& decoded, const std::string& message) {
  VELMORAN_FUZZ_CHECK(!decoded.has_value());
  VELMORAN_FUZZ_CHECK(decoded.error().is_parse());
  VELMORAN_FUZZ_CHECK(decoded.error().detail() == message);
}

}  // namespace

void run_profile(ByteView input) {
  const ProfileInput carved = split_profile_input(input);
  const raw::BlockRef& block = carved.block;
  const std::uint64_t n = block.point_count;

  auto decoded = raw::decode_profile_block(carved.bytes, block, carved.first_mz, carved.last_mz);
  if (carved.bytes.size() < kPreamble) {
    return check_failure(decoded, "MSProfile block too short for preamble");
  }
  if (!block.uncompressed_byte_count) {
    return check_failure(decoded, "Missing UncompressedByteCount for profile block");
  }
  if (n == 0) {
    VELMORAN_FUZZ_CHECK(decoded.has_value());
    VELMORAN_FUZZ_CHECK(decoded->mz.empty() && decoded->intensity.empty());
    return;
  }
  auto expanded = raw::decompress(carved.bytes.subspan(kPreamble), *block.uncompressed_byte_count);
  if (!expanded) return check_failure(decoded, expanded.error().detail());
  if (expanded->size() < kHeader + 4 * n) {
    return check_failure(decoded, "Decompressed profile block too short for point count");
  }

  VELMORAN_FUZZ_CHECK(decoded.has_value());
  VELMORAN_FUZZ_CHECK(decoded->mz.size() == n);
  VELMORAN_FUZZ_CHECK(decoded->intensity.size() == n);
  const auto count = static_cast<std::size_t>(n);
  const double step =
      count == 1 ? 0.0 : (carved.last_mz - carved.first_mz) / static_cast<double>(count - 1);
  for (std::size_t i = 0; i < count; ++i) {
    const auto stored = raw::load_le<std::uint32_t>(expanded->view(), kHeader + 4 * i);
    VELMORAN_FUZZ_CHECK(decoded->intensity[i] == static_cast<float>(stored));
    const double mz = carved.first_mz + step * static_cast<double>(i);
    VELMORAN_FUZZ_CHECK(same_bits(decoded->mz[i], mz));
  }

  const PickedPeaks peaks = pick_peaks(decoded->mz, decoded->intensity);
  VELMORAN_FUZZ_CHECK(peaks.mz.size() == peaks.intensity.size());
  VELMORAN_FUZZ_CHECK(peaks.mz.size() <= max_picked_peaks(count));
  const double low = std::min(decoded->mz.front(), decoded->mz.back());
  const double high = std::max(decoded->mz.front(), decoded->mz.back());
  const bool rising = decoded->mz.back() >= decoded->mz.front();
  for (std::size_t k = 0; k < peaks.mz.size(); ++k) {
    VELMORAN_FUZZ_CHECK(std::isfinite(peaks.mz[k]) && std::isfinite(peaks.intensity[k]));
    VELMORAN_FUZZ_CHECK(peaks.intensity[k] > 0.0f);
    VELMORAN_FUZZ_CHECK(peaks.mz[k] >= low && peaks.mz[k] <= high);
    if (k > 0)
      VELMORAN_FUZZ_CHECK(rising ? peaks.mz[k - 1] <= peaks.mz[k] : peaks.mz[k - 1] >= peaks.mz[k]);
  }
}

}  // namespace velmoran::fuzz
