// The fuzz targets: each takes one fuzzed input, runs the code under test
// on it and checks the invariants that hold for every input. The libFuzzer
// harnesses call them, and so does the regression test that replays the
// seeds and every input kept in fuzz/regressions/<name>/.
#pragma once

#include <string_view>

#include "inputs.hpp"

namespace velmoran::fuzz {

void run_msscan(ByteView input);
void run_lzf(ByteView input);
void run_peak(ByteView input);
void run_profile(ByteView input);
void run_dataset(ByteView input);
#ifdef VELMORAN_FUZZ_EXPORT
// Built where the export library is (VELMORAN_BUILD_CLI).
void run_export(ByteView input);
#endif

struct Target {
  std::string_view name;
  void (*run)(ByteView input);
};

inline constexpr Target kTargets[] = {
    {"msscan", run_msscan},   {"lzf", run_lzf},         {"peak", run_peak},
    {"profile", run_profile}, {"dataset", run_dataset},
#ifdef VELMORAN_FUZZ_EXPORT
    {"export", run_export},
#endif
};

}  // namespace velmoran::fuzz
