#include <velmoran/inspect/run_map.hpp>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <functional>
#include <iterator>
#include <limits>
#include <list>
#include <unordered_map>
#include <utility>

#include <oneapi/tbb/blocked_range.h>
#include <oneapi/tbb/parallel_for.h>

#include <velmoran/analysis/scan_selection.hpp>

namespace velmoran::inspect {

// One scan's points sorted by m/z, as the grid reads them: a profile's axis
// as its first m/z and step (the decoded values are checked to be exactly
// first + step * i), other spectra as m/z values of their own, NaN left
// out.
struct RunMap::ScanPoints {
  bool uniform = false;
  double first = 0.0;
  double step = 0.0;
  std::vector<double> mz;
  quorlith::IntensityArray intensity;
  // The lowest and highest finite m/z, when there is one.
  std::optional<MapRange> extent;

  [[nodiscard]] std::size_t size() const noexcept { return intensity.size(); }
  [[nodiscard]] double mz_at(std::size_t i) const noexcept {
    return uniform ? first + step * static_cast<double>(i) : mz[i];
  }
  [[nodiscard]] std::size_t bytes() const noexcept {
    return sizeof(ScanPoints) + mz.capacity() * sizeof(double) +
           intensity.capacity() * sizeof(float);
  }
  // The first point from `low` to `high` whose m/z is at or above `value`
  // (`above`: strictly above), by bisection over the sorted points.
  [[nodiscard]] std::size_t first_from(double value, bool above, std::size_t low,
                                       std::size_t high) const noexcept {
    while (low < high) {
      const std::size_t middle = low + (high - low) / 2;
      const double mz_value = mz_at(middle);
      if (above ? mz_value <= value : mz_value < value) {
        low = middle + 1;
      } else {
        high = middle;
      }
    }
    return low;
  }
};

struct RunMap::Level {
  // The scans of the level with a finite retention time, (seconds,
  // position in the table), sorted by time.
  std::vector<std::pair<double, std::size_t>> scans;
  std::optional<MapRange> mz_extent;
};

namespace {

using ScanPoints = RunMap::ScanPoints;

// The lowest and highest m/z of the points within kMapDefaultBound, when
// there is one: what the default m/z range takes from this scan.
std::optional<MapRange> bounded_extent(const ScanPoints& points) {
  const std::size_t low = points.first_from(-kMapDefaultBound, false, 0, points.size());
  const std::size_t high = points.first_from(kMapDefaultBound, true, low, points.size());
  if (low == high) return std::nullopt;
  return MapRange{points.mz_at(low), points.mz_at(high - 1)};
}

// The points of one scan's record, in the form the grid reads.
std::shared_ptr<const ScanPoints> scan_points(const raw::ScanRecord& scan,
                                              quorlith::SpectrumRecord& record) {
  auto points = std::make_shared<ScanPoints>();
  const std::size_t n = std::min(record.mz.size(), record.intensity.size());
  const auto& mz = record.mz;
  // A profile's axis is first + step * i, with the step that the decoder
  // derives from the scan's m/z range: checked point by point, so that any
  // other spectrum keeps its own values.
  if (n >= 2) {
    const double first = scan.mz_range_low.value_or(0.0);
    const double step = (scan.mz_range_high.value_or(0.0) - first) / static_cast<double>(n - 1);
    bool same = std::isfinite(first) && std::isfinite(step) && step > 0.0;
    for (std::size_t i = 0; same && i < n; i += 1024) {
      const std::size_t end = std::min(n, i + 1024);
      bool block = true;
      for (std::size_t j = i; j < end; ++j) block &= mz[j] == first + step * static_cast<double>(j);
      same = block;
    }
    if (same && std::isfinite(mz[n - 1])) {
      points->uniform = true;
      points->first = first;
      points->step = step;
      // The record's own array, not a copy.
      record.intensity.resize(n);
      points->intensity = std::move(record.intensity);
      points->extent = bounded_extent(*points);
      return points;
    }
  }
  std::vector<std::pair<double, float>> kept;
  kept.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isnan(mz[i]) && std::isfinite(record.intensity[i])) {
      kept.emplace_back(mz[i], record.intensity[i]);
    }
  }
  // Points of equal m/z keep their order (they fall in the same cell anyway).
  if (!std::is_sorted(kept.begin(), kept.end(),
                      [](const auto& a, const auto& b) { return a.first < b.first; })) {
    std::stable_sort(kept.begin(), kept.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
  }
  points->mz.reserve(kept.size());
  points->intensity.reserve(kept.size());
  for (const auto& [m, intensity] : kept) {
    points->mz.push_back(m);
    points->intensity.push_back(intensity);
  }
  points->extent = bounded_extent(*points);
  return points;
}

// The cell of `value` on an axis of `edges` (edges[0] <= value <=
// edges.back()): the last cell whose lower edge is at or below it. The
// guess from the even spacing is checked against the edges themselves, and
// where it is more than a few cells off (edges that rounding bunched
// together), the edges are bisected.
std::size_t cell_of(const std::vector<double>& edges, double value) {
  const std::size_t cells = edges.size() - 1;
  const double lo = edges.front();
  const double span = edges.back() - lo;
  const double guess = (value - lo) / span * static_cast<double>(cells);
  std::size_t k = guess >= static_cast<double>(cells) ? cells - 1
                  : guess > 0.0                       ? static_cast<std::size_t>(guess)
                                                      : 0;
  for (int step = 0; step < 4; ++step) {
    if (k + 1 < cells && edges[k + 1] <= value) {
      ++k;
    } else if (k > 0 && edges[k] > value) {
      --k;
    } else {
      return k;
    }
  }
  const auto above = std::upper_bound(edges.begin() + 1,
                                      edges.begin() + static_cast<std::ptrdiff_t>(cells), value);
  return static_cast<std::size_t>(above - edges.begin()) - 1;
}

// The highest of n values, NaN left out; false when none is a number. In
// lanes, which the compiler turns into vector instructions.
bool highest(const float* values, std::size_t n, float& out) {
  constexpr std::size_t kLanes = 16;
  constexpr float kLowest = -std::numeric_limits<float>::infinity();
  float lanes[kLanes];
  std::fill(std::begin(lanes), std::end(lanes), kLowest);
  std::size_t i = 0;
  for (; i + kLanes <= n; i += kLanes) {
    for (std::size_t l = 0; l < kLanes; ++l) {
      lanes[l] = values[i + l] > lanes[l] ? values[i + l] : lanes[l];
    }
  }
  float best = kLowest;
  for (const float lane : lanes) best = lane > best ? lane : best;
  for (; i < n; ++i) best = values[i] > best ? values[i] : best;
  if (best == kLowest && std::none_of(values, values + n, [](float v) { return v == kLowest; })) {
    return false;
  }
  out = best;
  return true;
}

// One column of the grid while it is filled: the highest value of each row
// (row 0 the lowest m/z) and whether the row has a point.
struct Column {
  std::vector<float> best;
  std::vector<std::uint8_t> has;

  void put(std::size_t row, float value) {
    if (!has[row] || value > best[row]) best[row] = value;
    has[row] = 1;
  }
};

// Puts the points of one scan that lie inside the rows into the column;
// returns how many lie inside.
std::uint64_t bin_scan(const ScanPoints& points, const std::vector<double>& rows, Column& column) {
  const std::size_t begin = points.first_from(rows.front(), false, 0, points.size());
  const std::size_t end = points.first_from(rows.back(), true, begin, points.size());
  if (end <= begin) return 0;
  const std::size_t cells = rows.size() - 1;
  const float* intensity = points.intensity.data();
  if (!points.uniform || end - begin < 4 * cells) {
    for (std::size_t i = begin; i < end; ++i) {
      if (!std::isfinite(intensity[i])) continue;
      column.put(cell_of(rows, points.mz_at(i)), intensity[i]);
    }
    return end - begin;
  }
  // Many points a row on an evenly spaced axis: each row's points are a
  // run of the array, found from the edge's estimated index and checked
  // against the axis's own values, and reduced at once.
  std::size_t from = begin;
  for (std::size_t row = 0; row < cells; ++row) {
    std::size_t to = end;
    if (row + 1 < cells) {
      const double edge = rows[row + 1];
      const double guess = std::ceil((edge - points.first) / points.step);
      to = guess <= static_cast<double>(from)  ? from
           : guess >= static_cast<double>(end) ? end
                                               : static_cast<std::size_t>(guess);
      // A few steps from the guess; bisection where the axis's rounding
      // put it further off.
      for (int step = 0; step < 4; ++step) {
        if (to > from && points.mz_at(to - 1) >= edge) {
          --to;
        } else if (to < end && points.mz_at(to) < edge) {
          ++to;
        }
      }
      if ((to > from && points.mz_at(to - 1) >= edge) || (to < end && points.mz_at(to) < edge)) {
        to = points.first_from(edge, false, from, end);
      }
    }
    float value = 0.0F;
    if (to > from && highest(intensity + from, to - from, value)) column.put(row, value);
    from = to;
  }
  return end - begin;
}

MapRange widened(double lo, double hi) {
  if (lo < hi) return {lo, hi};
  return {lo - 0.5, hi + 0.5};
}

}  // namespace

std::vector<double> map_edges(MapRange range, std::uint32_t cells) {
  std::vector<double> edges(std::size_t{cells} + 1);
  const double span = range.hi - range.lo;
  for (std::uint32_t k = 0; k < cells; ++k) {
    edges[k] = range.lo + span * static_cast<double>(k) / static_cast<double>(cells);
  }
  edges[0] = range.lo;
  edges[cells] = range.hi;
  return edges;
}

// The scans kept by the maps that share a budget, most recently used
// first, each found by its map and position. Each entry notes the pass
// (one grid, or one level's first reading) that used it last: a pass does
// not drop what it used itself to keep more, so that a level larger than
// the budget keeps the part that fits, as a cache that stays full of the
// scans read last would keep none of it for the next grid.
struct MapBudget::Kept {
  struct Entry {
    const RunMap* map;
    std::size_t position;
    std::shared_ptr<const RunMap::ScanPoints> points;
    std::uint64_t pass;
  };
  using Key = std::pair<const RunMap*, std::size_t>;
  struct KeyHash {
    std::size_t operator()(const Key& key) const noexcept {
      return std::hash<const RunMap*>{}(key.first) ^ (key.second * 0x9E3779B97F4A7C15ULL);
    }
  };

  std::mutex mutex;
  std::atomic<std::uint64_t> passes{0};
  std::size_t used = 0;
  std::list<Entry> recent;
  std::unordered_map<Key, std::list<Entry>::iterator, KeyHash> by_key;
  // Each map's share of `used`.
  std::unordered_map<const RunMap*, std::size_t> by_map;

  void drop(std::list<Entry>::iterator entry) {
    const std::size_t bytes = entry->points->bytes();
    used -= bytes;
    by_map[entry->map] -= bytes;
    by_key.erase({entry->map, entry->position});
    recent.erase(entry);
  }
};

MapBudget::MapBudget(std::size_t bytes) : capacity_(bytes), kept_(std::make_unique<Kept>()) {}

MapBudget::~MapBudget() = default;

std::size_t MapBudget::used() const {
  const std::lock_guard lock(kept_->mutex);
  return kept_->used;
}

RunMap::RunMap(const Reader& reader, std::size_t cache_bytes)
    : RunMap(reader, std::make_shared<MapBudget>(cache_bytes)) {}

RunMap::RunMap(const Reader& reader, std::shared_ptr<MapBudget> budget)
    : reader_(reader), budget_(std::move(budget)) {}

RunMap::~RunMap() {
  MapBudget::Kept& kept = *budget_->kept_;
  const std::lock_guard lock(kept.mutex);
  for (auto entry = kept.recent.begin(); entry != kept.recent.end();) {
    const auto next = std::next(entry);
    if (entry->map == this) kept.drop(entry);
    entry = next;
  }
  kept.by_map.erase(this);
}

std::size_t RunMap::cached_bytes() const {
  MapBudget::Kept& kept = *budget_->kept_;
  const std::lock_guard lock(kept.mutex);
  const auto found = kept.by_map.find(this);
  return found == kept.by_map.end() ? 0 : found->second;
}

std::uint64_t RunMap::new_pass() const { return ++budget_->kept_->passes; }

std::shared_ptr<const RunMap::ScanPoints> RunMap::points(std::size_t position,
                                                         std::uint64_t pass) const {
  MapBudget::Kept& kept = *budget_->kept_;
  {
    const std::lock_guard lock(kept.mutex);
    if (const auto found = kept.by_key.find({this, position}); found != kept.by_key.end()) {
      kept.recent.splice(kept.recent.begin(), kept.recent, found->second);
      found->second->pass = pass;
      return found->second->points;
    }
  }
  ScanSpectrum spectrum = reader_.read_spectrum(position);
  auto points = scan_points(reader_.scans().records[position], spectrum.record);
  // A scan that could not be read is not kept: it is tried again next time.
  const std::size_t bytes = points->bytes();
  if (spectrum.error || bytes > budget_->capacity()) return points;
  const std::lock_guard lock(kept.mutex);
  if (kept.by_key.count({this, position}) != 0) return points;  // another thread was first
  while (kept.used + bytes > budget_->capacity()) {
    const auto oldest = std::prev(kept.recent.end());
    if (oldest->pass == pass) return points;  // all of it this pass's own
    kept.drop(oldest);
  }
  kept.recent.push_front({this, position, points, pass});
  kept.by_key.emplace(MapBudget::Kept::Key{this, position}, kept.recent.begin());
  kept.used += bytes;
  kept.by_map[this] += bytes;
  return points;
}

std::shared_ptr<const RunMap::Level> RunMap::level(std::uint32_t ms_level) const {
  std::promise<std::shared_ptr<const Level>> promise;
  {
    std::unique_lock lock(mutex_);
    if (auto found = levels_.find(ms_level); found != levels_.end()) {
      // Worked out, or being worked out by another request: wait for it.
      auto future = found->second;
      lock.unlock();
      return future.get();
    }
    levels_.emplace(ms_level, promise.get_future().share());
  }
  // Worked out without the lock: the parallel loop's threads take it.
  const auto forget = [&] {
    const std::lock_guard lock(mutex_);
    levels_.erase(ms_level);
  };
  try {
    auto level = std::make_shared<Level>();
    // The level's scans with a place on the time axis: a finite time.
    constexpr double kLargest = std::numeric_limits<double>::max();
    const analysis::ScanSelection placed =
        analysis::level_selection(ms_level, std::pair{-kLargest, kLargest});
    const raw::MSScan& table = reader_.scans();
    for (const std::size_t position : analysis::select_positions(table, placed)) {
      level->scans.emplace_back(raw::retention_time_sec(table.records[position]), position);
    }
    std::stable_sort(level->scans.begin(), level->scans.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
    std::vector<std::optional<MapRange>> extents(level->scans.size());
    const std::uint64_t pass = new_pass();
    tbb::parallel_for(tbb::blocked_range<std::size_t>(0, level->scans.size()),
                      [&](const tbb::blocked_range<std::size_t>& range) {
                        for (std::size_t i = range.begin(); i != range.end(); ++i) {
                          if (stopping_) return;
                          extents[i] = points(level->scans[i].second, pass)->extent;
                        }
                      });
    for (const auto& extent : extents) {
      if (!extent) continue;
      auto& mz = level->mz_extent;
      mz = mz ? MapRange{std::min(mz->lo, extent->lo), std::max(mz->hi, extent->hi)} : *extent;
    }
    // Only levels that have scans are kept (any number may be asked for),
    // and no level whose reading was stopped.
    if (level->scans.empty() || stopping_) forget();
    promise.set_value(level);
    return level;
  } catch (...) {
    forget();
    promise.set_exception(std::current_exception());
    throw;
  }
}

void RunMap::prepare(std::uint32_t ms_level) const { (void)level(ms_level); }

MapGrid RunMap::bin(const MapQuery& query) const {
  const auto scans_level = level(query.ms_level);
  const std::uint64_t pass = new_pass();
  const auto& scans = scans_level->scans;
  MapGrid grid;
  grid.width = query.width;
  grid.height = query.height;
  // The default time range: the scans' times within kMapDefaultBound.
  const auto by_time = [](const auto& scan, double rt) { return scan.first < rt; };
  const auto after_time = [](double rt, const auto& scan) { return rt < scan.first; };
  if (query.rt) {
    grid.rt = *query.rt;
  } else {
    const auto low = std::lower_bound(scans.begin(), scans.end(), -kMapDefaultBound, by_time);
    const auto high = std::upper_bound(low, scans.end(), kMapDefaultBound, after_time);
    grid.rt = low == high ? MapRange{0.0, 1.0} : widened(low->first, std::prev(high)->first);
  }
  if (query.mz) {
    grid.mz = *query.mz;
  } else {
    const auto& extent = scans_level->mz_extent;
    grid.mz = extent ? widened(extent->lo, extent->hi) : MapRange{0.0, 1.0};
  }
  const std::vector<double> columns = map_edges(grid.rt, grid.width);
  const std::vector<double> rows = map_edges(grid.mz, grid.height);
  grid.cells.assign(std::size_t{grid.width} * grid.height, 0.0F);

  // The scans inside the range, in runs that share a column.
  const auto first = std::lower_bound(scans.begin(), scans.end(), grid.rt.lo, by_time);
  const auto last = std::upper_bound(first, scans.end(), grid.rt.hi, after_time);
  grid.scans = static_cast<std::uint64_t>(last - first);
  struct Run {
    std::size_t column;
    std::size_t begin;
    std::size_t end;
  };
  std::vector<Run> runs;
  for (auto scan = first; scan != last; ++scan) {
    const std::size_t column = cell_of(columns, scan->first);
    const auto at = static_cast<std::size_t>(scan - scans.begin());
    if (runs.empty() || runs.back().column != column) {
      runs.push_back({column, at, at + 1});
    } else {
      runs.back().end = at + 1;
    }
  }

  std::atomic<std::uint64_t> points_inside{0};
  const std::size_t height = grid.height;
  const std::size_t width = grid.width;
  float* const cells = grid.cells.data();
  // Rows from the highest m/z down.
  const auto write = [&](const Column& column, std::size_t at) {
    for (std::size_t row = 0; row < height; ++row) {
      if (column.has[row]) cells[(height - 1 - row) * width + at] = column.best[row];
    }
  };

  // A few columns of many scans each (a narrow grid): each column's scans
  // are binned in pieces on all threads, and the pieces merged.
  constexpr std::size_t kPieces = 64;
  if (runs.size() < kPieces && grid.scans > runs.size()) {
    const std::size_t per_piece = (grid.scans + kPieces - 1) / kPieces;
    std::vector<Run> pieces;
    for (const Run& run : runs) {
      for (std::size_t s = run.begin; s < run.end; s += per_piece) {
        pieces.push_back({run.column, s, std::min(run.end, s + per_piece)});
      }
    }
    std::vector<Column> binned(pieces.size());
    tbb::parallel_for(std::size_t{0}, pieces.size(), [&](std::size_t p) {
      binned[p] = Column{std::vector<float>(height), std::vector<std::uint8_t>(height)};
      std::uint64_t inside = 0;
      for (std::size_t s = pieces[p].begin; s < pieces[p].end; ++s) {
        inside += bin_scan(*points(scans[s].second, pass), rows, binned[p]);
      }
      points_inside += inside;
    });
    // The pieces of a column are consecutive.
    Column merged{std::vector<float>(height), std::vector<std::uint8_t>(height)};
    for (std::size_t p = 0; p < pieces.size(); ++p) {
      for (std::size_t row = 0; row < height; ++row) {
        if (binned[p].has[row]) merged.put(row, binned[p].best[row]);
      }
      if (p + 1 == pieces.size() || pieces[p + 1].column != pieces[p].column) {
        write(merged, pieces[p].column);
        std::fill(merged.has.begin(), merged.has.end(), std::uint8_t{0});
      }
    }
    grid.points = points_inside.load();
    return grid;
  }

  tbb::parallel_for(tbb::blocked_range<std::size_t>(0, runs.size()),
                    [&](const tbb::blocked_range<std::size_t>& range) {
                      Column column{std::vector<float>(height), std::vector<std::uint8_t>(height)};
                      std::uint64_t inside = 0;
                      for (std::size_t r = range.begin(); r != range.end(); ++r) {
                        std::fill(column.has.begin(), column.has.end(), std::uint8_t{0});
                        for (std::size_t s = runs[r].begin; s < runs[r].end; ++s) {
                          inside += bin_scan(*points(scans[s].second, pass), rows, column);
                        }
                        write(column, runs[r].column);
                      }
                      points_inside += inside;
                    });
  grid.points = points_inside.load();
  return grid;
}

}  // namespace velmoran::inspect
