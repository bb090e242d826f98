// The runs that one `velmoran view` serves, in the order of the command
// line: a run's position K names its routes (/api/run/K/...), and run 0
// also answers the routes of a single run (/api/run, /api/scans ...). A
// run that could not be opened keeps its position, with the reason.
#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <velmoran/view/run_api.hpp>

namespace velmoran::view {

struct ServedRun {
  std::string name;  // the run's name, as `velmoran info` gives it
  std::string path;  // as given on the command line
  std::unique_ptr<RunApi> api;
  std::string error;  // why the run could not be opened (api is null)
};

using ServedRuns = std::vector<ServedRun>;

// At most this many runs in one server.
inline constexpr std::size_t kMaxServedRuns = 32;
// The spectrum caches of all the runs together hold at most this much;
// each run's holds at most RunApi::kDefaultCacheBytes.
inline constexpr std::size_t kServerCacheBytes = std::size_t{256} << 20;

// The spectrum cache of each of `runs` runs.
[[nodiscard]] std::size_t run_cache_bytes(std::size_t runs) noexcept;

// The /api/runs answer: [{"run": K, "name", "path", "scans", "error"}]
// ("scans" null and "error" the reason for a run that could not be opened).
[[nodiscard]] std::string runs_json(const ServedRuns& runs);

}  // namespace velmoran::view
