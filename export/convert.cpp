#include <velmoran/export/convert.hpp>

#include <algorithm>
#include <memory>
#include <optional>

#include <velmoran/analysis/survey_level.hpp>
#include <velmoran/export/mgf.hpp>
#include <velmoran/export/mzml_chromatograms.hpp>
#include <velmoran/mrm/channel_chromatograms.hpp>
#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/representation.hpp>
#include <velmoran/textio/buffered_writer.hpp>
#include <velmoran/textio/escape.hpp>

namespace velmoran::exporting {

namespace {

// One spectrum in flight. Slots are reused round robin: the pipeline holds
// at most as many spectra as there are slots, and the in-order writer
// releases them in order. The encoder's scratch space is per thread.
struct Slot {
  quorlith::SpectrumRecord record;
  bool profile = false;
  std::uint64_t list_index = 0;
  std::optional<std::uint32_t> mrm_channel;
  std::string text;
  SpectrumSummary summary;
};

}  // namespace

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
  // An MRM run's channel scans become chromatograms (mzML only), and with
  // --mrm chromatograms only that.
  const bool channel_traces = mzml && options.mrm != MrmOutput::kSpectra;
  const bool chromatograms_only = mzml && options.mrm == MrmOutput::kChromatograms;
  for (const auto& scan : scans) {
    if (!options.scans.accepts(scan)) continue;
    const bool traced = mrm::in_channel_chromatogram(scan);
    if (channel_traces && traced && options.transitions &&
        options.transitions->find(*scan.mrm_channel)) {
      run.srm_chromatograms = true;
    }
    if (chromatograms_only && traced) continue;
    ++run.spectrum_count;
    (analysis::is_survey_level(scan.ms_level) ? run.has_ms1 : run.has_msn) = true;
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
  std::optional<textio::BufferedWriter> mgf_out;
  if (mzml) {
    mzml_writer.emplace(output, run);
    if (auto r = mzml_writer->begin(); !r) return std::move(r).error();
  } else {
    mgf_out.emplace(output);
  }
  const std::string title = textio::single_line_text(options.title);

  const unsigned threads = pipeline::thread_count(options.threads);
  std::vector<std::unique_ptr<Slot>> slots(pipeline::slot_count(threads));
  for (auto& slot : slots) slot = std::make_unique<Slot>();
  // Made on first use: a thread that never encodes costs nothing.
  std::vector<std::unique_ptr<EncodeScratch>> scratch(threads);
  std::vector<std::vector<float>> selection_scratch(threads);

  ConvertStats stats;
  std::optional<Error> failure;
  std::uint64_t produced = 0;  // spectra handed to the encoders
  std::uint64_t read = 0;      // records taken from the sequence
  ProgressTicker ticker(progress, total);
  // The channel scans taken, and each one's intensity.
  std::vector<std::size_t> traced_positions;
  std::vector<double> traced_intensity;

  pipeline::SpectrumStages stages;
  stages.order = block_order_of(peaks);
  stages.take = [&](quorlith::SpectrumRecord& record, std::size_t index) {
    ++read;
    if (!options.wants(record)) return false;
    if (channel_traces && record.index < scans.size() &&
        mrm::in_channel_chromatogram(scans[record.index])) {
      // Summed here, on the points as read: before any point selection,
      // and also for the scans not written as spectra.
      traced_positions.push_back(static_cast<std::size_t>(record.index));
      traced_intensity.push_back(mrm::scan_intensity(reader, record));
      if (chromatograms_only) return false;
    }
    if (!mzml && !mgf_wants(record)) {
      ++stats.left_out;
      return false;
    }
    Slot& slot = *slots[index];
    slot.list_index = produced++;
    slot.profile = representation_of(reader, record) == Representation::profile;
    slot.mrm_channel = record.index < scans.size() ? scans[record.index].mrm_channel : std::nullopt;
    slot.record = std::move(record);
    return true;
  };
  stages.work = [&](std::size_t index, std::size_t worker) {
    Slot& slot = *slots[index];
    slot.profile =
        shape_points(slot.record, slot.profile, options.points, selection_scratch[worker]).profile;
    slot.text.clear();
    if (mzml) {
      if (!scratch[worker]) scratch[worker] = std::make_unique<EncodeScratch>();
      slot.summary = append_mzml_spectrum(slot.text, slot.record,
                                          {slot.list_index, slot.profile, slot.mrm_channel},
                                          run.ids, options.compression, *scratch[worker]);
    } else {
      slot.summary.points = append_mgf_ions(slot.text, slot.record, title);
    }
    // The arrays are done with; give their memory back now rather than
    // when the slot comes round again.
    slot.record.mz = {};
    slot.record.intensity = {};
  };
  // In order: the spectrum's place in the file (offsets, chromatogram,
  // checksum) and the counts, overlapping the write of the one before.
  stages.place = [&](std::size_t index) {
    const Slot& slot = *slots[index];
    const quorlith::SpectrumRecord& record = slot.record;
    if (mzml) {
      mzml_writer->place_spectrum(slot.text, textio::id_number(run.ids, record), record.ms_level,
                                  record.retention_time_sec, slot.summary);
    }
    if (!mzml && slot.summary.points == 0) {
      ++stats.without_peaks;
    } else {
      ++stats.spectra_by_level[record.ms_level];
      stats.points += slot.summary.points;
    }
    ticker.written(record.index);
  };
  stages.emit = [&](std::size_t index) {
    const Slot& slot = *slots[index];
    return pipeline::succeeded(
        mzml ? mzml_writer->write_spectrum(slot.text) : mgf_out->write(slot.text), failure);
  };
  pipeline::run_spectrum_pipeline(reader, threads, stages);
  if (failure) return std::move(*failure);

  EncodeScratch final_scratch;
  std::vector<ChromatogramElement> channel_elements;
  if (channel_traces) {
    const auto chromatograms =
        mrm::assemble_chromatograms(reader.scans(), traced_positions, traced_intensity);
    channel_elements = channel_chromatogram_elements(chromatograms, options.transitions,
                                                     options.compression, final_scratch);
    for (const auto& chromatogram : chromatograms) {
      stats.channels.push_back(chromatogram.channel);
      if (!options.transitions || !options.transitions->find(chromatogram.channel)) {
        ++stats.without_transition;
      }
    }
    stats.channel_chromatograms = chromatograms.size();
  }
  if (auto r = mzml ? mzml_writer->finish(final_scratch, channel_elements) : mgf_out->flush(); !r) {
    return std::move(r).error();
  }
  if (auto r = output.finish_filter(); !r) return std::move(r).error();
  ticker.finished(read);
  stats.bytes = output.bytes_stored();
  return stats;
}

}  // namespace velmoran::exporting
