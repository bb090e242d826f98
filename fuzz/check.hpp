// Invariant checks of the fuzz harnesses. A failed check prints what broke
// and aborts, so libFuzzer records the input as a crash and a replaying
// test fails.
#pragma once

namespace velmoran::fuzz {

[[noreturn]] void invariant_failed(const char* condition, const char* file, int line);

}  // namespace velmoran::fuzz

// A macro, so that the message can quote the condition and its place.
#define VELMORAN_FUZZ_CHECK(condition) \
  ((condition) ? static_cast<void>(0)  \
               : ::velmoran::fuzz::invariant_failed(#condition, __FILE__, __LINE__))
