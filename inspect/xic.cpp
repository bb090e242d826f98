#include <velmoran/inspect/xic.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include <velmoran/analysis/xic_matrix.hpp>
#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/textio/number_text.hpp>

namespace velmoran::inspect {

namespace {

enum Column : std::size_t { kTarget, kMz, kRtSec, kScanId, kIntensity };

}  // namespace

Result<std::vector<MzWindow>> xic_windows(const XicQuery& query) {
  std::vector<double> targets;
  targets.reserve(query.targets.size());
  for (const Target& target : query.targets) targets.push_back(target.mz);
  auto windows = analysis::target_windows(targets, query.unit, query.tolerance);
  if (windows.unbounded) {
    return Error::parse("the window around m/z " +
                        textio::number_text(targets[*windows.unbounded]) +
                        " reaches past the largest number");
  }
  return std::move(windows.windows);
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

// Cells stored back to back with kPad readable bytes after the last, so
// that a copy of up to kPad bytes from any cell's start stays inside.
class PaddedCells {
 public:
  void add(std::string_view text) {
    if (!bytes_.empty()) bytes_.resize(bytes_.size() - kPad);
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

// The cells that repeat over the rows, rendered once for the whole query
// and shared by every thread: each target's name and m/z, the intensity's
// prefix and the JSON row starts.
class XicCells {
 public:
  XicCells(const TableFormat& table, std::span<const Target> targets) : table_(&table) {
    std::string cells;
    for (const Target& target : targets) {
      cells.clear();
      table.append_text(cells, kTarget, target.name);
      table.append_number(cells, kMz, target.mz);
      longest_ = std::max(longest_, cells.size());
      targets_.add(cells);
    }
    fixed_.add(table.column_prefix(kIntensity));
    fixed_.add("\n{");
    fixed_.add(",\n{");
    json_ = table.format() == TextFormat::json;
  }

  // The longest shortest-round-trip text of a double ("-2.2250738585072014e-308").
  static constexpr std::size_t kNumberText = 32;
  static constexpr std::size_t kIntensityPrefix = 0;
  static constexpr std::size_t kFirstRowStart = 1;
  static constexpr std::size_t kRowStart = 2;

  const TableFormat* table_;
  PaddedCells targets_;
  PaddedCells fixed_;
  bool json_ = false;
  std::size_t longest_ = 0;
};

// The rows of one scan, rendered into one array allocated at the largest
// size a scan's rows can take: fixed-size copies of the shared cells and of
// the scan's own, and the shortest text of each sum ("0" for the many that
// are zero).
class XicRows {
 public:
  // Renders the rows of one scan; `first` when no row was written before.
  std::string_view render(const XicCells& cells, double rt, std::uint32_t scan_id,
                          std::span<const double> sums, bool first) {
    scan_text_.clear();
    cells.table_->append_number(scan_text_, kRtSec, rt);
    cells.table_->append_number(scan_text_, kScanId, scan_id);
    scan_cells_.clear();
    scan_cells_.add(scan_text_);
    // What one row can take: the row start, the target's cells, the scan's,
    // the intensity's prefix and text, the row end. A padded copy writes at
    // most kPad bytes past the end of what it puts.
    const std::size_t per_row = 3 + cells.longest_ + scan_text_.size() +
                                cells.fixed_.size(XicCells::kIntensityPrefix) +
                                XicCells::kNumberText + 1;
    const std::size_t capacity = sums.size() * per_row + kPad;
    if (capacity > capacity_) {
      rows_ = std::make_unique_for_overwrite<char[]>(capacity);
      capacity_ = capacity;
    }
    // Copies as narrow as the cells allow: fewer bytes stored per row.
    const bool narrow_targets = cells.longest_ <= 32;
    const bool narrow_scan = scan_text_.size() <= 32;
    char* const start = rows_.get();
    char* end = nullptr;
    if (narrow_targets && narrow_scan) {
      end = render_rows<32, 32>(cells, start, sums, first);
    } else if (narrow_targets) {
      end = render_rows<32, kPad>(cells, start, sums, first);
    } else if (narrow_scan) {
      end = render_rows<kPad, 32>(cells, start, sums, first);
    } else {
      end = render_rows<kPad, kPad>(cells, start, sums, first);
    }
    return {start, static_cast<std::size_t>(end - start)};
  }

 private:
  template <std::size_t kTargetWidth, std::size_t kScanWidth>
  char* render_rows(const XicCells& cells, char* p, std::span<const double> sums,
                    bool first) const {
    const bool json = cells.json_;
    const PaddedCells& fixed = cells.fixed_;
    for (std::size_t t = 0; t < sums.size(); ++t) {
      if (json) {
        const std::size_t start = first && t == 0 ? XicCells::kFirstRowStart : XicCells::kRowStart;
        p = put_padded<8>(p, fixed.data(start), fixed.size(start));
      }
      p = put_padded<kTargetWidth>(p, cells.targets_.data(t), cells.targets_.size(t));
      p = put_padded<kScanWidth>(p, scan_cells_.data(0), scan_cells_.size(0));
      p = put_padded<16>(p, fixed.data(XicCells::kIntensityPrefix),
                         fixed.size(XicCells::kIntensityPrefix));
      const double sum = sums[t];
      if (sum == 0.0 && !std::signbit(sum)) {
        *p++ = '0';
      } else if (json && !std::isfinite(sum)) {
        std::memcpy(p, "null", 4);
        p += 4;
      } else {
        p = std::to_chars(p, p + XicCells::kNumberText, sum).ptr;
      }
      *p++ = json ? '}' : '\n';
    }
    return p;
  }

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
                       textio::OutputFile& out) {
  auto windows = xic_windows(query);
  if (!windows) return windows.error();
  const WindowSums window_sums(*windows);
  TableWriter writer(out, format, kXicColumns);

  // With many targets the sums and the rows cost more than the reading:
  // they are worked out on every CPU the process may use while the next
  // spectra are read, and written in scan order. With few targets the
  // reading is nearly all the work, and one thread does it.
  const unsigned threads = query.targets.size() >= kParallelTargets ? pipeline::thread_count(0) : 1;
  const XicCells cells(writer.table(), query.targets);
  struct Slot {
    quorlith::SpectrumRecord record;
    bool first = false;
    std::vector<double> sums;
    XicRows rows;
    std::string_view rendered;
  };
  std::vector<Slot> slots(pipeline::slot_count(threads));
  std::vector<WindowSums::Scratch> scratch(threads);

  std::size_t chosen = 0;
  std::optional<Error> failure;
  pipeline::SpectrumStages stages;
  const analysis::ScanSelection scans = analysis::level_selection(query.ms_level, query.rt_range);
  stages.take = [&](quorlith::SpectrumRecord& record, std::size_t index) {
    if (!scans.accepts(record.ms_level, record.scan_id, record.retention_time_sec)) return false;
    slots[index].record = std::move(record);
    slots[index].first = chosen++ == 0;
    return true;
  };
  stages.work = [&](std::size_t index, std::size_t worker) {
    Slot& slot = slots[index];
    const quorlith::SpectrumRecord& record = slot.record;
    slot.sums.resize(query.targets.size());
    analysis::spectrum_window_sums(reader, record, window_sums, slot.sums, scratch[worker]);
    slot.rendered =
        slot.rows.render(cells, record.retention_time_sec, record.scan_id, slot.sums, slot.first);
  };
  stages.emit = [&](std::size_t index) {
    return pipeline::succeeded(writer.write_rows(slots[index].rendered, slots[index].sums.size()),
                               failure);
  };
  pipeline::run_spectrum_pipeline(reader, threads, stages);
  if (failure) return std::move(*failure);
  return writer.finish();
}

}  // namespace velmoran::inspect
