// The libFuzzer entry point of one target; VELMORAN_FUZZ_RUN names the
// target's run function (see targets.hpp).
#include <cstddef>
#include <cstdint>

#include "targets.hpp"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  velmoran::fuzz::VELMORAN_FUZZ_RUN(velmoran::fuzz::ByteView(data, size));
  return 0;
}
