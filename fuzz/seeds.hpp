// Seed inputs for each fuzz target, made by the project's dataset writer
// and shaped as inputs.hpp describes: well-formed tables, blocks and
// datasets in every layout and format, and the short hostile streams that
// the LZF decoder's checks are about.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#include "inputs.hpp"

namespace velmoran::fuzz {

struct Seed {
  std::string name;
  ByteVector bytes;
};

// The seeds of the target of that name (see kTargets); none for others.
[[nodiscard]] std::vector<Seed> seeds_for(std::string_view target);

}  // namespace velmoran::fuzz
