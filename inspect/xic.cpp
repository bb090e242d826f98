#include <velmoran/inspect/xic.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include <velmoran/inspect/spectra.hpp>

namespace velmoran::inspect {

namespace {

enum Column : std::size_t { kTarget, kMz, kRtSec, kScanId, kIntensity };

// Non-decreasing m/z, without NaN (a NaN fails every comparison): the
// whole array is checked without an early exit, which vectorises.
bool sorted_by_mz(std::span<const double> mz) {
  bool unsorted = false;
  for (std::size_t i = 1; i < mz.size(); ++i) unsorted |= !(mz[i - 1] <= mz[i]);
  return !unsorted;
}

}  // namespace

MzWindow ppm_window(double target, double ppm) {
  const double tolerance = target * ppm / 1e6;
  return {target - tolerance, target + tolerance};
}

MzWindow da_window(double target, double da) { return {target - da, target + da}; }

WindowSums::WindowSums(std::span<const MzWindow> windows) {
  windows_.reserve(windows.size());
  for (std::size_t i = 0; i < windows.size(); ++i) windows_.push_back({windows[i], i});
  std::stable_sort(windows_.begin(), windows_.end(),
                   [](const Ordered& a, const Ordered& b) { return a.window.low < b.window.low; });
}

constexpr int kLinearSteps = 8;

template <class MzAt, class IntensityAt>
void WindowSums::merge(std::size_t n, MzAt mz_at, IntensityAt intensity_at,
                       std::span<double> sums) const {
  // The first point at or above the current window's low end only moves
  // forward, since the windows are sorted by their low ends; each window
  // then sums from there while the points stay at or below its high end.
  std::size_t first = 0;
  for (const Ordered& ordered : windows_) {
    const MzWindow& window = ordered.window;
    // A few points one by one (windows close together), then galloping:
    // steps of 1, 2, 4, ... while below the low edge and a binary search in
    // the last step, so that a window thousands of points further costs a
    // few dozen comparisons.
    for (int i = 0; i < kLinearSteps && first < n && mz_at(first) < window.low; ++i) ++first;
    if (first < n && mz_at(first) < window.low) {
      std::size_t below = first;  // known to be below the low edge
      std::size_t step = 1;
      while (step < n - below && mz_at(below + step) < window.low) {
        below += step;
        step *= 2;
      }
      std::size_t end = step < n - below ? below + step : n;  // at or above, or the end
      while (end - below > 1) {
        const std::size_t middle = below + (end - below) / 2;
        if (mz_at(middle) < window.low) {
          below = middle;
        } else {
          end = middle;
        }
      }
      first = end;
    }
    double sum = 0.0;
    for (std::size_t i = first; i < n && mz_at(i) <= window.high; ++i) {
      sum += static_cast<double>(intensity_at(i));
    }
    sums[ordered.target] = sum;
  }
}

void WindowSums::compute(std::span<const double> mz, std::span<const float> intensity,
                         std::span<double> sums, bool monotone) {
  const std::size_t n = std::min(mz.size(), intensity.size());
  mz = mz.first(n);
  // A monotone axis is sorted when it does not fall from end to end (a NaN
  // end fails the test, and the full check decides).
  const bool sorted = monotone && n > 0 && mz.front() <= mz.back() ? true : sorted_by_mz(mz);
  if (sorted) {
    merge(
        n, [&](std::size_t i) { return mz[i]; }, [&](std::size_t i) { return intensity[i]; }, sums);
    return;
  }
  // A centroid list need not be sorted: sort a copy, NaN m/z left out (it
  // lies in no window and has no place in the order). The stable sort keeps
  // points of equal m/z in their order.
  scratch_.clear();
  scratch_.reserve(n);
  for (std::size_t i = 0; i < n; ++i) {
    if (mz[i] == mz[i]) scratch_.push_back({mz[i], intensity[i]});
  }
  std::stable_sort(scratch_.begin(), scratch_.end(),
                   [](const Point& a, const Point& b) { return a.mz < b.mz; });
  merge(
      scratch_.size(), [&](std::size_t i) { return scratch_[i].mz; },
      [&](std::size_t i) { return scratch_[i].intensity; }, sums);
}

namespace {

// Copies a piece of at most kWidth bytes as kWidth bytes, a copy of fixed
// size that compiles to a few vector moves instead of a call, and advances
// by the piece's size; a longer piece is copied as it is. The source must
// have kWidth readable bytes and the destination kWidth writable ones.
template <std::size_t kWidth>
char* put_padded(char* p, const char* source, std::size_t size) {
  if (size <= kWidth) {
    std::memcpy(p, source, kWidth);
  } else {
    std::memcpy(p, source, size);
  }
  return p + size;
}

constexpr std::size_t kPad = 64;

// Cells kept with kPad readable bytes after each.
class PaddedCells {
 public:
  void add(std::string_view text) {
    offsets_.push_back(bytes_.size());
    sizes_.push_back(text.size());
    bytes_.insert(bytes_.end(), text.begin(), text.end());
    bytes_.insert(bytes_.end(), kPad, '\0');
  }
  void clear() {
    bytes_.clear();
    offsets_.clear();
    sizes_.clear();
  }
  [[nodiscard]] const char* data(std::size_t i) const { return bytes_.data() + offsets_[i]; }
  [[nodiscard]] std::size_t size(std::size_t i) const { return sizes_[i]; }

 private:
  std::vector<char> bytes_;
  std::vector<std::size_t> offsets_;
  std::vector<std::size_t> sizes_;
};

// The rows of one scan, rendered into one array allocated at the largest
// size a scan's rows can take: fixed-size copies of the cells rendered once
// per target and once per scan, and the shortest text of each sum ("0" for
// the many that are zero).
class XicRows {
 public:
  XicRows(const TableFormat& table, std::span<const Target> targets) : table_(&table) {
    std::size_t longest = 0;
    std::string cells;
    for (const Target& target : targets) {
      cells.clear();
      table.append_text(cells, kTarget, target.name);
      table.append_number(cells, kMz, target.mz);
      longest = std::max(longest, cells.size());
      target_cells_.add(cells);
    }
    fixed_.add(table.column_prefix(kIntensity));
    fixed_.add("\n{");
    fixed_.add(",\n{");
    json_ = table.format() == TextFormat::json;
    // Row start, the target's cells, the intensity's prefix and text, the
    // row end, each possibly copied kPad wide; the scan's cells come on top.
    per_row_ = 3 * kPad + std::max(longest, kPad) + kNumberText + 1;
    longest_ = longest;
  }

  // Renders the rows of one scan; `first` when no row was written before.
  std::string_view render(double rt, std::uint32_t scan_id, std::span<const double> sums,
                          bool first) {
    scan_text_.clear();
    table_->append_number(scan_text_, kRtSec, rt);
    table_->append_number(scan_text_, kScanId, scan_id);
    scan_cells_.clear();
    scan_cells_.add(scan_text_);
    const std::size_t capacity = sums.size() * (per_row_ + scan_text_.size()) + kPad;
    if (capacity > capacity_) {
      rows_ = std::make_unique_for_overwrite<char[]>(capacity);
      capacity_ = capacity;
    }
    // Copies as narrow as the cells allow: fewer bytes stored per row.
    const bool narrow_targets = longest_ <= 32;
    const bool narrow_scan = scan_text_.size() <= 32;
    char* const start = rows_.get();
    char* end = nullptr;
    if (narrow_targets && narrow_scan) {
      end = render_rows<32, 32>(start, sums, first);
    } else if (narrow_targets) {
      end = render_rows<32, kPad>(start, sums, first);
    } else if (narrow_scan) {
      end = render_rows<kPad, 32>(start, sums, first);
    } else {
      end = render_rows<kPad, kPad>(start, sums, first);
    }
    return {start, static_cast<std::size_t>(end - start)};
  }

 private:
  template <std::size_t kTargetWidth, std::size_t kScanWidth>
  char* render_rows(char* p, std::span<const double> sums, bool first) const {
    for (std::size_t t = 0; t < sums.size(); ++t) {
      if (json_) {
        const std::size_t start = first && t == 0 ? kFirstRowStart : kRowStart;
        p = put_padded<8>(p, fixed_.data(start), fixed_.size(start));
      }
      p = put_padded<kTargetWidth>(p, target_cells_.data(t), target_cells_.size(t));
      p = put_padded<kScanWidth>(p, scan_cells_.data(0), scan_cells_.size(0));
      p = put_padded<16>(p, fixed_.data(kIntensityPrefix), fixed_.size(kIntensityPrefix));
      const double sum = sums[t];
      if (sum == 0.0 && !std::signbit(sum)) {
        *p++ = '0';
      } else if (json_ && !std::isfinite(sum)) {
        std::memcpy(p, "null", 4);
        p += 4;
      } else {
        p = std::to_chars(p, p + kNumberText, sum).ptr;
      }
      *p++ = json_ ? '}' : '\n';
    }
    return p;
  }

  // The longest shortest-round-trip text of a double ("-2.2250738585072014e-308").
  static constexpr std::size_t kNumberText = 32;
  static constexpr std::size_t kIntensityPrefix = 0;
  static constexpr std::size_t kFirstRowStart = 1;
  static constexpr std::size_t kRowStart = 2;

  const TableFormat* table_;
  PaddedCells target_cells_;
  PaddedCells fixed_;
  bool json_ = false;
  std::size_t per_row_ = 0;
  std::size_t longest_ = 0;
  std::string scan_text_;
  PaddedCells scan_cells_;
  std::unique_ptr<char[]> rows_;
  std::size_t capacity_ = 0;
};

}  // namespace

// From about this many targets on, working on the spectra on a second core
// saves more than the hand-offs cost (measured on 20,000-point profiles:
// 1,000 targets were faster on one thread, 3,000 on two).
constexpr std::size_t kParallelTargets = 2000;

Result<Done> write_xic(const Reader& reader, const XicQuery& query, TextFormat format,
                       exporting::OutputFile& out) {
  std::vector<MzWindow> windows;
  windows.reserve(query.targets.size());
  for (const Target& target : query.targets) {
    windows.push_back(query.unit == ToleranceUnit::ppm ? ppm_window(target.mz, query.tolerance)
                                                       : da_window(target.mz, query.tolerance));
  }
  const WindowSums window_sums(windows);
  TableWriter writer(out, format, kXicColumns);

  // With many targets the sums and the rows cost more than the reading:
  // they are worked out on every core while the next spectra are read, each
  // slot with scratch space of its own, and written in scan order. With few
  // targets the reading is nearly all the work, and one thread does it.
  struct Slot {
    Slot(const WindowSums& sums_of_windows, const TableFormat& table,
         std::span<const Target> targets, std::size_t target_count)
        : window_sums(sums_of_windows), sums(target_count), rows(table, targets) {}
    quorlith::SpectrumRecord record;
    bool first = false;
    WindowSums window_sums;
    std::vector<double> sums;
    XicRows rows;
    std::string_view rendered;
  };
  std::vector<Slot> slots;
  slots.reserve(kPipelineSlots);
  for (std::size_t i = 0; i < kPipelineSlots; ++i) {
    slots.emplace_back(window_sums, writer.table(), query.targets, query.targets.size());
  }

  std::size_t chosen = 0;
  std::optional<Error> failure;
  pipeline_spectra(
      reader, query.targets.size() >= kParallelTargets, slots.size(),
      [&](quorlith::SpectrumRecord& record, std::size_t slot) {
        if (record.ms_level != query.ms_level) return false;
        const double rt = record.retention_time_sec;
        if (query.rt_range && !(rt >= query.rt_range->first && rt <= query.rt_range->second)) {
          return false;
        }
        slots[slot].record = std::move(record);
        slots[slot].first = chosen++ == 0;
        return true;
      },
      [&](std::size_t index) {
        Slot& slot = slots[index];
        const quorlith::SpectrumRecord& record = slot.record;
        const bool profile = representation_of(record, reader.scans().records[record.index]) ==
                             Representation::profile;
        slot.window_sums.compute(record.mz, record.intensity, slot.sums, profile);
        slot.rendered =
            slot.rows.render(record.retention_time_sec, record.scan_id, slot.sums, slot.first);
      },
      [&](std::size_t index) {
        auto written = writer.write_rows(slots[index].rendered, slots[index].sums.size());
        if (!written) {
          failure = std::move(written).error();
          return false;
        }
        return true;
      });
  if (failure) return std::move(*failure);
  return writer.finish();
}

}  // namespace velmoran::inspect
