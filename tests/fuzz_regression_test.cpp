// Replays every fuzz target's seeds, and every input kept under
// fuzz/regressions/<target>/ (inputs that once crashed a harness or broke
// an invariant), through the same target code the fuzzers run. A target
// that breaks an invariant aborts, which fails this test.
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "seeds.hpp"
#include "targets.hpp"

namespace velmoran::fuzz {
namespace {

ByteVector read_whole(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return ByteVector(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

class FuzzTarget : public ::testing::TestWithParam<Target> {};

TEST_P(FuzzTarget, SeedsKeepInvariants) {
  const auto seeds = seeds_for(GetParam().name);
  EXPECT_FALSE(seeds.empty());
  for (const Seed& seed : seeds) {
    SCOPED_TRACE(seed.name);
    GetParam().run(seed.bytes);
  }
}

TEST_P(FuzzTarget, KeptInputsKeepInvariants) {
  const std::filesystem::path dir =
      std::filesystem::path(VELMORAN_FUZZ_REGRESSIONS) / std::string(GetParam().name);
  if (!std::filesystem::is_directory(dir)) GTEST_SKIP() << "no kept inputs in " << dir;
  std::vector<std::filesystem::path> inputs;
  for (const auto& entry : std::filesystem::directory_iterator(dir)) {
    if (entry.is_regular_file()) inputs.push_back(entry.path());
  }
  std::sort(inputs.begin(), inputs.end());
  for (const auto& input : inputs) {
    SCOPED_TRACE(input.filename().string());
    GetParam().run(read_whole(input));
  }
}

INSTANTIATE_TEST_SUITE_P(Replay, FuzzTarget, ::testing::ValuesIn(kTargets),
                         [](const auto& target) { return std::string(target.param.name); });

}  // namespace
}  // namespace velmoran::fuzz
