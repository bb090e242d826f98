// A run as an RT × m/z grid: for each cell, the highest intensity of the
// points inside it, 0 for an empty cell. What the viewer's map draws.
//
// Cells are half-open. With lo and hi the range of an axis and n its cells,
// edge k is lo + (hi - lo) * k / n, rounded in double at each step (edge 0
// is lo, edge n is hi exactly); cell k holds the values v with edge k <= v
// < edge k + 1, the last cell holds hi too. A scan lies in the column of
// its retention time, each of its points in the row of its m/z. A scan
// without a finite retention time lies in no column, a point whose m/z or
// intensity is NaN in no cell.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <velmoran/reader.hpp>

namespace velmoran::inspect {

// An axis's range, both ends finite and lo < hi.
struct MapRange {
  double lo = 0.0;
  double hi = 0.0;
  friend bool operator==(const MapRange&, const MapRange&) = default;
};

struct MapQuery {
  std::uint32_t ms_level = 1;
  // The level's extent where absent (MapGrid::rt, MapGrid::mz).
  std::optional<MapRange> rt;
  std::optional<MapRange> mz;
  std::uint32_t width = 1;   // columns (retention time)
  std::uint32_t height = 1;  // rows (m/z)
};

struct MapGrid {
  // The ranges binned: the query's, or the level's extent, the retention
  // times of its scans and the m/z of their points (finite ones). An extent
  // of one value v is [v - 0.5, v + 0.5]; a level without points is [0, 1].
  MapRange rt;
  MapRange mz;
  std::uint32_t width = 0;
  std::uint32_t height = 0;
  // width × height values, row-major, the first row the highest m/z.
  std::vector<float> cells;
  // The scans at the level inside the retention-time range, and their
  // points inside the grid.
  std::uint64_t scans = 0;
  std::uint64_t points = 0;
};

// The edges of an axis's cells as the grid defines them (n + 1 values).
[[nodiscard]] std::vector<double> map_edges(MapRange range, std::uint32_t cells);

// Bins one run, on every CPU the process may use (oneTBB). Scans are read
// on demand and, up to `cache_bytes`, kept in a compact form between
// requests (a profile's axis as its first m/z and step, 4 bytes a point):
// a later grid over the same scans does not decode them again. The first
// scans read stay; the others are read again each time, so memory stays
// bounded whatever the requests. Safe to call from several threads.
class RunMap {
 public:
  static constexpr std::size_t kDefaultCacheBytes = std::size_t{256} << 20;

  explicit RunMap(const Reader& reader, std::size_t cache_bytes = kDefaultCacheBytes);
  RunMap(const RunMap&) = delete;
  RunMap& operator=(const RunMap&) = delete;
  ~RunMap();

  // query.width and query.height above 0; ranges with finite ends, lo < hi.
  [[nodiscard]] MapGrid bin(const MapQuery& query) const;

  // Reads the scans of a level now, as its first grid would: a later
  // grid of it bins from memory. Several callers at once read them once.
  void prepare(std::uint32_t ms_level) const;
  // Makes a reading in progress end early (its result is not kept): for
  // the owner's destructor, with a prepare() running on another thread.
  void stop() noexcept { stopping_ = true; }

  // Bytes held by the kept scans.
  [[nodiscard]] std::size_t cached_bytes() const;

  struct ScanPoints;
  struct Level;

 private:
  [[nodiscard]] std::shared_ptr<const Level> level(std::uint32_t ms_level) const;
  [[nodiscard]] std::shared_ptr<const ScanPoints> points(std::size_t position) const;

  const Reader& reader_;
  std::size_t cache_bytes_;
  mutable std::mutex mutex_;
  mutable std::vector<std::shared_ptr<const ScanPoints>> kept_;
  mutable std::size_t kept_bytes_ = 0;
  // Each level's scans and extent, once worked out (or being worked out).
  mutable std::map<std::uint32_t, std::shared_future<std::shared_ptr<const Level>>> levels_;
  std::atomic<bool> stopping_{false};
};

}  // namespace velmoran::inspect
