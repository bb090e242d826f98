// Our own numpress encoders (numpress_own.cpp) beside the reference
// MS-Numpress library that the export library uses, on the arrays of the
// benchmark run: a profile's evenly spaced m/z axis (20,000
// points), a centroid list (300 peaks), and their intensities. The
// reference is called as a writer would call it: choose the scale, encode
// (for short logged floats, from doubles: it takes no floats).
#include <cmath>
#include <cstdint>
#include <vector>

#include <benchmark/benchmark.h>
#include <libmsnumpress/MSNumpress.hpp>

#include <velmoran/export/binary_encoding.hpp>

#include "synthetic_run.hpp"

namespace {

namespace reference = ms::numpress::MSNumpress;
namespace ex = velmoran::exporting;

std::vector<double> profile_axis() {
  std::vector<double> axis(20000);
  for (std::size_t i = 0; i < axis.size(); ++i) {
    axis[i] = 100.0 + (1700.0 - 100.0) * static_cast<double>(i) / 19999.0;
  }
  return axis;
}

std::vector<double> centroid_mz() {
  std::vector<double> mz(300);
  for (std::size_t i = 0; i < mz.size(); ++i) {
    mz[i] = 100.0 + 5.0 * static_cast<double>(i) + 0.0123 * std::sin(static_cast<double>(i));
  }
  return mz;
}

std::vector<float> profile_intensity() {
  const std::vector<std::uint32_t> counts = velmoran::testkit::synthetic_profile(20000, 7);
  return {counts.begin(), counts.end()};
}

void linear_own(benchmark::State& state, const std::vector<double>& values) {
  ex::Bytes out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ex::numpress_linear(values, out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

void linear_reference(benchmark::State& state, const std::vector<double>& values) {
  std::vector<unsigned char> out;
  for (auto _ : state) {
    out.resize(8 + values.size() * 5);
    const double scale = reference::optimalLinearFixedPoint(values.data(), values.size());
    out.resize(reference::encodeLinear(values.data(), values.size(), out.data(), scale));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

void slof_own(benchmark::State& state) {
  const std::vector<float> values = profile_intensity();
  std::vector<double> unused;
  ex::Bytes out;
  for (auto _ : state) {
    benchmark::DoNotOptimize(ex::numpress_slof(values, unused, out));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

void slof_reference(benchmark::State& state) {
  const std::vector<float> values = profile_intensity();
  std::vector<double> wide;
  std::vector<unsigned char> out;
  for (auto _ : state) {
    wide.assign(values.begin(), values.end());
    out.resize(8 + 2 * wide.size());
    const double scale = reference::optimalSlofFixedPoint(wide.data(), wide.size());
    out.resize(reference::encodeSlof(wide.data(), wide.size(), out.data(), scale));
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<std::int64_t>(values.size()));
}

const std::vector<double> kProfileAxis = profile_axis();
const std::vector<double> kCentroids = centroid_mz();

BENCHMARK_CAPTURE(linear_own, profile_axis, kProfileAxis);
BENCHMARK_CAPTURE(linear_reference, profile_axis, kProfileAxis);
BENCHMARK_CAPTURE(linear_own, centroids, kCentroids);
BENCHMARK_CAPTURE(linear_reference, centroids, kCentroids);
BENCHMARK(slof_own);
BENCHMARK(slof_reference);

}  // namespace

BENCHMARK_MAIN();
