// velmoran convert: not built yet.
#include "commands.hpp"
#include "status.hpp"

namespace velmoran::cli {

Subcommand add_convert(CLI::App& app) {
  CLI::App* sub = app.add_subcommand("convert", "(not built yet)");
  return {sub, [] { return usage_error("convert: not built yet"); }};
}

}  // namespace velmoran::cli
