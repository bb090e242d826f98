// The decoded arrays of one block: m/z and intensity, parallel.
#pragma once

#include <quorlith/types.hpp>

namespace velmoran::raw {

struct DecodedArrays {
  quorlith::MzArray mz;
  quorlith::IntensityArray intensity;
};

}  // namespace velmoran::raw
