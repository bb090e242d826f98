// velmoran xic RUN.d (--mz M [--mz M ...] | --targets FILE) (--ppm P | --da D)
//              [--ms-level L] [--rt A:B] [--format tsv|csv|json] [-o FILE]:
// extracted ion chromatograms in long format, a row per target and scan.
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <velmoran/inspect/targets.hpp>
#include <velmoran/inspect/xic.hpp>
#include <velmoran/textio/numbers.hpp>
#include <velmoran/textio/ranges.hpp>

#include "commands.hpp"
#include "run_output.hpp"
#include "status.hpp"
#include "text_options.hpp"

namespace velmoran::cli {

namespace {

struct XicOptions {
  std::string run;
  std::vector<std::string> mz;
  std::string targets_file;
  std::string ppm;
  std::string da;
  std::uint32_t ms_level = 1;
  std::string rt;
  std::string format = "tsv";
  std::string output = "-";
  bool sync = true;
};

int run_xic(const XicOptions& options) {
  if (options.mz.empty() && options.targets_file.empty()) {
    return usage_error("xic: give the targets with --mz M or --targets FILE");
  }
  if (options.ppm.empty() && options.da.empty()) {
    return usage_error("xic: give the m/z tolerance with --ppm P or --da D");
  }
  const auto format = inspect::parse_text_format(options.format);
  if (!format)
    return usage_error("--format: tsv, csv or json, not " + textio::quoted_value(options.format));

  inspect::XicQuery query;
  if (!options.targets_file.empty()) {
    auto targets = inspect::read_targets(options.targets_file);
    if (!targets) {
      const Error& error = targets.error();
      // The detail names the file (and the line) already.
      return usage_error(error.detail());
    }
    query.targets = std::move(targets).value();
  } else {
    for (const std::string& text : options.mz)
      query.targets.push_back({text, *inspect::parse_mz(text)});
  }
  query.unit = options.ppm.empty() ? inspect::ToleranceUnit::da : inspect::ToleranceUnit::ppm;
  query.tolerance = *textio::parse_finite(options.ppm.empty() ? options.da : options.ppm);
  query.ms_level = options.ms_level;
  if (!options.rt.empty()) query.rt_range = textio::parse_number_range(options.rt);
  if (auto windows = inspect::xic_windows(query); !windows) {
    return usage_error((options.ppm.empty() ? "--da: " : "--ppm: ") + windows.error().detail());
  }

  const auto reader = open_run(options.run);
  if (!reader) return kExitFailure;
  return write_output(
      options.output,
      [&](textio::OutputFile& out) { return inspect::write_xic(*reader, query, *format, out); },
      options.sync);
}

}  // namespace

Subcommand add_xic(CLI::App& app) {
  auto options = std::make_shared<XicOptions>();
  CLI::App* sub = app.add_subcommand(
      "xic", "Extracted ion chromatograms: summed intensity per target and scan");
  sub->footer(
      "For every target and every scan of the MS level within the time range: the sum of\n"
      "the intensities of the points with target - tol <= m/z <= target + tol (tol = target\n"
      "* P / 1e6 with --ppm, D with --da). One row per scan and target: target, mz, rt_sec,\n"
      "scan_id, intensity (0 when nothing is in the window).\n"
      "See " VELMORAN_DOC_DIR
      "/cli.md.\n\n"
      "Exit status: 0 done, 1 a run failed, 2 usage error.");
  sub->add_option("run", options->run, "The run: a .d directory")->required()->type_name("RUN.d");
  // One value per --mz, so that a run named after it is not taken for one.
  auto* mz = sub->add_option("--mz", options->mz, "Target m/z (repeat for more targets)")
                 ->check(parsed_by(inspect::parse_mz, "not an m/z (a positive number)"))
                 ->allow_extra_args(false)
                 ->type_name("M");
  auto* targets =
      sub->add_option("--targets", options->targets_file,
                      "File of targets: one m/z per line, or CSV with the header name,mz")
          ->type_name("FILE");
  mz->excludes(targets);
  auto* ppm = sub->add_option("--ppm", options->ppm, "Tolerance in ppm of the target m/z")
                  ->check(parsed_by(inspect::parse_ppm,
                                    "not a tolerance in ppm (a number above 0, at most 1e6)"))
                  ->type_name("P");
  auto* da = sub->add_option("--da", options->da, "Tolerance in m/z units (Da)")
                 ->check(parsed_by(inspect::parse_da, "not a positive finite number"))
                 ->type_name("D");
  ppm->excludes(da);
  sub->add_option("--ms-level", options->ms_level, "MS level of the scans to use")
      ->transform(kWholeNumber)
      ->check(CLI::PositiveNumber)
      ->type_name("L")
      ->capture_default_str();
  sub->add_option("--rt", options->rt,
                  "Only scans whose retention time (seconds) lies in [A, B], A <= B")
      ->check(parsed_by(textio::parse_number_range, "not a time range A:B in seconds with A <= B"))
      ->type_name("A:B");
  add_table_options(*sub, options->format, options->output, options->sync);
  return {sub, [options] { return run_xic(*options); }};
}

}  // namespace velmoran::cli
