// velmoran scans RUN.d [--format tsv|csv|json] [-o FILE]: one row per scan
// with its total ion current and base peak.
#include <memory>
#include <string>

#include <velmoran/inspect/scan_table.hpp>

#include "commands.hpp"
#include "run_output.hpp"
#include "status.hpp"
#include "text_options.hpp"

namespace velmoran::cli {

namespace {

struct ScansOptions {
  std::string run;
  std::string format = "tsv";
  std::string output = "-";
  bool sync = true;
};

int run_scans(const ScansOptions& options) {
  const auto format = inspect::parse_text_format(options.format);
  if (!format)
    return usage_error("--format: tsv, csv or json, not " + textio::quoted_value(options.format));
  const auto reader = open_run(options.run);
  if (!reader) return kExitFailure;
  return write_output(
      options.output,
      [&](textio::OutputFile& out) { return inspect::write_scan_table(*reader, *format, out); },
      options.sync);
}

}  // namespace

Subcommand add_scans(CLI::App& app) {
  auto options = std::make_shared<ScansOptions>();
  CLI::App* sub = app.add_subcommand(
      "scans", "One row per scan: time, points, total ion current, base peak, precursor");
  sub->footer(
      "Columns: index, scan_id, native_id, mzml_id, ms_level, rt_sec, representation, points,\n"
      "tic, base_peak_mz, base_peak_intensity, precursor_mz, mrm_channel; an empty cell (JSON\n"
      "null) where a value is absent. A spectrum without points has tic and\n"
      "base_peak_intensity 0 and no representation or base_peak_mz.\n"
      "See " VELMORAN_DOC_DIR
      "/cli.md.\n\n"
      "Exit status: 0 done, 1 a run failed, 2 usage error.");
  sub->add_option("run", options->run, "The run: a .d directory")->required()->type_name("RUN.d");
  add_table_options(*sub, options->format, options->output, options->sync);
  return {sub, [options] { return run_scans(*options); }};
}

}  // namespace velmoran::cli
