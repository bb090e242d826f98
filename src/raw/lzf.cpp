#include "raw/lzf.hpp"

namespace velmoran::raw {

// Placeholder until the decoder lands.
Result<Bytes> decompress(ByteView /*input*/, std::size_t /*expected_length*/) {
  return Error::parse("LZF: not available");
}

}  // namespace velmoran::raw
