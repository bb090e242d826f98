// velmoran chromatograms RUN.d [--channel K ...] [--transitions FILE]
// [--format tsv|csv|json] [-o FILE]: an MRM run's channel chromatograms,
// one row per channel and scan.
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include <velmoran/inspect/channels.hpp>
#include <velmoran/mrm/channel_chromatograms.hpp>
#include <velmoran/pipeline/spectrum_pipeline.hpp>

#include "commands.hpp"
#include "run_output.hpp"
#include "status.hpp"
#include "text_options.hpp"
#include "transitions_option.hpp"

namespace velmoran::cli {

namespace {

struct ChromatogramsOptions {
  std::string run;
  std::vector<std::uint32_t> channels;
  std::string transitions;
  std::string format = "tsv";
  std::string output = "-";
  bool sync = true;
};

int run_chromatograms(const ChromatogramsOptions& options) {
  const auto format = inspect::parse_text_format(options.format);
  if (!format)
    return usage_error("--format: tsv, csv or json, not " + textio::quoted_value(options.format));
  const LoadedTransitions transitions = load_transitions(options.transitions);
  if (!transitions.ok) return kExitUsage;
  const auto reader = open_run(options.run);
  if (!reader) return kExitFailure;
  if (transitions.list) warn_unmatched_transitions(*reader, options.transitions, *transitions.list);
  if (!options.channels.empty()) {
    const auto carried = mrm::run_channels(reader->scans());
    for (const std::uint32_t channel : options.channels) {
      if (!std::binary_search(carried.begin(), carried.end(), channel)) {
        return usage_error("--channel " + std::to_string(channel) + ": no scan of " + options.run +
                           " carries that channel");
      }
    }
  }
  auto chromatograms = mrm::channel_chromatograms(*reader, pipeline::thread_count(0));
  if (!options.channels.empty()) {
    std::erase_if(chromatograms, [&](const mrm::ChannelChromatogram& c) {
      return std::find(options.channels.begin(), options.channels.end(), c.channel) ==
             options.channels.end();
    });
  }
  const mrm::TransitionList* list = transitions.list ? &*transitions.list : nullptr;
  return write_output(
      options.output,
      [&](textio::OutputFile& out) {
        return inspect::write_channel_chromatograms(chromatograms, list, *format, out);
      },
      options.sync);
}

}  // namespace

Subcommand add_chromatograms(CLI::App& app) {
  auto options = std::make_shared<ChromatogramsOptions>();
  CLI::App* sub = app.add_subcommand(
      "chromatograms", "An MRM run's channel chromatograms: one row per channel and scan");
  sub->footer(
      "Columns: channel, q1, q3, name, index, scan_id, rt_sec, intensity; a channel's points\n"
      "are its scans of MS level 2 and up, the intensity the sum of the scan's spectrum.\n"
      "q1, q3 and name are empty (JSON null) without a transition. See " VELMORAN_DOC_DIR
      "/cli.md.\n\n"
      "Exit status: 0 done, 1 a run failed, 2 usage error.");
  sub->add_option("run", options->run, "The run: a .d directory")->required()->type_name("RUN.d");
  sub->add_option("--channel", options->channels, "Only this channel (repeat for more)")
      ->transform(kWholeNumber)
      ->type_name("K");
  add_transitions_option(*sub, options->transitions);
  add_table_options(*sub, options->format, options->output, options->sync);
  return {sub, [options] { return run_chromatograms(*options); }};
}

}  // namespace velmoran::cli
