// The map's grid (inspect::RunMap) against a plain loop over the reader's
// spectra: profiles and unsorted centroids with NaN points in the same
// columns, any cache size, several threads binning at once.
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include <velmoran/inspect/run_map.hpp>
#include <velmoran/reader.hpp>

#include "dataset_writer.hpp"

namespace velmoran {
namespace {

constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// Survey scans alternating between a profile and unsorted centroids with a
// NaN m/z and a NaN intensity; a few fragment scans.
void write_run(const std::filesystem::path& dataset) {
  testkit::DatasetWriter writer;
  writer.table().layout = testkit::Layout::k284;
  for (std::uint32_t i = 0; i < 60; ++i) {
    testkit::RecordSpec r;
    r.scan_id = i + 1;
    r.retention_time_min = 0.013 * i;
    r.ms_level = static_cast<std::uint16_t>(i % 5 == 4 ? 2 : 1);
    r.mz_range_low = 100.0 + i % 3;
    r.mz_range_high = 1000.0 - i % 7;
    if (i % 2 == 0) {
      std::vector<std::uint32_t> profile(500 + 7 * i);
      for (std::size_t k = 0; k < profile.size(); ++k) {
        profile[k] = static_cast<std::uint32_t>((k * 37 + i * 11) % 5000);
      }
      r.first = writer.add_profile_block(profile);
    } else {
      std::vector<double> mz{900.5, 150.25, 150.25, 420.0, std::nan(""), 999.0, 100.0};
      std::vector<float> intensity{5.0F, 70.0F, 30.0F, kNaN, 1e9F, static_cast<float>(i), 2.0F};
      r.second = writer.add_peak_block(3, mz, intensity);
    }
    writer.table().records.push_back(r);
  }
  writer.write(dataset);
}

// The last cell whose lower edge is at or below `value`, edge by edge.
std::size_t cell_by_scan(const std::vector<double>& edges, double value) {
  std::size_t cell = 0;
  for (std::size_t k = 0; k + 1 < edges.size(); ++k) {
    if (edges[k] <= value) cell = k;
  }
  return cell;
}

std::vector<float> plain_grid(const Reader& reader, const inspect::MapQuery& query) {
  const auto columns = inspect::map_edges(*query.rt, query.width);
  const auto rows = inspect::map_edges(*query.mz, query.height);
  std::vector<std::optional<float>> best(std::size_t{query.width} * query.height);
  for (std::size_t s = 0; s < reader.scans().records.size(); ++s) {
    const auto spectrum = reader.read_spectrum(s).record;
    const double rt = spectrum.retention_time_sec;
    if (spectrum.ms_level != query.ms_level || !(rt >= query.rt->lo && rt <= query.rt->hi))
      continue;
    for (std::size_t i = 0; i < spectrum.mz.size(); ++i) {
      const double mz = spectrum.mz[i];
      const float value = spectrum.intensity[i];
      if (std::isnan(value) || !(mz >= query.mz->lo && mz <= query.mz->hi)) continue;
      const std::size_t row = query.height - 1 - cell_by_scan(rows, mz);
      auto& cell = best[row * query.width + cell_by_scan(columns, rt)];
      if (!cell || value > *cell) cell = value;
    }
  }
  std::vector<float> grid;
  for (const auto& cell : best) grid.push_back(cell.value_or(0.0F));
  return grid;
}

class RunMapTest : public ::testing::Test {
 protected:
  void SetUp() override {
    write_run(dir_.path() / "run.d");
    auto opened = Reader::open(dir_.path() / "run.d");
    ASSERT_TRUE(opened) << opened.error().text();
    reader_.emplace(std::move(opened).value());
  }

  [[nodiscard]] static std::vector<inspect::MapQuery> queries() {
    std::vector<inspect::MapQuery> out;
    for (const auto& [rt, mz, width, height] :
         {std::tuple{inspect::MapRange{0.0, 50.0}, inspect::MapRange{100.0, 1000.0}, 17U, 300U},
          std::tuple{inspect::MapRange{7.8, 31.2}, inspect::MapRange{150.25, 420.0}, 5U, 4096U},
          std::tuple{inspect::MapRange{0.78, 0.78 + 1e-9}, inspect::MapRange{140.0, 160.0}, 1U, 7U},
          std::tuple{inspect::MapRange{-5.0, 100.0}, inspect::MapRange{0.0, 2000.0}, 1000U, 3U}}) {
      inspect::MapQuery query;
      query.rt = rt;
      query.mz = mz;
      query.width = width;
      query.height = height;
      out.push_back(query);
    }
    return out;
  }

  testkit::TempDir dir_;
  std::optional<Reader> reader_;
};

TEST_F(RunMapTest, GridsEqualAPlainLoopWithAnyCache) {
  // No cache, one that holds some of the scans, one that holds all.
  std::size_t filled = 0;
  for (const float value : plain_grid(*reader_, queries()[0])) filled += value > 0.0F ? 1 : 0;
  ASSERT_GT(filled, 1000U);
  for (const std::size_t cache : {std::size_t{0}, std::size_t{20'000}, std::size_t{1} << 30}) {
    const inspect::RunMap map(*reader_, cache);
    for (int pass = 0; pass < 2; ++pass) {
      for (const auto& query : queries()) {
        SCOPED_TRACE(testing::Message() << "cache " << cache << ", " << query.width << " x "
                                        << query.height << " from rt " << query.rt->lo);
        EXPECT_EQ(map.bin(query).cells, plain_grid(*reader_, query));
      }
    }
    EXPECT_LE(map.cached_bytes(), cache);
    if (cache > 0) {
      EXPECT_GT(map.cached_bytes(), 0U);
    }
  }
}

TEST_F(RunMapTest, TheDefaultRangesAreTheLevelsExtent) {
  const inspect::RunMap map(*reader_);
  inspect::MapQuery query;
  query.width = 3;
  query.height = 3;
  const auto grid = map.bin(query);
  // The first survey scan at 0 min, the last (58) at 0.754 min; m/z from
  // the lowest point (100.0) to the highest (999.0, or a profile's end).
  EXPECT_EQ(grid.rt.lo, 0.0);
  EXPECT_EQ(grid.rt.hi, 0.013 * 58 * 60.0);
  EXPECT_EQ(grid.mz.lo, 100.0);
  EXPECT_EQ(grid.scans, 48U);
  query.ms_level = 7;
  const auto none = map.bin(query);
  EXPECT_EQ(none.rt, (inspect::MapRange{0.0, 1.0}));
  EXPECT_EQ(none.scans, 0U);
}

TEST_F(RunMapTest, ThreadsBinningAtOnceGetTheGridOfOne) {
  const inspect::RunMap map(*reader_, 40'000);
  const auto query = queries()[0];
  const auto want = plain_grid(*reader_, query);
  std::vector<std::thread> threads;
  std::vector<int> same(8, 0);
  for (std::size_t t = 0; t < same.size(); ++t) {
    threads.emplace_back([&map, &query, &want, &same, t] {
      for (int i = 0; i < 5; ++i) same[t] += map.bin(query).cells == want ? 1 : 0;
    });
  }
  for (auto& thread : threads) thread.join();
  for (const int count : same) EXPECT_EQ(count, 5);
}

}  // namespace
}  // namespace velmoran
