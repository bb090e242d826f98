#include <velmoran/view/served_runs.hpp>

#include <algorithm>
#include <atomic>
#include <filesystem>
#include <system_error>
#include <thread>

#include <velmoran/analysis/thread_count.hpp>
#include <velmoran/inspect/run_map.hpp>
#include <velmoran/textio/escape.hpp>

namespace velmoran::view {

namespace {

// The runs as given, each once: a directory named again (by another path
// too) is served at its first position only, with a warning.
std::vector<std::string> distinct_runs(const std::vector<std::string>& given,
                                       const LoadOptions& options) {
  std::vector<std::string> runs;
  for (const std::string& path : given) {
    const auto first = std::find_if(runs.begin(), runs.end(), [&](const std::string& earlier) {
      std::error_code error;
      return earlier == path || std::filesystem::equivalent(earlier, path, error);
    });
    if (first == runs.end()) {
      runs.push_back(path);
    } else if (options.report) {
      options.report(path, "warning: the same run as run " + std::to_string(first - runs.begin()) +
                               " (" + *first + "), served once");
    }
  }
  return runs;
}

}  // namespace

bool LoadedRuns::any() const noexcept {
  return std::any_of(runs.begin(), runs.end(),
                     [](const ServedRun& run) { return run.api != nullptr; });
}

LoadedRuns load_runs(const std::vector<std::string>& given, const LoadOptions& options) {
  LoadedRuns loaded;
  if (given.size() > kMaxServedRuns) {
    loaded.usage_error = "at most " + std::to_string(kMaxServedRuns) + " runs at once, " +
                         std::to_string(given.size()) + " given";
    return loaded;
  }
  const std::vector<std::string> paths = distinct_runs(given, options);
  ServedRuns& runs = loaded.runs;
  runs.resize(paths.size());
  std::vector<std::string> warnings(paths.size());
  const std::size_t cache = run_cache_bytes(paths.size());
  const auto map_budget = std::make_shared<inspect::MapBudget>(options.map_bytes);
  std::atomic<std::size_t> next{0};
  const auto work = [&] {
    for (std::size_t k = next++; k < paths.size(); k = next++) {
      ServedRun& run = runs[k];
      run.path = paths[k];
      run.name = Reader::name_of(paths[k]);
      auto reader = Reader::open(paths[k]);
      if (!reader) {
        run.error = reader.error().text();
        continue;
      }
      if (options.run_warning) warnings[k] = options.run_warning(*reader);
      auto api = RunApi::load(std::move(reader).value(), cache, options.transitions, map_budget);
      if (api) {
        run.api = std::move(api).value();
      } else {
        run.error = api.error().text();
      }
    }
  };
  const std::size_t threads = std::min<std::size_t>(paths.size(), analysis::default_threads());
  std::vector<std::thread> pool;
  for (std::size_t t = 1; t < threads; ++t) {
    // A thread that cannot start (its stack past `ulimit -v`) leaves its
    // share to the others.
    try {
      pool.emplace_back(work);
    } catch (const std::system_error&) {
      break;
    }
  }
  work();
  for (std::thread& thread : pool) thread.join();
  // Messages in the order of the runs, whichever thread loaded them.
  for (std::size_t k = 0; k < runs.size() && options.report; ++k) {
    if (!warnings[k].empty()) options.report(paths[k], warnings[k]);
    if (!runs[k].error.empty()) options.report(paths[k], runs[k].error);
  }
  return loaded;
}

std::size_t run_cache_bytes(std::size_t runs) noexcept {
  return std::min(RunApi::kDefaultCacheBytes, kServerCacheBytes / std::max<std::size_t>(1, runs));
}

std::string runs_json(const ServedRuns& runs) {
  std::string out = "[";
  for (std::size_t k = 0; k < runs.size(); ++k) {
    const ServedRun& run = runs[k];
    if (k > 0) out += ",";
    out += "\n{\"run\":" + std::to_string(k) + ",\"name\":";
    textio::append_json_string(out, run.name);
    out += ",\"path\":";
    textio::append_json_string(out, run.path);
    out += ",\"scans\":";
    out += run.api ? std::to_string(run.api->reader().scans().records.size()) : "null";
    out += ",\"error\":";
    if (run.api) {
      out += "null";
    } else {
      textio::append_json_string(out, run.error);
    }
    out += "}";
  }
  out += "\n]\n";
  return out;
}

}  // namespace velmoran::view
