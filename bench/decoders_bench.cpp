// Block decoder throughput in points per second, beside a plain memcpy of
// the 12 bytes per point the decoders write (8 of m/z, 4 of intensity) as
// the yardstick.
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include <benchmark/benchmark.h>

#include "dataset_writer.hpp"
#include "synthetic_run.hpp"
#include "raw/mspeak.hpp"
#include "raw/msprofile.hpp"

namespace {

using velmoran::testkit::ByteVector;

constexpr std::uint32_t kPoints = 20000;

void set_points(benchmark::State& state) {
  state.SetItemsProcessed(static_cast<std::int64_t>(state.iterations()) * kPoints);
}

// A profile block of 20,000 points as our writer compresses it.
struct ProfileBlock {
  ByteVector bytes;
  velmoran::raw::BlockRef ref;
};
const ProfileBlock& profile_block() {
  static const ProfileBlock block = [] {
    const auto intensities = velmoran::testkit::synthetic_profile(kPoints, 42);
    const ByteVector payload = velmoran::testkit::profile_payload(intensities);
    ProfileBlock b;
    b.bytes = velmoran::testkit::encode_profile_block(payload);
    b.ref.format_id = 1;
    b.ref.point_count = kPoints;
    b.ref.uncompressed_byte_count = static_cast<std::uint32_t>(payload.size());
    return b;
  }();
  return block;
}

ByteVector peak_block(std::uint32_t format_id) {
  std::vector<double> mz(kPoints);
  std::vector<float> intensity(kPoints);
  for (std::uint32_t i = 0; i < kPoints; ++i) {
    mz[i] = 100.0 + 0.05 * i;
    intensity[i] = static_cast<float>(i % 977) * 3.5F;
  }
  return velmoran::testkit::encode_peak_block(format_id, mz, intensity);
}

void DecodeProfileBlock(benchmark::State& state) {
  const ProfileBlock& block = profile_block();
  for (auto _ : state) {
    auto out = velmoran::raw::decode_profile_block(block.bytes, block.ref, 100.0, 1100.0);
    benchmark::DoNotOptimize(out);
  }
  set_points(state);
}

void DecodePeakBlock(benchmark::State& state) {
  const auto format_id = static_cast<std::uint32_t>(state.range(0));
  const ByteVector bytes = peak_block(format_id);
  velmoran::raw::BlockRef ref;
  ref.format_id = format_id;
  ref.point_count = kPoints;
  for (auto _ : state) {
    auto out = velmoran::raw::decode_peak_block(bytes, ref);
    benchmark::DoNotOptimize(out);
  }
  set_points(state);
}

// The yardstick: the decoders' output volume copied by memcpy into a buffer
// allocated per call, as the decoders allocate theirs.
void MemcpyOutputBytes(benchmark::State& state) {
  const ByteVector source = peak_block(3);
  for (auto _ : state) {
    auto out = std::make_unique_for_overwrite<std::uint8_t[]>(source.size());
    std::memcpy(out.get(), source.data(), source.size());
    benchmark::DoNotOptimize(out);
    benchmark::ClobberMemory();
  }
  set_points(state);
}

BENCHMARK(DecodeProfileBlock);
BENCHMARK(DecodePeakBlock)->Arg(2)->Arg(3);
BENCHMARK(MemcpyOutputBytes);

}  // namespace

int main(int argc, char** argv) {
#ifndef __OPTIMIZE__
  std::fprintf(stderr, "note: built without optimisation; measure in a Release tree\n");
#endif
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
