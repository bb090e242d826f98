#include "run_routes.hpp"

#include <algorithm>
#include <array>

namespace velmoran::view {

namespace {

// One row per route; a new route of every run is one more row.
constexpr std::array kRoutes{
    RunRoute{"info", "/api/run", false, false,
             [](const RunApi& api, const RunRequest&) { return api.run(); }},
    RunRoute{"scans", "/api/scans", false, false,
             [](const RunApi& api, const RunRequest&) { return api.scans(); }},
    RunRoute{"spectrum", "/api/spectrum", true, false,
             [](const RunApi& api, const RunRequest& request) {
               return api.spectrum(request.argument);
             }},
    RunRoute{"xic", "/api/xic", false, true,
             [](const RunApi& api, const RunRequest& request) { return api.xic(request.query); }},
    RunRoute{"chromatograms", "/api/chromatograms", false, false,
             [](const RunApi& api, const RunRequest&) { return api.chromatograms(); }},
    RunRoute{"map", "/api/map", false, true,
             [](const RunApi& api, const RunRequest& request) { return api.map(request.query); }},
};

constexpr std::string_view kRunPrefix = "/api/run/";

}  // namespace

std::span<const RunRoute> run_routes() noexcept { return kRoutes; }

bool heavy_path(std::string_view path) noexcept {
  // /api/run/K/NAME: whatever K is, the route decides (a bad K is answered
  // at once, by whichever worker).
  std::string_view name;
  if (path.starts_with(kRunPrefix)) {
    path.remove_prefix(kRunPrefix.size());
    const auto slash = path.find('/');
    if (slash == std::string_view::npos) return false;
    name = path.substr(slash + 1);
  }
  return std::any_of(kRoutes.begin(), kRoutes.end(), [&](const RunRoute& route) {
    if (!route.heavy || route.takes_argument) return false;
    return name.empty() ? path == route.single_path : name == route.name;
  });
}

}  // namespace velmoran::view
