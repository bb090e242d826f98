#include <velmoran/export/mzpeak.hpp>

#include <cerrno>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "mzpeak_members.hpp"
#include <velmoran/export/mzml_chromatograms.hpp>
#include <velmoran/export/point_table.hpp>
#include <velmoran/mrm/channel_chromatograms.hpp>
#include <velmoran/parquet/writer.hpp>
#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/representation.hpp>
#include <velmoran/textio/buffered_writer.hpp>
#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/number_text.hpp>
#include <velmoran/textio/spectrum_id.hpp>
#include <velmoran/analysis/spectrum_summary.hpp>

namespace velmoran::exporting {

namespace {

using parquet::Type;

// A Parquet member written to its file as the table grows (through a
// buffer), so that memory does not grow with the run. Without a file it
// takes the bytes and drops them (a table the archive does not hold).
class FileSink : public parquet::Sink {
 public:
  explicit FileSink(std::optional<OutputFile> file) : file_(std::move(file)) {
    if (file_) buffer_.emplace(*file_);
  }
  Result<parquet::Written> write(std::string_view bytes) override {
    if (!buffer_) return parquet::Written{};
    if (auto r = buffer_->write(bytes); !r) return std::move(r).error();
    return parquet::Written{};
  }
  // Writes out the rest and finishes the file: put in place, or for a
  // scratch file kept open to be read back.
  Result<textio::Done> close() {
    if (!buffer_) return textio::Done{};
    if (auto r = buffer_->flush(); !r) return r;
    size_ = buffer_->bytes();
    buffer_.reset();
    return file_->commit();
  }
  [[nodiscard]] std::uint64_t size() const noexcept { return size_; }
  [[nodiscard]] const OutputFile* file() const noexcept { return file_ ? &*file_ : nullptr; }

 private:
  std::optional<OutputFile> file_;
  std::optional<textio::BufferedWriter> buffer_;
  std::uint64_t size_ = 0;
};

// Where the members are written: files in a directory (with these
// options), or anonymous scratch files there that the ZIP is copied from.
struct MemberPlace {
  std::filesystem::path directory;
  textio::OutputOptions options;
  bool scratch = false;
};

Result<OutputFile> open_member(const MemberPlace& place, std::string_view name) {
  if (place.scratch) return OutputFile::scratch(place.directory);
  auto file = OutputFile::open(place.directory / name, place.options);
  if (!file) return std::move(file).error();
  return std::move(file).value();
}

// A table being written into its member file: its writer and its sink. An
// empty name writes nothing.
struct Table {
  Table(const MemberPlace& place, std::string member, std::vector<parquet::Column> columns,
        parquet::WriterOptions options)
      : name(std::move(member)),
        sink(std::make_unique<FileSink>(open_file(place, name))),
        writer(*sink, std::move(columns), std::move(options)) {}
  std::string name;
  std::optional<Error> open_error;
  std::unique_ptr<FileSink> sink;
  parquet::Writer writer;

 private:
  std::optional<OutputFile> open_file(const MemberPlace& place, const std::string& member) {
    if (member.empty()) return std::nullopt;
    auto file = open_member(place, member);
    if (!file) {
      open_error = std::move(file).error();
      return std::nullopt;
    }
    return std::move(file).value();
  }
};

parquet::WriterOptions options_with(
    const std::string& version, std::vector<parquet::SortingColumn> sorting,
    std::vector<std::pair<std::string, std::string>> metadata = {}) {
  parquet::WriterOptions options = table_options(version);
  options.sorting = std::move(sorting);
  options.metadata = std::move(metadata);
  // Row groups: 5,000 rows in the metadata tables; in the signal tables
  // (those with an array index) 1 M rows or 16 MiB of values, about 1 M
  // points whether a row is a point or a chunk of them (see docs/mzpeak.md).
  if (options.metadata.empty()) {
    options.row_group_rows = 5000;
  } else {
    options.row_group_bytes = std::uint64_t{16} << 20;
  }
  return options;
}

// One array of a point-layout signal file, for the array index.
struct ArrayEntry {
  std::string_view context;
  std::string_view path;
  std::string_view buffer_format;
  std::string_view data_type;
  std::string_view array_type;
  std::string_view array_name;
  std::string_view unit;
  bool sorted;
};

std::string array_index(std::string_view prefix, std::span<const ArrayEntry> entries) {
  std::string out = R"({"prefix":)";
  textio::append_json_string(out, prefix);
  out += R"(,"entries":[)";
  bool first = true;
  for (const auto& e : entries) {
    if (!first) out += ',';
    first = false;
    out += R"({"context":)";
    textio::append_json_string(out, e.context);
    out += R"(,"path":)";
    textio::append_json_string(out, e.path);
    out += R"(,"data_type":)";
    textio::append_json_string(out, e.data_type);
    out += R"(,"array_type":)";
    textio::append_json_string(out, e.array_type);
    out += R"(,"array_name":)";
    textio::append_json_string(out, e.array_name);
    out += R"(,"unit":)";
    textio::append_json_string(out, e.unit);
    out += R"(,"buffer_format":)";
    textio::append_json_string(out, e.buffer_format);
    out += R"(,"transform":null,"data_processing_id":null,)";
    out += R"("buffer_priority":"primary","sorting_rank":)";
    out += e.sorted ? "0" : "null";
    out += '}';
  }
  out += "]}";
  return out;
}

const ArrayEntry kSpectrumArrays[] = {
    {"spectrum", "point.mz", "point", "MS:1000523", "MS:1000514", "m/z array", "MS:1000040", true},
    {"spectrum", "point.intensity", "point", "MS:1000521", "MS:1000515", "intensity array",
     "MS:1000131", false},
};
// The chunked layout: the m/z axis cut into chunks, each its start, its end
// and the differences of its later points from the one before.
const ArrayEntry kSpectrumChunkArrays[] = {
    {"spectrum", "chunk.mz_chunk_start", "chunk_start", "MS:1000523", "MS:1000514", "m/z array",
     "MS:1000040", true},
    {"spectrum", "chunk.mz_chunk_end", "chunk_end", "MS:1000523", "MS:1000514", "m/z array",
     "MS:1000040", true},
    {"spectrum", "chunk.mz_chunk_values", "chunk_values", "MS:1000523", "MS:1000514", "m/z array",
     "MS:1000040", true},
    {"spectrum", "chunk.chunk_encoding", "chunk_encoding", "MS:1000523", "MS:1000514", "m/z array",
     "MS:1000040", true},
    {"spectrum", "chunk.intensity", "chunk_secondary", "MS:1000521", "MS:1000515",
     "intensity array", "MS:1000131", false},
};
const ArrayEntry kChromatogramArrays[] = {
    {"chromatogram", "point.time", "point", "MS:1000523", "MS:1000595", "time array", "UO:0000031",
     true},
    {"chromatogram", "point.intensity", "point", "MS:1000523", "MS:1000515", "intensity array",
     "MS:1000131", false},
};

// The m/z width of a chunk (the draft's example).
constexpr double kChunkWidth = 50.0;
// Delta encoding of the chunk values.
constexpr std::string_view kDeltaEncoding = "MS:1003089";

std::vector<parquet::Column> chunk_columns() {
  return {
      {.name = "spectrum_index", .type = Type::kInt64, .page_index = true, .group = "chunk"},
      {.name = "mz_chunk_start", .type = Type::kDouble, .page_index = true, .group = "chunk"},
      {.name = "mz_chunk_end", .type = Type::kDouble, .page_index = true, .group = "chunk"},
      {.name = "mz_chunk_values",
       .type = Type::kDouble,
       .list = true,
       .byte_stream_split = true,
       .group = "chunk"},
      {.name = "chunk_encoding", .type = Type::kString, .group = "chunk"},
      {.name = "intensity",
       .type = Type::kFloat,
       .list = true,
       .byte_stream_split = true,
       .group = "chunk"},
  };
}

// Writes a spectrum's points (ascending m/z) as chunks of kChunkWidth; the
// differences of neighbouring m/z are exact (Sterbenz: two doubles within
// a factor of two), so decoding adds one rounding per point of a chunk.
Result<parquet::Written> write_chunks(parquet::Writer& w, std::int64_t position,
                                      std::span<const double> mz, std::span<const float> intensity,
                                      std::vector<double>& deltas) {
  std::size_t rows = 0;
  for (std::size_t i = 0; i < mz.size();) {
    std::size_t end = i + 1;
    const double limit = mz[i] + kChunkWidth;
    while (end < mz.size() && mz[end] <= limit) ++end;
    deltas.clear();
    for (std::size_t k = i + 1; k < end; ++k) deltas.push_back(mz[k] - mz[k - 1]);
    w.repeat(0, position, 1);
    w.repeat(1, mz[i], 1);
    w.repeat(2, mz[end - 1], 1);
    w.append_list(3, std::span<const double>(deltas));
    w.repeat(4, kDeltaEncoding, 1);
    w.append_list(5, intensity.subspan(i, end - i));
    ++rows;
    i = end;
  }
  return w.end_rows(rows);
}

std::vector<parquet::Column> signal_columns(std::string_view index_name, std::string_view axis,
                                            Type intensity) {
  return {
      {.name = std::string(index_name), .type = Type::kInt64, .page_index = true, .group = "point"},
      {.name = std::string(axis),
       .type = Type::kDouble,
       .byte_stream_split = true,
       .page_index = true,
       .group = "point"},
      {.name = "intensity", .type = intensity, .byte_stream_split = true, .group = "point"},
  };
}

enum SpectrumColumn : std::size_t {
  kIndex,
  kId,
  kTime,
  kMsLevel,
  kRepresentation,
  kSpectrumType,
  kLowestMz,
  kHighestMz,
  kDataPoints,
  kPeaks,
  kBasePeakMz,
  kBasePeakIntensity,
  kTotalIonCurrent,
};

std::vector<parquet::Column> spectrum_columns() {
  const auto number = [](std::string name) {
    return parquet::Column{.name = std::move(name), .type = Type::kDouble, .nullable = true};
  };
  return {
      {.name = "index", .type = Type::kInt64, .page_index = true},
      {.name = "id", .type = Type::kString},
      {.name = "time", .type = Type::kDouble, .page_index = true},
      {.name = "ms_level", .type = Type::kInt32, .nullable = true, .page_index = true},
      {.name = "spectrum_representation", .type = Type::kString},
      {.name = "spectrum_type", .type = Type::kString},
      number("lowest_observed_mz"),
      number("highest_observed_mz"),
      {.name = "number_of_data_points", .type = Type::kInt64, .nullable = true},
      {.name = "number_of_peaks", .type = Type::kInt64, .nullable = true},
      number("base_peak_mz"),
      number("base_peak_intensity"),
      number("total_ion_current"),
  };
}

void put_optional(parquet::Writer& w, std::size_t column, const std::optional<double>& value) {
  if (value) {
    w.repeat(column, *value, 1);
  } else {
    w.repeat_null(column, 1);
  }
}

// A precursor table (of spectra or of chromatograms): the isolation
// window's target and the activation.
std::vector<parquet::Column> precursor_columns() {
  return {
      {.name = "source_index", .type = Type::kInt64, .page_index = true},
      {.name = "precursor_index", .type = Type::kInt64, .nullable = true},
      {.name = "precursor_id", .type = Type::kString, .nullable = true},
      {.name = "isolation_window_target",
       .type = Type::kDouble,
       .nullable = true,
       .group = "isolation_window"},
      {.name = "dissociation_method", .type = Type::kString, .group = "activation"},
      {.name = "collision_energy", .type = Type::kDouble, .nullable = true, .group = "activation"}};
}

Result<parquet::Written> add_precursor(parquet::Writer& w, std::int64_t source,
                                       std::optional<double> target, std::string_view method,
                                       std::optional<double> collision_energy) {
  w.repeat(0, source, 1);
  w.repeat_null(1, 1);
  w.repeat_null(2, 1);
  put_optional(w, 3, target);
  w.repeat(4, method, 1);
  put_optional(w, 5, collision_energy);
  return w.end_rows(1);
}

// A product table: the product's (Q3) isolation window target.
std::vector<parquet::Column> product_columns() {
  return {{.name = "source_index", .type = Type::kInt64, .page_index = true},
          {.name = "product_index", .type = Type::kInt64},
          {.name = "isolation_window_target", .type = Type::kDouble, .group = "isolation_window"}};
}

// The index member, which also marks a directory as an unpacked archive
// that a later conversion may replace.
constexpr std::string_view kIndexName = "mzpeak_index.json";

struct Slot {
  quorlith::SpectrumRecord record;
  bool profile = false;
  bool picked = false;
  analysis::SpectrumSummary summary;
};

}  // namespace

Result<ConvertStats> write_mzpeak(const Reader& reader, const MzpeakTarget& target,
                                  const ConvertOptions& options, const ProgressFn& progress) {
  const auto& scans = reader.scans().records;
  const std::uint64_t total = scans.size();
  const std::string& version = options.software_version;
  const textio::IdForm ids = textio::id_form_of(reader.scans());

  // Each member streams into its file as it is written: into the
  // directory that becomes the unpacked archive, or into anonymous scratch
  // files beside the ZIP, from which the ZIP is then copied member by
  // member.
  std::optional<textio::OutputDirectory> directory;
  std::optional<OutputFile> zip_file;
  MemberPlace place;
  if (target.unpacked) {
    auto opened = textio::OutputDirectory::open(target.path, target.output, kIndexName);
    if (!opened) return std::move(opened).error();
    directory.emplace(std::move(opened).value());
    place = {directory->path(), directory->file_options()};
  } else {
    auto opened = OutputFile::open(target.path, target.output);
    if (!opened) return std::move(opened).error();
    zip_file.emplace(std::move(opened).value());
    place = {zip_file->scratch_directory(), {}, true};
  }

  Table spectra(place, "spectra_metadata.parquet", spectrum_columns(),
                options_with(version, {{.column = kIndex}}));
  Table scan_table(place, "spectra_metadata_scans.parquet",
                   {{.name = "source_index", .type = Type::kInt64, .page_index = true},
                    {.name = "scan_index", .type = Type::kInt64, .page_index = true},
                    {.name = "scan_start_time", .type = Type::kDouble, .page_index = true}},
                   options_with(version, {{.column = 0}}));
  Table precursors(place, "spectra_metadata_precursors.parquet", precursor_columns(),
                   options_with(version, {{.column = 0}}));
  Table selected_ions(place, "spectra_metadata_selected_ions.parquet",
                      {{.name = "source_index", .type = Type::kInt64, .page_index = true},
                       {.name = "precursor_index", .type = Type::kInt64, .nullable = true},
                       {.name = "selected_ion_mz", .type = Type::kDouble, .page_index = true}},
                      options_with(version, {{.column = 0}}));
  const bool chunked = target.layout == MzpeakLayout::kChunk;
  const std::string point_index = array_index("point", kSpectrumArrays);
  Table data(place, "spectra_data.parquet",
             chunked ? chunk_columns() : signal_columns("spectrum_index", "mz", Type::kFloat),
             options_with(version, {{.column = 0}, {.column = 1}},
                          {{"spectrum_array_index",
                            chunked ? array_index("chunk", kSpectrumChunkArrays) : point_index}}));
  Table peaks(place, "spectra_peaks.parquet", signal_columns("spectrum_index", "mz", Type::kFloat),
              options_with(version, {{.column = 0}, {.column = 1}},
                           {{"spectrum_array_index", point_index}}));
  std::vector<double> deltas;
  for (Table* t : {&spectra, &scan_table, &precursors, &selected_ions, &data, &peaks}) {
    if (t->open_error) return *t->open_error;
    if (auto r = t->writer.begin(); !r) return std::move(r).error();
  }

  const unsigned threads = pipeline::thread_count(options.threads);
  std::vector<std::unique_ptr<Slot>> slots(pipeline::slot_count(threads));
  for (auto& slot : slots) slot = std::make_unique<Slot>();
  std::vector<std::vector<float>> selection_scratch(threads);

  ConvertStats stats;
  IndexFacts facts{.software_version = version, .run_name = reader.name(), .ids = ids};
  std::optional<Error> failure;
  std::uint64_t written = 0;
  ProgressTicker ticker(progress, total);
  std::vector<double> times;
  std::vector<double> tics;
  std::vector<double> base_peaks;
  std::vector<std::uint32_t> levels;
  // The channel scans taken and each one's intensity, summed on the points
  // as read (before any point selection), as for mzML.
  std::vector<std::size_t> traced_positions;
  std::vector<double> traced_intensity;
  std::vector<std::uint32_t> spectrum_channels;  // per spectrum written; none: UINT32_MAX
  const mrm::TransitionList* transitions = options.transitions;

  pipeline::SpectrumStages stages;
  stages.order = block_order_of(options.points.peaks);
  stages.take = [&](quorlith::SpectrumRecord& record, std::size_t index) {
    if (!options.wants(record)) return false;
    if (record.index < scans.size() && mrm::in_channel_chromatogram(scans[record.index])) {
      traced_positions.push_back(static_cast<std::size_t>(record.index));
      traced_intensity.push_back(mrm::scan_intensity(reader, record));
    }
    Slot& slot = *slots[index];
    slot.profile = representation_of(reader, record) == Representation::profile;
    slot.record = std::move(record);
    return true;
  };
  stages.work = [&](std::size_t index, std::size_t worker) {
    Slot& slot = *slots[index];
    const ShapedPoints shaped =
        shape_points(slot.record, slot.profile, options.points, selection_scratch[worker]);
    slot.profile = shaped.profile;
    slot.picked = shaped.picked;
    const auto& r = slot.record;
    slot.summary = analysis::summarize(
        std::span<const double>(r.mz.data(), r.mz.size()),
        std::span<const float>(r.intensity.data(), std::min(r.intensity.size(), r.mz.size())),
        slot.profile);
  };
  stages.emit = [&](std::size_t index) {
    Slot& slot = *slots[index];
    const quorlith::SpectrumRecord& record = slot.record;
    const analysis::SpectrumSummary& summary = slot.summary;
    const auto n = summary.points;
    const auto position = static_cast<std::int64_t>(written++);
    const double minutes = record.retention_time_sec / 60.0;
    auto& w = spectra.writer;
    w.repeat(kIndex, position, 1);
    w.repeat(kId, textio::spectrum_id(ids, record), 1);
    w.repeat(kTime, minutes, 1);
    w.repeat(kMsLevel, std::int64_t{record.ms_level}, 1);
    w.repeat(kRepresentation, slot.profile ? "MS:1000128" : "MS:1000127", 1);
    w.repeat(kSpectrumType, record.ms_level <= 1 ? "MS:1000579" : "MS:1000580", 1);
    put_optional(w, kLowestMz, summary.lowest_mz);
    put_optional(w, kHighestMz, summary.highest_mz);
    if (slot.profile) {
      w.repeat(kDataPoints, static_cast<std::int64_t>(n), 1);
      w.repeat_null(kPeaks, 1);
    } else {
      w.repeat_null(kDataPoints, 1);
      w.repeat(kPeaks, static_cast<std::int64_t>(n), 1);
    }
    put_optional(w, kBasePeakMz, summary.base_peak_mz);
    put_optional(w, kBasePeakIntensity, summary.base_peak_intensity);
    if (n > 0) {
      w.repeat(kTotalIonCurrent, summary.total_ion_current, 1);
    } else {
      w.repeat_null(kTotalIonCurrent, 1);
    }
    auto result = w.end_rows(1);
    scan_table.writer.repeat(0, position, 1);
    scan_table.writer.repeat(1, position, 1);
    scan_table.writer.repeat(2, minutes, 1);
    if (result) result = scan_table.writer.end_rows(1);
    if (record.ms_level >= 2) {
      const std::optional<double> selected =
          record.precursor ? record.precursor->selected_mz : std::nullopt;
      const bool known = selected && std::isfinite(*selected);
      // The run records no dissociation method: its parent term, as mzML.
      if (result) {
        result = add_precursor(precursors.writer, position, known ? selected : std::nullopt,
                               "MS:1000044", std::nullopt);
      }
      if (known) {
        selected_ions.writer.repeat(0, position, 1);
        selected_ions.writer.repeat_null(1, 1);
        selected_ions.writer.repeat(2, *selected, 1);
        if (result) result = selected_ions.writer.end_rows(1);
      }
    }
    if (n > 0) {
      const std::span<const double> mz(record.mz.data(), n);
      const std::span<const float> intensity(record.intensity.data(), n);
      if (slot.profile && chunked) {
        if (result) result = write_chunks(data.writer, position, mz, intensity, deltas);
      } else {
        auto& signal = slot.profile ? data.writer : peaks.writer;
        signal.repeat(0, position, n);
        signal.append(1, mz);
        signal.append(2, intensity);
        if (result) result = signal.end_rows(n);
      }
    }
    if (!result) {
      failure = std::move(result).error();
      return false;
    }
    (record.ms_level <= 1 ? facts.has_ms1 : facts.has_msn) = true;
    facts.peak_picking = facts.peak_picking || slot.picked;
    times.push_back(minutes);
    tics.push_back(summary.total_ion_current);
    base_peaks.push_back(summary.base_peak_intensity.value_or(0.0));
    levels.push_back(record.ms_level);
    spectrum_channels.push_back(record.index < scans.size() && scans[record.index].mrm_channel
                                    ? *scans[record.index].mrm_channel
                                    : UINT32_MAX);
    ++stats.spectra_by_level[record.ms_level];
    stats.points += n;
    ticker.written(record.index);
    slot.record.mz = {};
    slot.record.intensity = {};
    return true;
  };
  pipeline::run_spectrum_pipeline(reader, threads, stages);
  if (failure) return std::move(*failure);

  // TIC and BPC trace the survey scans, or every spectrum of a run without
  // any (as mzML's chromatograms do).
  Table chromatograms(place, "chromatograms_metadata.parquet",
                      {{.name = "index", .type = Type::kInt64, .page_index = true},
                       {.name = "id", .type = Type::kString},
                       {.name = "chromatogram_type", .type = Type::kString},
                       {.name = "number_of_data_points", .type = Type::kInt64}},
                      options_with(version, {{.column = 0}}));
  Table traces(
      place, "chromatograms_data.parquet",
      signal_columns("chromatogram_index", "time", Type::kDouble),
      options_with(version, {{.column = 0}, {.column = 1}},
                   {{"chromatogram_array_index", array_index("point", kChromatogramArrays)}}));
  for (Table* t : {&chromatograms, &traces}) {
    if (t->open_error) return *t->open_error;
    if (auto r = t->writer.begin(); !r) return std::move(r).error();
  }
  std::vector<double> trace_times;
  std::vector<double> trace_tic;
  std::vector<double> trace_bpc;
  for (std::size_t i = 0; i < times.size(); ++i) {
    if (levels[i] <= 1 || !facts.has_ms1) {
      trace_times.push_back(times[i]);
      trace_tic.push_back(tics[i]);
      trace_bpc.push_back(base_peaks[i]);
    }
  }
  std::int64_t next_chromatogram = 0;
  const auto add_trace = [&](std::string_view id, std::string_view type,
                             std::span<const double> minutes,
                             std::span<const double> intensity) -> Result<parquet::Written> {
    const std::int64_t c = next_chromatogram++;
    chromatograms.writer.repeat(0, c, 1);
    chromatograms.writer.repeat(1, id, 1);
    chromatograms.writer.repeat(2, type, 1);
    chromatograms.writer.repeat(3, static_cast<std::int64_t>(minutes.size()), 1);
    traces.writer.repeat(0, c, minutes.size());
    traces.writer.append(1, minutes);
    traces.writer.append(2, intensity);
    if (auto r = chromatograms.writer.end_rows(1); !r) return r;
    return traces.writer.end_rows(minutes.size());
  };
  if (auto r = add_trace("TIC", "MS:1000235", trace_times, trace_tic); !r) {
    return std::move(r).error();
  }
  if (auto r = add_trace("BPC", "MS:1000628", trace_times, trace_bpc); !r) {
    return std::move(r).error();
  }
  // An MRM run: one chromatogram per channel, as in mzML; with a transition
  // list, a selected reaction monitoring chromatogram whose precursor (Q1)
  // and product (Q3) are in the chromatogram precursor and product tables.
  Table trace_precursors(place, transitions ? "chromatograms_metadata_precursors.parquet" : "",
                         precursor_columns(), options_with(version, {{.column = 0}}));
  Table trace_products(place, transitions ? "chromatograms_metadata_products.parquet" : "",
                       product_columns(), options_with(version, {{.column = 0}}));
  Table products(place, transitions ? "spectra_metadata_products.parquet" : "", product_columns(),
                 options_with(version, {{.column = 0}}));
  for (Table* t : {&trace_precursors, &trace_products, &products}) {
    if (t->open_error) return *t->open_error;
    if (auto r = t->writer.begin(); !r) return std::move(r).error();
  }
  std::int64_t product_index = 0;
  const auto add_product = [&](Table& table, std::int64_t source, double q3) {
    table.writer.repeat(0, source, 1);
    table.writer.repeat(1, product_index++, 1);
    table.writer.repeat(2, q3, 1);
    return table.writer.end_rows(1);
  };
  std::vector<double> minutes;
  for (const auto& chromatogram :
       mrm::assemble_chromatograms(reader.scans(), traced_positions, traced_intensity)) {
    const mrm::Transition* transition =
        transitions ? transitions->find(chromatogram.channel) : nullptr;
    minutes.clear();
    for (const double sec : chromatogram.rt_sec) minutes.push_back(sec / 60.0);
    const std::int64_t source = next_chromatogram;
    if (auto r =
            add_trace(channel_chromatogram_id(chromatogram.channel, transition),
                      transition ? "MS:1001473" : "MS:1000810", minutes, chromatogram.intensity);
        !r) {
      return std::move(r).error();
    }
    if (!transition) continue;
    auto r = add_precursor(trace_precursors.writer, source, transition->precursor_mz, "MS:1000133",
                           transition->collision_energy);
    if (r) r = add_product(trace_products, source, transition->product_mz);
    if (!r) return std::move(r).error();
  }
  // The spectra of channels a transition names: their product (Q3).
  product_index = 0;
  for (std::size_t i = 0; transitions && i < spectrum_channels.size(); ++i) {
    const mrm::Transition* transition =
        spectrum_channels[i] == UINT32_MAX ? nullptr : transitions->find(spectrum_channels[i]);
    if (!transition || levels[i] < 2) continue;
    if (auto r = add_product(products, static_cast<std::int64_t>(i), transition->product_mz); !r) {
      return std::move(r).error();
    }
  }

  std::vector<Member> members;
  std::optional<Error> unfinished;
  const auto add = [&](Table& table, std::string entity, std::string kind) {
    auto r = table.writer.finish();
    if (!r) {
      unfinished = std::move(r).error();
      return false;
    }
    if (auto closed = table.sink->close(); !closed) {
      unfinished = std::move(closed).error();
      return false;
    }
    members.push_back(
        {table.name, std::move(entity), std::move(kind), table.sink->size(), table.sink->file()});
    return true;
  };
  const bool finished =
      add(spectra, "spectrum", "metadata") && add(scan_table, "spectrum", "scans") &&
      add(precursors, "spectrum", "precursors") &&
      add(selected_ions, "spectrum", "selected_ions") && add(data, "spectrum", "data_arrays") &&
      add(peaks, "spectrum", "peaks") && add(chromatograms, "chromatogram", "metadata") &&
      add(traces, "chromatogram", "data_arrays") &&
      (!transitions || (add(products, "spectrum", "products") &&
                        add(trace_precursors, "chromatogram", "precursors") &&
                        add(trace_products, "chromatogram", "products")));
  if (!finished) return std::move(*unfinished);
  facts.run_name = reader.name();
  const std::string index = index_json(members, facts);
  auto index_file = open_member(place, kIndexName);
  if (!index_file) return std::move(index_file).error();
  if (auto r = index_file->write(index); !r) return std::move(r).error();
  if (auto r = index_file->commit(); !r) return std::move(r).error();
  members.push_back({std::string(kIndexName), "", "", index.size(), &*index_file});

  if (target.unpacked) {
    if (auto r = directory->commit(); !r) return std::move(r).error();
    for (const auto& member : members) stats.bytes += member.size;
  } else {
    auto size = write_zip(members, *zip_file);
    if (!size) return std::move(size).error();
    if (auto r = zip_file->commit(); !r) return std::move(r).error();
    stats.bytes = *size;
  }
  ticker.finished(total);
  return stats;
}

}  // namespace velmoran::exporting
