#include <velmoran/export/convert.hpp>

#include <algorithm>
#include <atomic>
#include <memory>
#include <optional>
#include <thread>
#include <unordered_set>

#include <oneapi/tbb/global_control.h>
#include <oneapi/tbb/parallel_pipeline.h>
#include <oneapi/tbb/task_arena.h>

#include <velmoran/export/mgf.hpp>
#include <velmoran/export/xml_text.hpp>

namespace velmoran::exporting {

namespace {

// MGF output leaves in pieces of about this size.
constexpr std::size_t kChunkBytes = std::size_t{4} << 20;

// One spectrum in flight, with its encoder's scratch space. Slots are
// reused round robin: the pipeline holds at most as many spectra as there
// are slots, and the in-order writer releases them in order.
struct Slot {
  quorlith::SpectrumRecord record;
  bool profile = false;
  std::uint64_t list_index = 0;
  std::string text;
  SpectrumSummary summary;
  EncodeScratch scratch;
  std::vector<float> selection_scratch;
};

// The output side shared by the two formats: large checked writes.
class MgfSink {
 public:
  explicit MgfSink(OutputFile& file) : file_(&file) { buffer_.reserve(kChunkBytes * 2); }
  Result<Done> append(std::string_view text) {
    buffer_ += text;
    if (buffer_.size() >= kChunkBytes) return flush();
    return Done{};
  }
  Result<Done> flush() {
    auto written = file_->write(buffer_);
    buffer_.clear();
    return written;
  }

 private:
  OutputFile* file_;
  std::string buffer_;
};

}  // namespace

bool LevelFilter::accepts(std::uint32_t level) const noexcept {
  if (ranges.empty()) return true;
  return std::any_of(ranges.begin(), ranges.end(),
                     [level](const auto& r) { return level >= r.first && level <= r.second; });
}

bool is_profile(const Reader& reader, const quorlith::SpectrumRecord& record) {
  const auto& records = reader.scans().records;
  if (!record.profile_decoded || record.index >= records.size()) return false;
  const auto& block = records[record.index].profile_block;
  // A profile that decoded to no points hands over to the peak block.
  return block.has_value() && block->point_count > 0 && !record.mz.empty();
}

IdForm id_form_of(const raw::MSScan& scans) {
  std::unordered_set<std::uint32_t> seen;
  seen.reserve(scans.records.size());
  for (const auto& scan : scans.records) {
    if (!seen.insert(scan.scan_id).second) return IdForm::kIndex;
  }
  return IdForm::kScan;
}

Result<ConvertStats> convert_run(const Reader& reader, OutputFile& output,
                                 const ConvertOptions& options, const ProgressFn& progress) {
  const auto& scans = reader.scans().records;
  const std::uint64_t total = scans.size();
  const bool mzml = options.format == OutputFormat::kMzml;

  MzmlRun run;
  run.dataset_name = reader.name();
  run.software_version = options.software_version;
  run.ids = id_form_of(reader.scans());
  run.compression = options.compression;
  run.indexed = options.indexed;
  const PeakMode peaks = options.points.peaks;
  for (const auto& scan : scans) {
    if (!options.levels.accepts(scan.ms_level) ||
        !options.scans.accepts(scan.scan_id, scan.retention_time_min * 60.0)) {
      continue;
    }
    ++run.spectrum_count;
    (scan.ms_level <= 1 ? run.has_ms1 : run.has_msn) = true;
    // Picking is announced where a profile may be picked: every profile in
    // picked mode, one without the instrument's peaks in centroid mode.
    const bool has_profile = scan.profile_block && scan.profile_block->point_count > 0;
    const bool has_peaks = scan.peak_block && scan.peak_block->point_count > 0;
    if (has_profile &&
        (peaks == PeakMode::kPicked || (peaks == PeakMode::kCentroid && !has_peaks))) {
      run.peak_picking = true;
    }
  }

  std::optional<MzmlWriter> mzml_writer;
  std::optional<MgfSink> mgf_sink;
  if (mzml) {
    mzml_writer.emplace(output, run);
    if (auto r = mzml_writer->begin(); !r) return std::move(r).error();
  } else {
    mgf_sink.emplace(output);
  }
  const std::string title = single_line_text(options.title);

  const unsigned threads =
      options.threads != 0 ? options.threads : std::max(1u, std::thread::hardware_concurrency());
  const std::size_t slot_count = std::size_t{4} * threads;
  std::vector<std::unique_ptr<Slot>> slots;
  slots.reserve(slot_count);
  for (std::size_t i = 0; i < slot_count; ++i) slots.push_back(std::make_unique<Slot>());

  ConvertStats stats;
  std::optional<Error> failure;
  std::atomic<bool> stop{false};
  auto sequence = reader.iter_spectra(block_order_of(peaks));
  std::uint64_t produced = 0;  // spectra handed to the encoders
  std::uint64_t read = 0;      // records taken from the sequence

  const auto source = [&](tbb::flow_control& control) -> Slot* {
    while (!stop.load(std::memory_order_relaxed)) {
      std::optional<quorlith::SpectrumRecord> record = sequence->next();
      if (!record) break;
      ++read;
      if (!options.levels.accepts(record->ms_level) ||
          !options.scans.accepts(record->scan_id, record->retention_time_sec)) {
        continue;
      }
      if (!mzml && !mgf_wants(*record)) {
        ++stats.left_out;
        continue;
      }
      Slot* slot = slots[produced % slot_count].get();
      slot->list_index = produced++;
      slot->profile = is_profile(reader, *record);
      slot->record = std::move(*record);
      return slot;
    }
    control.stop();
    return nullptr;
  };

  const auto encode = [&](Slot* slot) -> Slot* {
    if (stop.load(std::memory_order_relaxed)) return slot;
    slot->profile =
        shape_points(slot->record, slot->profile, options.points, slot->selection_scratch).profile;
    slot->text.clear();
    if (mzml) {
      slot->summary =
          append_mzml_spectrum(slot->text, slot->record, {slot->list_index, slot->profile}, run.ids,
                               options.compression, slot->scratch);
    } else {
      append_mgf_ions(slot->text, slot->record, title);
      slot->summary.points = std::min(slot->record.mz.size(), slot->record.intensity.size());
    }
    // The arrays are done with; give their memory back now rather than
    // when the slot comes round again.
    slot->record.mz = {};
    slot->record.intensity = {};
    return slot;
  };

  // In order: the spectrum's place in the file (offsets, chromatogram,
  // checksum) and the counts.
  std::uint64_t last_report = 0;
  const auto place = [&](Slot* slot) -> Slot* {
    if (stop.load(std::memory_order_relaxed)) return slot;
    const quorlith::SpectrumRecord& record = slot->record;
    if (mzml) {
      mzml_writer->place_spectrum(slot->text,
                                  run.ids == IdForm::kScan ? record.scan_id : record.index,
                                  record.retention_time_sec, slot->summary.total_ion_current);
    }
    ++stats.spectra_by_level[record.ms_level];
    stats.points += slot->summary.points;
    if (progress && record.index + 1 - last_report >= 64) {
      last_report = record.index + 1;
      progress(record.index + 1, total);
    }
    return slot;
  };

  // In order, overlapping the placing of the next spectrum: the write.
  const auto sink = [&](Slot* slot) {
    if (stop.load(std::memory_order_relaxed)) return;
    auto written = mzml ? mzml_writer->write_spectrum(slot->text) : mgf_sink->append(slot->text);
    if (!written) {
      failure = std::move(written).error();
      stop.store(true, std::memory_order_relaxed);
    }
  };

  // As many threads as asked for, also beyond the machine's cores.
  tbb::global_control parallelism(tbb::global_control::max_allowed_parallelism, threads);
  tbb::task_arena arena(static_cast<int>(threads));
  arena.execute([&] {
    tbb::parallel_pipeline(
        slot_count, tbb::make_filter<void, Slot*>(tbb::filter_mode::serial_in_order, source) &
                        tbb::make_filter<Slot*, Slot*>(tbb::filter_mode::parallel, encode) &
                        tbb::make_filter<Slot*, Slot*>(tbb::filter_mode::serial_in_order, place) &
                        tbb::make_filter<Slot*, void>(tbb::filter_mode::serial_in_order, sink));
  });
  if (failure) return std::move(*failure);

  EncodeScratch scratch;
  if (auto r = mzml ? mzml_writer->finish(scratch) : mgf_sink->flush(); !r) {
    return std::move(r).error();
  }
  if (auto r = output.finish_filter(); !r) return std::move(r).error();
  if (progress) progress(read, total);
  stats.bytes = output.bytes_stored();
  return stats;
}

}  // namespace velmoran::exporting
