// velmoran qc RUN.d [RUN.d ...] [-o FILE] [--format mzqc|tsv|json]
//   [--threads N] [--fail-on-outlier] [--report FILE.html]: the quality
// metrics of each run (mzQC by default), and for a batch the robust
// z-score of each metric and the runs that stand out.
#include <algorithm>
#include <filesystem>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <oneapi/tbb/global_control.h>

#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/qc/batch_table.hpp>
#include <velmoran/qc/file_digest.hpp>
#include <velmoran/qc/metrics.hpp>
#include <velmoran/qc/mzqc.hpp>
#include <velmoran/qc/run_pass.hpp>

#include "commands.hpp"
#include "qc_report.hpp"
#include "run_output.hpp"
#include "status.hpp"
#include "text_options.hpp"

namespace velmoran::cli {

namespace {

namespace fs = std::filesystem;

struct QcOptions {
  std::vector<std::string> runs;
  std::string output;
  std::string format = "mzqc";
  std::string report;
  std::string table;
  unsigned threads = 0;
  bool fail_on_outlier = false;
  bool sync = true;
};

// The metrics and file metadata of one run, or nullopt after reporting
// why it could not be read. A run read to its end with damaged blocks is
// measured, reported, and sets `status` to a failure.
std::optional<qc::RunQuality> measure(const std::string& run, unsigned threads, int& status) {
  const auto reader = open_run(run);
  if (!reader) return std::nullopt;
  auto figures = qc::read_figures_parallel(*reader, threads);
  if (!figures) {
    report_failure(run, figures.error().text());
    return std::nullopt;
  }
  const auto unreadable = std::count_if(figures->begin(), figures->end(),
                                        [](const qc::SpectrumFigures& s) { return s.unreadable; });
  if (unreadable > 0) {
    report_failure(run, std::to_string(unreadable) + " of " + std::to_string(figures->size()) +
                            " spectra could not be read (damaged blocks); the metrics count "
                            "them apart, as " +
                            std::string(qc::kUnreadableSpectra.name));
    status = kExitFailure;
  }
  auto digest = qc::sha256_of_file(reader->path() / "AcqData" / "MSScan.bin");
  if (!digest) {
    report_failure(run, "MSScan.bin: " + digest.error().text());
    return std::nullopt;
  }
  std::error_code ec;
  fs::path location = fs::absolute(reader->path(), ec).lexically_normal();
  if (ec) location = reader->path();
  // A directory given with a trailing slash ends in an empty name.
  if (location.has_relative_path() && location.filename().empty()) {
    location = location.parent_path();
  }
  return qc::RunQuality{reader->name(), location, std::move(digest).value(),
                        qc::run_metrics(*figures)};
}

int write_text(const fs::path& target, const std::string& text, bool sync) {
  return write_output(
      target, [&](textio::OutputFile& out) { return out.write(text); }, sync);
}

int run_qc(const QcOptions& options) {
  const bool mzqc = options.format == "mzqc";
  if (!options.report.empty() && !report_available()) {
    report_failure("--report", report_unavailable_reason());
    return kExitFailure;
  }
  // Where each output goes, decided (and checked) before any run is read.
  std::vector<fs::path> targets;
  if (mzqc && options.output.empty()) {
    std::map<std::string, std::string> stems;
    for (const std::string& run : options.runs) {
      const std::string stem = output_stem(run);
      if (const auto [it, fresh] = stems.emplace(stem, run); !fresh) {
        return usage_error("runs " + it->second + " and " + run + " would both be written to " +
                           stem + ".mzQC; give one file with -o");
      }
      targets.emplace_back(stem + ".mzQC");
    }
  } else {
    targets.emplace_back(options.output.empty() ? fs::path("-") : fs::path(options.output));
  }

  std::optional<tbb::global_control> parallelism;
  if (options.threads != 0) {
    parallelism.emplace(tbb::global_control::max_allowed_parallelism,
                        pipeline::thread_count(options.threads));
  }

  int status = kExitSuccess;
  std::vector<qc::RunQuality> runs;
  const std::string date = qc::creation_date();
  for (std::size_t i = 0; i < options.runs.size(); ++i) {
    auto run = measure(options.runs[i], options.threads, status);
    if (!run) {
      status = kExitFailure;
      continue;
    }
    if (mzqc && options.output.empty()) {
      // One file per run, written as soon as the run is measured.
      const std::string text = qc::mzqc_document({&*run, 1}, run->name, date, VELMORAN_VERSION);
      if (write_text(targets[i], text, options.sync) != kExitSuccess) status = kExitFailure;
    }
    runs.push_back(std::move(*run));
  }
  if (runs.empty()) return status;

  const std::vector<qc::BatchRow> rows = qc::batch_rows(runs);
  // The batch is named for its file (-o batch.mzQC), else "batch".
  const std::string named = fs::path(options.output).stem().string();
  const std::string batch = named.empty() || options.output == "-" ? "batch" : named;
  if (!mzqc || !options.output.empty()) {
    std::string text;
    if (mzqc) {
      text = qc::mzqc_document(runs, batch, date, VELMORAN_VERSION);
    } else {
      text = options.format == "tsv" ? qc::batch_tsv(rows, runs) : qc::batch_json(rows, runs);
    }
    if (write_text(targets.front(), text, options.sync) != kExitSuccess) status = kExitFailure;
  }
  if (!options.table.empty()) {
    const int written = write_text(options.table, qc::batch_tsv(rows, runs), options.sync);
    if (written != kExitSuccess) status = kExitFailure;
  }
  if (!options.report.empty()) {
    const int written = write_text(options.report, report_html(batch, runs, rows), options.sync);
    if (written != kExitSuccess) status = kExitFailure;
  }

  const std::vector<std::string> outliers = qc::outlier_lines(rows, runs);
  for (const std::string& line : outliers) report_failure("outlier", line);
  if (status == kExitSuccess && !outliers.empty() && options.fail_on_outlier) {
    return kExitOutlier;
  }
  return status;
}

}  // namespace

Subcommand add_qc(CLI::App& app) {
  auto options = std::make_shared<QcOptions>();
  CLI::App* sub = app.add_subcommand(
      "qc", "Quality metrics of each run (mzQC), and the runs that stand out in a batch");
  sub->footer(
      "Metrics are PSI-MS quality-metric terms (see " VELMORAN_DOC_DIR
      "/qc.md). With several runs, every\n"
      "metric element whose robust z-score against the batch exceeds 3.5 in magnitude is\n"
      "reported on standard error, one line per run and metric.\n\n"
      "Exit status: 0 done (outliers are findings, not errors), 1 a run or an output failed,\n"
      "2 usage error, 3 an outlier was found with --fail-on-outlier.");
  sub->add_option("runs", options->runs, "The runs: .d directories")
      ->required()
      ->type_name("RUN.d");
  sub->add_option("-o,--output", options->output,
                  "mzqc: one file for all the runs (default: <name>.mzQC here, one per run); "
                  "tsv, json: the table (default: standard output); - is standard output")
      ->type_name("FILE");
  sub->add_option("--format", options->format,
                  "mzqc (the default), or tsv or json: one row per run, metric and element "
                  "with its robust z-score against the batch")
      ->type_name("FORMAT")
      ->check(CLI::IsMember({"mzqc", "tsv", "json"}))
      ->capture_default_str();
  sub->add_option("--threads", options->threads,
                  "Threads for reading each run, 1 to 256 (default: the CPUs this process may "
                  "run on)")
      ->transform(kWholeNumber)
      ->check(CLI::Range(1u, kMaxThreads).description(""))
      ->type_name("N");
  sub->add_flag("--fail-on-outlier", options->fail_on_outlier,
                "Exit with status 3 when the batch has an outlier");
  sub->add_option("--table", options->table,
                  "Also write the table of --format tsv to FILE (beside an mzQC file)")
      ->type_name("FILE");
  sub->add_option("--report", options->report,
                  "Also write the batch's report: one HTML file that opens offline")
      ->type_name("FILE.html");
  add_sync_option(*sub, options->sync);
  return {sub, [options] { return run_qc(*options); }};
}

}  // namespace velmoran::cli
