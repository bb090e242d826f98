// The routes that every run of the server answers, as a table: each is
// served under /api/run/K/NAME (K the run's position, from 0) and, for
// run 0, at the route of a single run. A route is a row here, and its
// paths are read in one place (find_run_route): server.cpp answers them
// and request_head.cpp sends the heavy ones to their own workers.
#pragma once

#include <optional>
#include <span>
#include <string_view>

#include <velmoran/view/run_api.hpp>

namespace velmoran::view {

// What a route's handler gets besides the run.
struct RunRequest {
  // The path segment after NAME/ for a route that takes one (a scan index).
  std::string_view argument;
  // The query's parameters, repeated ones kept.
  const QueryParams& query;
};

using RunHandler = Reply (*)(const RunApi& api, const RunRequest& request);

struct RunRoute {
  std::string_view name;         // /api/run/K/NAME
  std::string_view single_path;  // the same for run 0: /api/run, /api/scans ...
  bool takes_argument;           // NAME/ARGUMENT
  bool heavy;                    // answered by the workers of heavy requests
  RunHandler answer;
};

[[nodiscard]] std::span<const RunRoute> run_routes() noexcept;

// A decoded path that names a route of the table.
struct RoutedPath {
  const RunRoute* route;
  std::string_view run;       // K of /api/run/K/NAME, as written; "0" for a single run's path
  std::string_view argument;  // for a route that takes one
};

// The route that `path` names, or nullopt (404).
[[nodiscard]] std::optional<RoutedPath> find_run_route(std::string_view path) noexcept;

// Whether a request for this path (decoded) goes to the heavy workers.
[[nodiscard]] bool heavy_path(std::string_view path) noexcept;

}  // namespace velmoran::view
