#include <velmoran/export/point_table.hpp>

#include <memory>
#include <optional>
#include <vector>

#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/representation.hpp>
#include <velmoran/textio/escape.hpp>

namespace velmoran::exporting {

Result<parquet::Written> OutputSink::write(std::string_view bytes) {
  if (auto r = file_->write(bytes); !r) return std::move(r).error();
  return parquet::Written{};
}

parquet::WriterOptions table_options(const std::string& software_version) {
  parquet::WriterOptions options;
  options.created_by = "velmoran version " + software_version;
  return options;
}

std::string hive_escape(std::string_view raw) {
  const std::string value = textio::single_line_text(raw);
  constexpr std::string_view kEscaped = "\"#%'*/:=?\\\x7f{[]^";
  constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  for (const char c : value) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || kEscaped.find(c) != std::string_view::npos) {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    } else {
      out += c;
    }
  }
  return out;
}

namespace {

enum Column : std::size_t {
  kRun,
  kSpectrumIndex,
  kScanId,
  kMsLevel,
  kRtSec,
  kPrecursorMz,
  kMrmChannel,
  kMz,
  kIntensity,
};

std::vector<parquet::Column> point_columns() {
  using parquet::Type;
  // Every column but the intensity gets a page index: a query by run,
  // spectrum, level, time, precursor or m/z skips the pages it excludes.
  return {
      {.name = "run", .type = Type::kString, .page_index = true},
      {.name = "spectrum_index", .type = Type::kInt64, .page_index = true},
      {.name = "scan_id", .type = Type::kInt32, .page_index = true},
      {.name = "ms_level", .type = Type::kInt32, .page_index = true},
      {.name = "rt_sec", .type = Type::kDouble, .page_index = true},
      {.name = "precursor_mz", .type = Type::kDouble, .nullable = true, .page_index = true},
      {.name = "mrm_channel", .type = Type::kInt32, .nullable = true, .page_index = true},
      {.name = "mz", .type = Type::kDouble, .byte_stream_split = true, .page_index = true},
      {.name = "intensity", .type = Type::kFloat, .byte_stream_split = true},
  };
}

struct Slot {
  quorlith::SpectrumRecord record;
  bool profile = false;
  std::optional<std::uint32_t> mrm_channel;
};

}  // namespace

Result<ConvertStats> write_point_table(const Reader& reader, OutputFile& output,
                                       const ConvertOptions& options, const std::string& run_name,
                                       const ProgressFn& progress) {
  const auto& scans = reader.scans().records;
  const std::uint64_t total = scans.size();
  // A directory name may hold anything; the column holds UTF-8 text.
  const std::string run_text = textio::single_line_text(run_name);
  OutputSink sink(output);
  parquet::WriterOptions table = table_options(options.software_version);
  table.sorting = {{.column = kSpectrumIndex}, {.column = kMz}};
  parquet::Writer writer(sink, point_columns(), std::move(table));
  if (auto r = writer.begin(); !r) return std::move(r).error();

  const unsigned threads = pipeline::thread_count(options.threads);
  std::vector<std::unique_ptr<Slot>> slots(pipeline::slot_count(threads));
  for (auto& slot : slots) slot = std::make_unique<Slot>();
  std::vector<std::vector<float>> selection_scratch(threads);

  ConvertStats stats;
  std::optional<Error> failure;
  std::uint64_t read = 0;
  ProgressTicker ticker(progress, total);

  pipeline::SpectrumStages stages;
  stages.order = block_order_of(options.points.peaks);
  stages.take = [&](quorlith::SpectrumRecord& record, std::size_t index) {
    ++read;
    if (!options.wants(record)) return false;
    Slot& slot = *slots[index];
    slot.profile = representation_of(reader, record) == Representation::profile;
    slot.mrm_channel = record.index < scans.size() ? scans[record.index].mrm_channel : std::nullopt;
    slot.record = std::move(record);
    return true;
  };
  stages.work = [&](std::size_t index, std::size_t worker) {
    Slot& slot = *slots[index];
    shape_points(slot.record, slot.profile, options.points, selection_scratch[worker]);
  };
  stages.emit = [&](std::size_t index) {
    Slot& slot = *slots[index];
    const quorlith::SpectrumRecord& record = slot.record;
    const std::size_t n = record.mz.size();
    ++stats.spectra_by_level[record.ms_level];
    stats.points += n;
    if (n > 0) {
      writer.repeat(kRun, run_text, n);
      writer.repeat(kSpectrumIndex, static_cast<std::int64_t>(record.index), n);
      writer.repeat(kScanId, std::int64_t{record.scan_id}, n);
      writer.repeat(kMsLevel, std::int64_t{record.ms_level}, n);
      writer.repeat(kRtSec, record.retention_time_sec, n);
      const std::optional<double> precursor =
          record.precursor ? record.precursor->selected_mz : std::nullopt;
      if (precursor) {
        writer.repeat(kPrecursorMz, *precursor, n);
      } else {
        writer.repeat_null(kPrecursorMz, n);
      }
      if (slot.mrm_channel) {
        writer.repeat(kMrmChannel, std::int64_t{*slot.mrm_channel}, n);
      } else {
        writer.repeat_null(kMrmChannel, n);
      }
      writer.append(kMz, std::span<const double>(record.mz.data(), n));
      writer.append(kIntensity, std::span<const float>(record.intensity.data(), n));
      if (!pipeline::succeeded(writer.end_rows(n), failure)) return false;
    }
    ticker.written(record.index);
    slot.record.mz = {};
    slot.record.intensity = {};
    return true;
  };
  pipeline::run_spectrum_pipeline(reader, threads, stages);
  if (failure) return std::move(*failure);
  if (auto r = writer.finish(); !r) return std::move(r).error();
  ticker.finished(read);
  stats.bytes = writer.bytes_written();
  return stats;
}

}  // namespace velmoran::exporting
