#include "raw/msprofile.hpp"

#include "raw/lzf.hpp"

namespace velmoran::raw {

// Placeholder until the decoder lands.
Result<DecodedArrays> decode_profile_block(ByteView /*bytes*/, const BlockRef& /*block*/,
                                           double /*first_mz*/, double /*last_mz*/) {
  return Error::parse("MSProfile block too short for preamble");
}

}  // namespace velmoran::raw
