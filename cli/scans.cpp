// velmoran scans: not built yet.
#include "commands.hpp"
#include "status.hpp"

namespace velmoran::cli {

Subcommand add_scans(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("scans", "(not built yet)");
  return {sub, [] { return usage_error("scans: not built yet"); }};
}

}  // namespace velmoran::cli
