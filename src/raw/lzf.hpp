// LZF decompression: literal runs and back references with a 13-bit
// distance, expanded into an output of a length known in advance.
#pragma once

#include <cstddef>

#include "raw/bytes.hpp"
#include <velmoran/result.hpp>

namespace velmoran::raw {

// Expands `input` into exactly `expected_length` bytes, or fails with a
// Parse error naming what was wrong with the stream.
[[nodiscard]] Result<Bytes> decompress(ByteView input, std::size_t expected_length);

}  // namespace velmoran::raw
