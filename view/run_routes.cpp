#include "run_routes.hpp"

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

std::optional<RoutedPath> find_run_route(std::string_view path) noexcept {
  // /api/run/K/NAME[/ARGUMENT], or for run 0 the route's own path.
  std::string_view run = "0";
  bool single = true;
  if (path.starts_with(kRunPrefix)) {
    path.remove_prefix(kRunPrefix.size());
    const auto slash = path.find('/');
    if (slash == 0 || slash == std::string_view::npos) return std::nullopt;
    run = path.substr(0, slash);
    path.remove_prefix(slash + 1);
    single = false;
  }
  for (const RunRoute& route : kRoutes) {
    const std::string_view name = single ? route.single_path : route.name;
    if (!path.starts_with(name)) continue;
    const std::string_view rest = path.substr(name.size());
    if (!route.takes_argument && rest.empty()) return RoutedPath{&route, run, {}};
    if (route.takes_argument && rest.starts_with('/') &&
        rest.find('/', 1) == std::string_view::npos) {
      return RoutedPath{&route, run, rest.substr(1)};
    }
  }
  return std::nullopt;
}

bool heavy_path(std::string_view path) noexcept {
  // Whatever K is: a bad K is answered at once, by whichever worker.
  const auto routed = find_run_route(path);
  return routed && routed->route->heavy;
}

}  // namespace velmoran::view
