// Converting one opened run to mzML or MGF: records flow from one spectrum
// sequence (serial, in order) through parallel encoders (summary,
// compression, base64, the element's text) to one writer (serial, in
// order). Memory is bounded by the spectra in flight, two per thread, and
// one encoder's scratch space per thread, whatever the run's length.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include <velmoran/analysis/scan_selection.hpp>
#include <velmoran/export/mzml.hpp>
#include <velmoran/export/selection.hpp>
#include <velmoran/mrm/transitions.hpp>
#include <velmoran/reader.hpp>
#include <velmoran/result.hpp>

namespace velmoran::exporting {

enum class OutputFormat { kMzml, kMgf };

// How mzML holds the scans of an MRM run that belong to a channel's
// chromatogram (MS level 2 and up): as spectra and chromatograms, as
// chromatograms only, or as spectra only (no channel chromatograms).
enum class MrmOutput { kBoth, kChromatograms, kSpectra };

struct ConvertOptions {
  OutputFormat format = OutputFormat::kMzml;
  Compression compression = Compression::kZlib;
  bool indexed = true;
  // Which scans to write (MS levels, retention time, scan numbers).
  analysis::ScanSelection scans;
  PointOptions points;
  // Encoder threads; 0 means the CPUs the process may run on (affinity and
  // CPU quota, analysis::default_threads). More threads than that run only
  // when the program allows them (tbb::global_control).
  unsigned threads = 0;
  std::string software_version;
  // MGF titles: "<title> scan=<n>".
  std::string title;
  MrmOutput mrm = MrmOutput::kBoth;
  // The transitions of the channels, when a list was given (not owned).
  const mrm::TransitionList* transitions = nullptr;

  // The record passes the level and scan filters (every output's first
  // choice of what to write).
  [[nodiscard]] bool wants(const quorlith::SpectrumRecord& record) const noexcept {
    return scans.accepts(record.ms_level, record.scan_id, record.retention_time_sec);
  }
};

struct ConvertStats {
  // Spectra written, by MS level.
  std::map<std::uint32_t, std::uint64_t> spectra_by_level;
  std::uint64_t points = 0;
  // MGF: spectra of the chosen levels left out for want of a precursor m/z.
  std::uint64_t left_out = 0;
  // MGF: spectra left out because no point (or none that is a number) was
  // left to write; a block without peaks is not MGF.
  std::uint64_t without_peaks = 0;
  // Bytes of the file (compressed, when it is).
  std::uint64_t bytes = 0;
  // mzML of an MRM run: channel chromatograms written, and of those the
  // ones that no transition of the list named (all when there is no list).
  std::uint64_t channel_chromatograms = 0;
  std::uint64_t without_transition = 0;
  // The channels of the chromatograms written, increasing.
  std::vector<std::uint32_t> channels;
};

// Called from the writer's thread with the scans read so far and the total.
using ProgressFn = std::function<void(std::uint64_t done, std::uint64_t total)>;

// Reports a pass's progress every 64 scans, from the writer's thread.
class ProgressTicker {
 public:
  ProgressTicker(const ProgressFn& progress, std::uint64_t total)
      : progress_(&progress), total_(total) {}
  // The scan at table position `index` was written.
  void written(std::uint64_t index) {
    if (*progress_ && index + 1 - last_ >= 64) {
      last_ = index + 1;
      (*progress_)(last_, total_);
    }
  }
  // The pass ended after `read` scans.
  void finished(std::uint64_t read) const {
    if (*progress_) (*progress_)(read, total_);
  }

 private:
  const ProgressFn* progress_;
  std::uint64_t total_;
  std::uint64_t last_ = 0;
};

// Writes the run to `output` (not committed: the caller commits on success).
[[nodiscard]] Result<ConvertStats> convert_run(const Reader& reader, OutputFile& output,
                                               const ConvertOptions& options,
                                               const ProgressFn& progress = {});

}  // namespace velmoran::exporting
