#include <velmoran/view/served_runs.hpp>

#include <algorithm>

#include <velmoran/textio/escape.hpp>

namespace velmoran::view {

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
