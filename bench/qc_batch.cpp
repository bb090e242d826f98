// The batch step of velmoran qc after the runs were measured: one run's
// metrics taken 100 times (a batch of 100 runs), then the batch table with
// its robust z-scores, the batch mzQC, the TSV and the report built from
// them, each timed.
//
//   qc_batch RUN.d [RUNS=100]
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include <velmoran/qc/batch_table.hpp>
#include <velmoran/qc/metrics.hpp>
#include <velmoran/qc/mzqc.hpp>
#include <velmoran/qc/run_pass.hpp>
#include <velmoran/reader.hpp>

#include "../cli/qc_report.hpp"

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: qc_batch RUN.d [RUNS=100]\n");
    return 2;
  }
  const std::size_t count = argc > 2 ? std::strtoul(argv[2], nullptr, 10) : 100;
  auto reader = velmoran::Reader::open(argv[1]);
  if (!reader) return 1;
  auto figures = velmoran::qc::read_figures_parallel(*reader, 0);
  if (!figures) return 1;
  std::vector<velmoran::qc::RunQuality> runs;
  for (std::size_t i = 0; i < count; ++i) {
    auto metrics = velmoran::qc::run_metrics(*figures);
    runs.push_back({"run" + std::to_string(i) + ".d", reader->path(), "0", std::move(metrics)});
  }
  using Clock = std::chrono::steady_clock;
  const auto start = Clock::now();
  const auto rows = velmoran::qc::batch_rows(runs);
  const auto scored = Clock::now();
  const std::string mzqc = velmoran::qc::mzqc_document(runs, "batch", "2026-01-01T00:00:00Z", "0");
  const std::string tsv = velmoran::qc::batch_tsv(rows, runs);
  const auto written = Clock::now();
  const std::string html = velmoran::cli::report_html("batch", runs, rows);
  const auto reported = Clock::now();
  const auto ms = [](auto a, auto b) {
    return std::chrono::duration<double, std::milli>(b - a).count();
  };
  std::printf(
      "%zu runs: z-scores %.1f ms, mzQC + TSV %.1f ms (%zu + %zu bytes), report %.1f ms "
      "(%zu bytes); all %.1f ms\n",
      count, ms(start, scored), ms(scored, written), mzqc.size(), tsv.size(), ms(written, reported),
      html.size(), ms(start, reported));
  return 0;
}
