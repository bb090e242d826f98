// A run as an RT × m/z grid: for each cell, the highest intensity of the
// points inside it, 0 for an empty cell. What the viewer's map draws.
//
// Cells are half-open. With lo and hi the range of an axis and n its cells,
// edge k is lo + (hi - lo) * k / n, rounded in double at each step (edge 0
// is lo, edge n is hi exactly); cell k holds the values v with edge k <= v
// < edge k + 1, the last cell holds hi too. A scan lies in the column of
// its retention time, each of its points in the row of its m/z. A scan
// without a finite retention time lies in no column, a point whose m/z is
// NaN or whose intensity is not finite in no cell.
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

// The default ranges leave out times and m/z values of a larger magnitude:
// what only a damaged scan holds, and what would make the span of a range,
// or its cells' edges, overflow.
inline constexpr double kMapDefaultBound = 1e290;

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
  // times of its scans and the m/z of their points (those within
  // kMapDefaultBound; finite, and so are the edges of any cells). An extent
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

class RunMap;

// The bytes that the maps of one or more runs keep between requests, all
// together: a map that keeps one more scan beyond them drops the scans
// least recently used, of whichever map. Shared by the maps; safe to use
// from several threads.
class MapBudget {
 public:
  explicit MapBudget(std::size_t bytes);
  MapBudget(const MapBudget&) = delete;
  MapBudget& operator=(const MapBudget&) = delete;
  ~MapBudget();

  [[nodiscard]] std::size_t capacity() const noexcept { return capacity_; }
  // Bytes held by all the maps.
  [[nodiscard]] std::size_t used() const;

 private:
  friend class RunMap;
  struct Kept;
  std::size_t capacity_;
  std::unique_ptr<Kept> kept_;
};

// Bins one run, on every CPU the process may use (oneTBB). Scans are read
// on demand and kept in a compact form between requests (a profile's axis
// as its first m/z and step, 4 bytes a point) within a budget, which
// several maps may share: a later grid over the same scans does not decode
// them again. Scans beyond the budget are read again each time they are
// needed, so memory stays bounded whatever the requests. Safe to call from
// several threads.
class RunMap {
 public:
  static constexpr std::size_t kDefaultCacheBytes = std::size_t{256} << 20;

  // A budget of its own of `cache_bytes`.
  explicit RunMap(const Reader& reader, std::size_t cache_bytes = kDefaultCacheBytes);
  // Scans kept within `budget`, shared with other maps (not null).
  RunMap(const Reader& reader, std::shared_ptr<MapBudget> budget);
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

  // Bytes held by this map's kept scans.
  [[nodiscard]] std::size_t cached_bytes() const;

  struct ScanPoints;
  struct Level;

 private:
  [[nodiscard]] std::shared_ptr<const Level> level(std::uint32_t ms_level) const;
  // A new pass over scans (MapBudget::Kept), and the points of a scan read
  // in one.
  [[nodiscard]] std::uint64_t new_pass() const;
  [[nodiscard]] std::shared_ptr<const ScanPoints> points(std::size_t position,
                                                         std::uint64_t pass) const;

  const Reader& reader_;
  std::shared_ptr<MapBudget> budget_;
  mutable std::mutex mutex_;
  // Each level's scans and extent, once worked out (or being worked out).
  mutable std::map<std::uint32_t, std::shared_future<std::shared_ptr<const Level>>> levels_;
  std::atomic<bool> stopping_{false};
};

}  // namespace velmoran::inspect
