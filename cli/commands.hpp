// The subcommands of the velmoran program. Each registers its options on
// the application and returns the action that runs it once the command line
// has been parsed; the action returns the exit status.
#pragma once

#include <functional>

#include <CLI/CLI.hpp>

namespace velmoran::cli {

struct Subcommand {
  CLI::App* app = nullptr;
  // Runs the parsed subcommand and returns the exit status.
  std::function<int()> run;
};

[[nodiscard]] Subcommand add_convert(CLI::App& app);
[[nodiscard]] Subcommand add_info(CLI::App& app);
[[nodiscard]] Subcommand add_scans(CLI::App& app);
[[nodiscard]] Subcommand add_xic(CLI::App& app);
[[nodiscard]] Subcommand add_view(CLI::App& app);
[[nodiscard]] Subcommand add_qc(CLI::App& app);
[[nodiscard]] Subcommand add_chromatograms(CLI::App& app);

}  // namespace velmoran::cli
