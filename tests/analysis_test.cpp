// The analysis library's rules that the commands and the Python module
// share: an empty spectrum's totals, the base peak among equal and NaN
// intensities, the tolerances a window accepts, and the work spread over
// threads (every item once, a stop, a failure).
#include <atomic>
#include <cmath>
#include <limits>
#include <mutex>
#include <set>
#include <stdexcept>
#include <vector>

#include <gtest/gtest.h>

#include <velmoran/analysis/scan_totals.hpp>
#include <velmoran/analysis/scan_workers.hpp>
#include <velmoran/analysis/window_sums.hpp>

namespace {

using velmoran::analysis::for_each_item;
using velmoran::analysis::point_totals;
using velmoran::analysis::ToleranceUnit;
using velmoran::analysis::valid_tolerance;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

TEST(PointTotals, AnEmptySpectrumHasZeroTotalsAndNoBasePeakMz) {
  const auto totals = point_totals({}, {});
  EXPECT_EQ(totals.total_ion_current, 0.0);
  EXPECT_EQ(totals.base_peak_intensity, 0.0F);
  EXPECT_TRUE(std::isnan(totals.base_peak_mz));
  // Points without intensities (the shorter array counts) are none.
  const std::vector<double> mz = {100.0, 200.0};
  EXPECT_TRUE(std::isnan(point_totals(mz, {}).base_peak_mz));
}

TEST(PointTotals, TheBasePeakIsTheFirstHighestPointNaNLeftOut) {
  const std::vector<double> mz = {100.0, 200.0, 300.0, 400.0};
  const std::vector<float> intensity = {5.0F, std::nanf(""), 7.0F, 7.0F};
  const auto totals = point_totals(mz, intensity);
  EXPECT_EQ(totals.base_peak_mz, 300.0);
  EXPECT_EQ(totals.base_peak_intensity, 7.0F);
  EXPECT_TRUE(std::isnan(totals.total_ion_current));  // a NaN point sums to NaN
}

TEST(ValidTolerance, TheCommandsLimits) {
  struct Case {
    ToleranceUnit unit;
    double value;
    bool valid;
  };
  const Case cases[] = {
      {ToleranceUnit::ppm, 10.0, true},        {ToleranceUnit::ppm, 1e6, true},
      {ToleranceUnit::ppm, 1.000001e6, false}, {ToleranceUnit::ppm, 0.0, false},
      {ToleranceUnit::ppm, -1.0, false},       {ToleranceUnit::ppm, kNaN, false},
      {ToleranceUnit::ppm, kInf, false},       {ToleranceUnit::da, 1e300, true},
      {ToleranceUnit::da, 0.0, false},         {ToleranceUnit::da, kInf, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(valid_tolerance(c.unit, c.value), c.valid) << c.value;
  }
}

TEST(ForEachItem, EveryItemOnceOnAnyNumberOfThreads) {
  for (const unsigned threads : {1U, 2U, 7U}) {
    std::mutex mutex;
    std::multiset<std::size_t> seen;
    std::atomic<bool> stop{false};
    for_each_item(1000, threads, stop, [&](std::size_t k, std::size_t worker) {
      EXPECT_LT(worker, threads);
      const std::lock_guard lock(mutex);
      seen.insert(k);
    });
    EXPECT_EQ(seen.size(), 1000U);
    EXPECT_EQ(std::set<std::size_t>(seen.begin(), seen.end()).size(), 1000U);
  }
}

TEST(ForEachItem, AStopEndsItAndAFailureComesBack) {
  std::atomic<bool> stop{true};
  std::atomic<int> calls{0};
  for_each_item(100, 2, stop, [&](std::size_t, std::size_t) { ++calls; });
  EXPECT_EQ(calls.load(), 0);
  stop = false;
  EXPECT_THROW(for_each_item(100, 2, stop,
                             [](std::size_t k, std::size_t) {
                               if (k == 50) throw std::runtime_error("item 50");
                             }),
               std::runtime_error);
}

}  // namespace
