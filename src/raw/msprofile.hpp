// Profile blocks of MSProfile.bin: a 16-byte preamble, then an LZF stream
// that expands to a 16-byte header and one 32-bit intensity per point. The
// m/z axis is spanned evenly between the scan's first and last m/z.
#pragma once

#include "raw/bytes.hpp"
#include "raw/decoded.hpp"
#include <velmoran/raw/msscan.hpp>
#include <velmoran/result.hpp>

namespace velmoran::raw {

[[nodiscard]] Result<DecodedArrays> decode_profile_block(ByteView bytes, const BlockRef& block,
                                                         double first_mz, double last_mz);

}  // namespace velmoran::raw
