// The runs that one `velmoran view` serves, in the order of the command
// line: a run's position K names its routes (/api/run/K/...), and run 0
// also answers the routes of a single run (/api/run, /api/scans ...). A
// run that could not be opened keeps its position, with the reason.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include <velmoran/mrm/transitions.hpp>
#include <velmoran/reader.hpp>
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
// The scans that the maps of all the runs keep, together (one budget).
inline constexpr std::size_t kServerMapBytes = std::size_t{256} << 20;

// The spectrum cache of each of `runs` runs.
[[nodiscard]] std::size_t run_cache_bytes(std::size_t runs) noexcept;

struct LoadOptions {
  // The transition list of MRM runs (may be null).
  std::shared_ptr<const mrm::TransitionList> transitions;
  // The bytes that the maps of all the runs keep, together.
  std::size_t map_bytes = kServerMapBytes;
  // A warning about a run once opened, or empty (the transition list's
  // channels that it does not carry).
  std::function<std::string(const Reader&)> run_warning;
  // Where the lines for standard error go: OBJECT (a run's path as given),
  // TEXT. Called on the caller's thread, in the order of the runs.
  std::function<void(std::string_view object, std::string_view text)> report;
};

struct LoadedRuns {
  ServedRuns runs;
  // Why nothing was opened: more runs named than kMaxServedRuns (a usage
  // error), or empty.
  std::string usage_error;
  // Whether a run can be served (false: none could be opened).
  [[nodiscard]] bool any() const noexcept;
};

// Opens and loads the runs named by `paths`, as given, on as many threads
// as there are CPUs, each directory once: a run named again (by another
// path too) is a warning and takes no position. A run that cannot be
// opened keeps its position with the reason, which is reported as the
// other commands report a run's error. More than kMaxServedRuns paths
// (counted as given, a run named twice included) open nothing.
[[nodiscard]] LoadedRuns load_runs(const std::vector<std::string>& paths,
                                   const LoadOptions& options);

// The /api/runs answer: [{"run": K, "name", "path", "scans", "error"}]
// ("scans" null and "error" the reason for a run that could not be opened).
[[nodiscard]] std::string runs_json(const ServedRuns& runs);

}  // namespace velmoran::view
