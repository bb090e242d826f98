// velmoran info: not built yet.
#include "commands.hpp"
#include "status.hpp"

namespace velmoran::cli {

Subcommand add_info(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("info", "(not built yet)");
  return {sub, [] { return usage_error("info: not built yet"); }};
}

}  // namespace velmoran::cli
