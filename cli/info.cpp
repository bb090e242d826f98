// velmoran info RUN.d [--json]: what is in a run, as aligned text or one
// JSON object.
#include <memory>
#include <string>

#include <velmoran/inspect/run_info.hpp>

#include "commands.hpp"
#include "run_output.hpp"
#include "status.hpp"
#include "transitions_option.hpp"

namespace velmoran::cli {

namespace {

struct InfoOptions {
  std::string run;
  bool json = false;
  std::string transitions;
};

int run_info_command(const InfoOptions& options) {
  const LoadedTransitions transitions = load_transitions(options.transitions);
  if (!transitions.ok) return kExitUsage;
  const auto reader = open_run(options.run);
  if (!reader) return kExitFailure;
  inspect::RunInfo info = inspect::run_info(*reader);
  if (transitions.list) {
    warn_unmatched_transitions(*reader, options.transitions, *transitions.list);
    info.channels = inspect::channel_summaries(reader->scans(), &*transitions.list);
  }
  const std::string text = options.json ? inspect::info_json(info) : inspect::info_text(info);
  return write_output("-", [&](textio::OutputFile& out) { return out.write(text); });
}

}  // namespace

Subcommand add_info(CLI::App& app) {
  auto options = std::make_shared<InfoOptions>();
  CLI::App* sub = app.add_subcommand(
      "info", "What is in a run: scans by MS level, kinds of spectra, points, ranges, file sizes");
  sub->add_option("run", options->run, "The run: a .d directory")->required()->type_name("RUN.d");
  sub->add_flag("--json", options->json, "One JSON object instead of aligned text");
  add_transitions_option(*sub, options->transitions);
  return {sub, [options] { return run_info_command(*options); }};
}

}  // namespace velmoran::cli
