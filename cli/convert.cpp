// velmoran convert: runs to indexed mzML 1.1 (or plain mzML, MGF, mzPeak
// archives, a Parquet table), one output per run, each written whole or not
// at all.
#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <system_error>
#include <vector>

#include <oneapi/tbb/global_control.h>

#include <velmoran/export/convert.hpp>
#include <velmoran/export/mzpeak.hpp>
#include <velmoran/export/parallel_gzip.hpp>
#include <velmoran/export/point_table.hpp>
#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/textio/numbers.hpp>
#include <velmoran/textio/output_file.hpp>
#include <velmoran/textio/quoted_value.hpp>
#include <velmoran/textio/ranges.hpp>
#include <velmoran/reader.hpp>

#include "commands.hpp"
#include "progress.hpp"
#include "run_output.hpp"
#include "status.hpp"
#include "text_options.hpp"
#include "transitions_option.hpp"

namespace velmoran::cli {

namespace {

namespace fs = std::filesystem;
using exporting::Compression;
using exporting::OutputFormat;

struct ConvertArgs {
  std::vector<std::string> runs;
  std::string output;
  std::string format = "mzml";
  std::string compression = "zlib";
  bool no_index = false;
  std::string ms_levels;
  unsigned threads = 0;
  bool sync = true;
  bool quiet = false;
  std::string peaks;
  bool drop_zeros = false;
  std::optional<std::string> rt;
  std::optional<std::string> scans;
  std::optional<std::string> mz;
  std::optional<std::string> min_intensity;
  std::optional<std::string> top;
  bool gzip = false;
  std::string mrm = "both";
  std::string transitions;
  bool unpacked = false;
  std::string mzpeak_layout = "chunk";
};

// The point and scan selection of the command line, or a usage error's text.
std::optional<std::string> parse_selection(const ConvertArgs& args, bool mgf,
                                           exporting::ConvertOptions& options) {
  using exporting::PeakMode;
  const std::string peaks = args.peaks.empty() ? (mgf ? "centroid" : "profile") : args.peaks;
  if (peaks == "profile") {
    options.points.peaks = PeakMode::kProfile;
  } else if (peaks == "centroid") {
    options.points.peaks = PeakMode::kCentroid;
  } else if (peaks == "picked") {
    options.points.peaks = PeakMode::kPicked;
  } else {
    return "--peaks: " + textio::quoted_value(args.peaks) +
           " is not one of profile, centroid, picked";
  }
  options.points.drop_zeros = args.drop_zeros;
  if (args.rt) {
    options.scans.retention_time_sec = textio::parse_number_range(*args.rt);
    if (!options.scans.retention_time_sec) {
      return "--rt: " + textio::quoted_value(*args.rt) +
             " is not a range of seconds A:B with A <= B";
    }
  }
  if (args.scans) {
    options.scans.scan_numbers = textio::parse_whole_range(*args.scans);
    if (!options.scans.scan_numbers) {
      return "--scans: " + textio::quoted_value(*args.scans) +
             " is not a range of scan numbers A-B with A <= B";
    }
  }
  if (args.mz) {
    options.points.mz_window = textio::parse_number_range(*args.mz);
    if (!options.points.mz_window) {
      return "--mz: " + textio::quoted_value(*args.mz) + " is not an m/z window A:B with A <= B";
    }
  }
  if (args.min_intensity) {
    const auto floor = textio::parse_finite(*args.min_intensity);
    if (!floor || *floor < 0.0) {
      return "--min-intensity: " + textio::quoted_value(*args.min_intensity) +
             " is not a finite number >= 0";
    }
    options.points.min_intensity = *floor;
  }
  if (args.top) {
    const auto top = textio::parse_whole<std::uint32_t>(*args.top);
    if (!top || *top == 0) {
      return "--top: " + textio::quoted_value(*args.top) + " is not a whole number >= 1";
    }
    options.points.top = *top;
  }
  return std::nullopt;
}

// "2", "1,2", "2-", "1-3": levels and inclusive ranges, an open end meaning
// every level above; none for the empty text (every level).
std::optional<std::vector<analysis::LevelRange>> parse_levels(std::string_view text) {
  std::vector<analysis::LevelRange> filter;
  if (text.empty()) return filter;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find(',', start);
    if (end == std::string_view::npos) end = text.size();
    const auto range =
        textio::parse_whole_range(text.substr(start, end - start), textio::OpenHigh::allowed);
    if (!range) return std::nullopt;
    filter.push_back(*range);
    start = end + 1;
  }
  return filter;
}

std::string fixed(double value, int decimals) {
  char text[64];
  std::snprintf(text, sizeof text, "%.*f", decimals, value);
  return text;
}

std::string summary_line(const fs::path& target, const exporting::ConvertStats& stats,
                         OutputFormat format, double seconds) {
  std::uint64_t spectra = 0;
  std::string levels;
  for (const auto& [level, count] : stats.spectra_by_level) {
    spectra += count;
    if (!levels.empty()) levels += ", ";
    levels += "MS" + std::to_string(level) + " " + std::to_string(count);
  }
  const double megabytes = static_cast<double>(stats.bytes) / 1e6;
  std::string line = "wrote " + (target == "-" ? std::string("standard output") : target.string()) +
                     ": " + std::to_string(spectra) + " spectra";
  if (!levels.empty()) line += " (" + levels + ")";
  if (format == OutputFormat::kMgf) {
    line += ", " + std::to_string(stats.left_out) + " left out without a precursor m/z, " +
            std::to_string(stats.without_peaks) + " without a peak";
  }
  if (stats.channel_chromatograms > 0) {
    line += ", " + std::to_string(stats.channel_chromatograms) + " channel chromatograms";
    if (stats.without_transition > 0) {
      line += " (" + std::to_string(stats.without_transition) + " without a transition)";
    }
  }
  line += ", " + std::to_string(stats.points) + " points, " + fixed(megabytes, 1) + " MB, " +
          fixed(seconds, 2) + " s, " + fixed(seconds > 0 ? megabytes / seconds : 0.0, 1) + " MB/s";
  return line;
}

int run_convert(const ConvertArgs& args) {
  const auto levels = parse_levels(args.ms_levels);
  if (!levels) {
    return usage_error("--ms-level: " + textio::quoted_value(args.ms_levels) +
                       " is not a list of MS levels (for example 2, 1,2 or 2-)");
  }
  const bool mgf = args.format == "mgf";
  const bool table = args.format == "parquet";
  const bool archive = args.format == "mzpeak";
  exporting::ConvertOptions options;
  if (auto problem = parse_selection(args, mgf, options)) return usage_error(*problem);
  // A name ending in .gz asks for gzip; --gzip names the outputs so.
  const bool named_gz =
      args.runs.size() == 1 && args.output != "-" && ends_with_any_case(args.output, ".gz");
  if (args.gzip && args.runs.size() == 1 && !args.output.empty() && args.output != "-" &&
      !named_gz) {
    return usage_error("--gzip: the output " + args.output + " does not end in .gz");
  }
  const bool gzip = args.gzip || named_gz;
  if (gzip && (table || archive)) {
    return usage_error("--gzip: Parquet pages are compressed already");
  }
  const std::string extension = table ? ".parquet"
                                : archive
                                    ? ".mzpeak"
                                    : std::string(mgf ? ".mgf" : ".mzML") + (gzip ? ".gz" : "");
  // Parquet into a directory (several runs, or -o DIR/ or an existing
  // directory): a Hive-partitioned dataset, DIR/run=NAME/part-0.parquet.
  const bool partitioned =
      table && !args.output.empty() &&
      (args.runs.size() > 1 || args.output.back() == '/' || fs::is_directory(args.output));

  // Where each run goes, all decided (and checked) before anything is written.
  std::vector<fs::path> targets;
  const bool several = args.runs.size() > 1;
  if (several && args.output == "-") {
    return usage_error("-o -: several runs cannot all go to standard output; give a directory");
  }
  std::map<std::string, std::string> stems;
  for (const std::string& run : args.runs) {
    const std::string stem = output_stem(run);
    if (const auto [it, fresh] = stems.emplace(stem, run); !fresh) {
      return usage_error("runs " + it->second + " and " + run + " would both be written to " +
                         stem + extension);
    }
    if (partitioned) {
      targets.push_back(fs::path(args.output) / ("run=" + exporting::hive_escape(stem)) /
                        "part-0.parquet");
    } else if (!several && !args.output.empty()) {
      targets.emplace_back(args.output);
    } else {
      targets.push_back((several && !args.output.empty() ? fs::path(args.output) : fs::path()) /
                        (stem + extension));
    }
  }
  // No output may overwrite or enter a run being converted: every target
  // is checked before the directory is made or anything is written.
  for (const std::string& run : args.runs) input_runs().emplace_back(run);
  for (std::size_t i = 0; i < targets.size(); ++i) {
    if (targets[i] == "-") continue;
    if (const auto clash = textio::find_input_clash(targets[i], input_runs())) {
      report_failure(args.runs[i], targets[i].string() + ": " + clash->text());
      return kExitFailure;
    }
  }
  if ((several || partitioned) && !args.output.empty()) {
    for (const auto& directory : partitioned ? targets : std::vector<fs::path>{args.output}) {
      const fs::path made = partitioned ? directory.parent_path() : directory;
      std::error_code ec;
      fs::create_directories(made, ec);
      if (ec || !fs::is_directory(made)) {
        report_failure(made.string(), ec ? Error::os(ec.value()).text() : "not a directory");
        return kExitFailure;
      }
    }
  }

  options.format = mgf ? OutputFormat::kMgf : OutputFormat::kMzml;
  options.compression = args.compression == "none"       ? Compression::kNone
                        : args.compression == "numpress" ? Compression::kNumpress
                                                         : Compression::kZlib;
  options.indexed = !args.no_index;
  if (!levels->empty()) options.scans.levels = *levels;
  options.threads = pipeline::thread_count(args.threads);
  // How many threads may run at once is the program's to say: as many as
  // asked for, even beyond the CPUs; oneTBB's default otherwise.
  std::optional<tbb::global_control> parallelism;
  if (args.threads != 0) {
    parallelism.emplace(tbb::global_control::max_allowed_parallelism, options.threads);
  }
  options.software_version = VELMORAN_VERSION;
  options.mrm = args.mrm == "chromatograms" ? exporting::MrmOutput::kChromatograms
                : args.mrm == "spectra"     ? exporting::MrmOutput::kSpectra
                                            : exporting::MrmOutput::kBoth;
  const LoadedTransitions transitions = load_transitions(args.transitions);
  if (!transitions.ok) return kExitUsage;
  if (transitions.list) options.transitions = &*transitions.list;

  int status = kExitSuccess;
  for (std::size_t i = 0; i < args.runs.size(); ++i) {
    const std::string& run = args.runs[i];
    const auto started = std::chrono::steady_clock::now();
    auto reader = Reader::open(run);
    if (!reader) {
      report_failure(run, reader.error().text());
      status = kExitFailure;
      continue;
    }
    if (archive) {
      // One run with -o DIR/ is an unpacked archive; several runs go into DIR.
      const bool unpacked = args.unpacked || (args.runs.size() == 1 && !args.output.empty() &&
                                              args.output.back() == '/');
      ProgressBar bar(run, !args.quiet && stderr_is_terminal());
      auto stats = exporting::write_mzpeak(
          *reader,
          {targets[i], unpacked,
           args.mzpeak_layout == "point" ? exporting::MzpeakLayout::kPoint
                                         : exporting::MzpeakLayout::kChunk,
           output_options(args.sync)},
          options, [&bar](std::uint64_t done, std::uint64_t total) { bar.update(done, total); });
      bar.clear();
      if (!stats) {
        report_failure(run, targets[i].string() + ": " + stats.error().text());
        status = kExitFailure;
      } else if (!args.quiet) {
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
        report_failure(run, summary_line(targets[i], *stats, options.format, seconds));
      }
      continue;
    }
    auto output = textio::OutputFile::open(targets[i], output_options(args.sync));
    if (!output) {
      report_failure(run, targets[i].string() + ": " + open_failure(targets[i], output));
      status = kExitFailure;
      continue;
    }
    if (gzip) {
      output->set_filter(exporting::make_gzip_filter(options.threads));
    }
    options.title = stem_of(reader->name());
    if (transitions.list) warn_unmatched_transitions(*reader, args.transitions, *transitions.list);
    ProgressBar bar(run, !args.quiet && stderr_is_terminal());
    const auto show = [&bar](std::uint64_t done, std::uint64_t total) { bar.update(done, total); };
    auto stats = table ? exporting::write_point_table(*reader, *output, options,
                                                      stem_of(reader->name()), show)
                       : exporting::convert_run(*reader, *output, options, show);
    bar.clear();
    if (stats) {
      if (auto committed = output->commit(); !committed) stats = std::move(committed).error();
    }
    if (!stats && reader_left(*output, stats.error())) return status;
    if (!stats) {
      report_failure(run, targets[i].string() + ": " + stats.error().text());
      status = kExitFailure;
      continue;
    }
    if (!args.quiet) {
      const double seconds =
          std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
      report_failure(run, summary_line(targets[i], *stats, options.format, seconds));
    }
  }
  return status;
}

}  // namespace

Subcommand add_convert(CLI::App& app) {
  auto args = std::make_shared<ConvertArgs>();
  CLI::App* sub = app.add_subcommand(
      "convert",
      "Convert runs to indexed mzML 1.1 (default), MGF, mzPeak archives or a Parquet table of "
      "points, one output per run.");
  sub->add_option("runs", args->runs, "Dataset directories (RUN.d) to convert")
      ->required()
      ->type_name("RUN.d");
  sub->add_option("-o,--output", args->output,
                  "Output file for one run ('-' for standard output), or a directory for "
                  "several (created when missing); Parquet: a directory (DIR/) gets "
                  "DIR/run=NAME/part-0.parquet "
                  "per run. Default: <stem>.mzML, <stem>.mgf, <stem>.mzpeak or <stem>.parquet here")
      ->type_name("OUT");
  sub->add_option("--format", args->format, "Output format (default mzml)")
      ->check(CLI::IsMember({"mzml", "mgf", "parquet", "mzpeak"}).description(""))
      ->type_name("mzml|mgf|parquet|mzpeak");
  sub->add_flag("--unpacked", args->unpacked,
                "mzPeak: the archive's members in a directory instead of a ZIP (also when one "
                "run's -o ends in /)");
  sub->add_option("--mzpeak-layout", args->mzpeak_layout,
                  "mzPeak profiles: chunk (default: 50 m/z chunks, the m/z axis delta-encoded, "
                  "m/z within 1e-13 relative) or point (one row per point, m/z exact)")
      ->check(CLI::IsMember({"point", "chunk"}).description(""))
      ->type_name("point|chunk");
  sub->add_option("--compression", args->compression,
                  "mzML binary arrays: zlib (default, exact), none (exact), numpress (smaller; "
                  "m/z to 1e-6, intensities to 2e-3 relative)")
      ->check(CLI::IsMember({"zlib", "none", "numpress"}).description(""))
      ->type_name("zlib|none|numpress");
  sub->add_flag("--no-index", args->no_index, "Write plain mzML without the offset index");
  sub->add_option("--ms-level", args->ms_levels,
                  "Only these MS levels: 2, 1,2 or 2- (2 and up); default all")
      ->type_name("LIST");
  sub->add_option("--threads", args->threads,
                  "Encoding threads, 1 to 256 (default: the CPUs this process may run on)")
      ->transform(kWholeNumber)
      ->check(CLI::Range(1u, kMaxThreads).description(""))
      ->type_name("N");
  sub->add_option("--peaks", args->peaks,
                  "profile: the library's points (default for mzML); centroid: the instrument's "
                  "centroids where a scan has them, else velmoran's peak picking (default for "
                  "MGF); picked: velmoran's peak picking of every profile")
      ->type_name("profile|centroid|picked");
  sub->add_flag("--drop-zeros", args->drop_zeros,
                "Drop zero-intensity profile points, except beside a non-zero point");
  sub->add_option("--rt", args->rt, "Only scans with retention time in A:B seconds (inclusive)")
      ->type_name("A:B");
  sub->add_option("--scans", args->scans, "Only scans numbered A-B (inclusive)")->type_name("A-B");
  sub->add_option("--mz", args->mz, "Only the points in the m/z window A:B (inclusive)")
      ->type_name("A:B");
  sub->add_option("--min-intensity", args->min_intensity,
                  "Drop points below intensity X (after peak picking)")
      ->type_name("X");
  sub->add_option("--top", args->top, "Keep the N most intense points of each spectrum")
      ->type_name("N");
  sub->add_flag("--gzip", args->gzip,
                "gzip the output (implied by an output name ending in .gz); index offsets "
                "count the uncompressed document");
  sub->add_option("--mrm", args->mrm,
                  "MRM runs in mzML: both (default: spectra and one chromatogram per channel), "
                  "chromatograms (scans of MS level 2 and up as chromatograms only), spectra "
                  "(no channel chromatograms)")
      ->check(CLI::IsMember({"both", "chromatograms", "spectra"}).description(""))
      ->type_name("both|chromatograms|spectra");
  add_transitions_option(*sub, args->transitions);
  add_sync_option(*sub, args->sync);
  sub->add_flag("-q,--quiet", args->quiet, "No progress bar and no summary lines");
  sub->footer(
      "Each run's output is written under a temporary name and renamed into place when "
      "complete.\nExit status: 0 every run converted, 1 a run failed (the others are still "
      "converted),\n2 usage error.");
  return {sub, [args] { return run_convert(*args); }};
}

}  // namespace velmoran::cli
