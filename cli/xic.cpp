// velmoran xic: not built yet.
#include "commands.hpp"
#include "status.hpp"

namespace velmoran::cli {

Subcommand add_xic(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("xic", "(not built yet)");
  return {sub, [] { return usage_error("xic: not built yet"); }};
}

}  // namespace velmoran::cli
