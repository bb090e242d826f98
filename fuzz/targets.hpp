// The fuzz targets: each takes one fuzzed input, runs the code under test
// on it and checks the invariants that hold for every input. The libFuzzer
// harnesses call them, and so does the regression test that replays the
// seeds and every input kept in fuzz/regressions/<name>/.
#pragma once

#include <array>
#include <string_view>

#include "inputs.hpp"

namespace velmoran::fuzz {

void run_msscan(ByteView input);
void run_lzf(ByteView input);
void run_peak(ByteView input);
void run_profile(ByteView input);
void run_dataset(ByteView input);

struct Target {
  std::string_view name;
  void (*run)(ByteView input);
};

inline constexpr std::array<Target, 5> kTargets{{
    {"msscan", run_msscan},
    {"lzf", run_lzf},
    {"peak", run_peak},
    {"profile", run_profile},
    {"dataset", run_dataset},
}};

}  // namespace velmoran::fuzz
