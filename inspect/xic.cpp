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
  std::stable_sort(windows_.begin(), windows_.end(), [](const Ordered& a, const Ordered& b) {
    return a.window.low < b.window.low;
  });
}

template <class MzAt, class IntensityAt>
void WindowSums::merge(std::size_t n, MzAt mz_at, IntensityAt intensity_at,
                       std::span<double> sums) const {
  // The first point at or above the current window's low end only moves
  // forward, since the windows are sorted by their low ends; each window
  // then sums from there while the points stay at or below its high end.
  std::size_t first = 0;
  for (const Ordered& ordered : windows_) {
    const MzWindow& window = ordered.window;
    while (first < n && mz_at(first) < window.low) ++first;
    double sum = 0.0;
    for (std::size_t i = first; i < n && mz_at(i) <= window.high; ++i) {
      sum += static_cast<double>(intensity_at(i));
    }
    sums[ordered.target] = sum;
  }
}

void WindowSums::compute(std::span<const double> mz, std::span<const float> intensity,
                         std::span<double> sums) {
  const std::size_t n = std::min(mz.size(), intensity.size());
  mz = mz.first(n);
  if (sorted_by_mz(mz)) {
    merge(
        n, [&](std::size_t i) { return mz[i]; }, [&](std::size_t i) { return intensity[i]; },
        sums);
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

// The rows of one scan, rendered into one array allocated at the largest
// size a scan's rows can take: memory copies of the cells rendered once per
// target and once per scan, and the shortest text of each sum ("0" for the
// many that are zero).
class XicRows {
 public:
  XicRows(const TableFormat& table, std::span<const Target> targets) : table_(&table) {
    std::size_t longest = 0;
    for (const Target& target : targets) {
      std::string cells;
      table.append_text(cells, kTarget, target.name);
      table.append_number(cells, kMz, target.mz);
      longest = std::max(longest, cells.size());
      target_cells_.push_back(std::move(cells));
    }
    intensity_prefix_ = table.column_prefix(kIntensity);
    json_ = table.format() == TextFormat::json;
    // Row start and end, the intensity's prefix and text, the scan's cells.
    per_row_ = longest + intensity_prefix_.size() + kNumberText + 4;
  }

  // Renders the rows of one scan; `first` when no row was written before.
  std::string_view render(double rt, std::uint32_t scan_id, std::span<const double> sums,
                          bool first) {
    scan_cells_.clear();
    table_->append_number(scan_cells_, kRtSec, rt);
    table_->append_number(scan_cells_, kScanId, scan_id);
    const std::size_t capacity = sums.size() * (per_row_ + scan_cells_.size());
    if (capacity > capacity_) {
      rows_ = std::make_unique_for_overwrite<char[]>(capacity);
      capacity_ = capacity;
    }
    char* p = rows_.get();
    const auto put = [&p](std::string_view text) {
      std::memcpy(p, text.data(), text.size());
      p += text.size();
    };
    for (std::size_t t = 0; t < sums.size(); ++t) {
      if (json_) put(first && t == 0 ? std::string_view("\n{") : std::string_view(",\n{"));
      put(target_cells_[t]);
      put(scan_cells_);
      put(intensity_prefix_);
      const double sum = sums[t];
      if (sum == 0.0 && !std::signbit(sum)) {
        *p++ = '0';
      } else if (json_ && !std::isfinite(sum)) {
        put("null");
      } else {
        p = std::to_chars(p, p + kNumberText, sum).ptr;
      }
      *p++ = json_ ? '}' : '\n';
    }
    return {rows_.get(), static_cast<std::size_t>(p - rows_.get())};
  }

 private:
  // The longest shortest-round-trip text of a double ("-2.2250738585072014e-308").
  static constexpr std::size_t kNumberText = 32;

  const TableFormat* table_;
  std::vector<std::string> target_cells_;
  std::string intensity_prefix_;
  bool json_ = false;
  std::size_t per_row_ = 0;
  std::string scan_cells_;
  std::unique_ptr<char[]> rows_;
  std::size_t capacity_ = 0;
};

}  // namespace

Result<Done> write_xic(const Reader& reader, const XicQuery& query, TextFormat format,
                       exporting::OutputFile& out) {
  std::vector<MzWindow> windows;
  windows.reserve(query.targets.size());
  for (const Target& target : query.targets) {
    windows.push_back(query.unit == ToleranceUnit::ppm ? ppm_window(target.mz, query.tolerance)
                                                       : da_window(target.mz, query.tolerance));
  }
  WindowSums window_sums(windows);
  std::vector<double> sums(query.targets.size());

  TableWriter writer(out, format, kXicColumns);
  XicRows rows(writer.table(), query.targets);

  std::optional<Error> failure;
  for_each_spectrum(reader, [&](quorlith::SpectrumRecord& record) {
    if (record.ms_level != query.ms_level) return true;
    const double rt = record.retention_time_sec;
    if (query.rt_range && !(rt >= query.rt_range->first && rt <= query.rt_range->second)) {
      return true;
    }
    window_sums.compute(record.mz, record.intensity, sums);
    auto written = writer.write_rows(
        rows.render(rt, record.scan_id, sums, writer.rows_written() == 0), sums.size());
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
