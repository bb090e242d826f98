// Centroid peak blocks of MSPeak.bin, format IDs 2 (two planes, m/z scaled
// by 100) and 3 (one 12-byte record per peak).
#pragma once

#include "raw/bytes.hpp"
#include "raw/decoded.hpp"
#include <velmoran/raw/msscan.hpp>
#include <velmoran/result.hpp>

namespace velmoran::raw {

[[nodiscard]] Result<DecodedArrays> decode_peak_block(ByteView bytes, const BlockRef& block);

}  // namespace velmoran::raw
