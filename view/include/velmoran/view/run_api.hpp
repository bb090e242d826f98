// What the viewer's JSON API answers, apart from HTTP: each route renders
// with the same library function as the matching command, so the two
// cannot drift apart.
//   /api/run             velmoran info --json
//   /api/scans           velmoran scans --format json
//   /api/spectrum/INDEX  one spectrum's points
//   /api/xic?mz=M...     velmoran xic --ppm P (or --da D) --format json
//   /api/chromatograms   velmoran chromatograms --format json
//   /api/map?...         the run as an RT × m/z grid of float32 (map_route.cpp)
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <utility>
#include <vector>

#include <velmoran/inspect/run_map.hpp>
#include <velmoran/mrm/transitions.hpp>
#include <velmoran/reader.hpp>
#include <velmoran/result.hpp>

namespace velmoran::view {

class SpectrumCache;

// An HTTP status and a JSON body; a failure's body is {"error": "..."}.
// A route that answers otherwise (binary data) names its content type and
// may add headers of its own.
struct Reply {
  int status = 200;
  std::shared_ptr<const std::string> body;
  // Another body than JSON (the map's grid), and headers of its own.
  std::string_view content_type = "application/json";
  std::vector<std::pair<std::string, std::string>> headers = {};
};

// The query parameters of a request, in order, names and values decoded.
using QueryParams = std::vector<std::pair<std::string, std::string>>;

class RunApi {
 public:
  // At most this many m/z values in one /api/xic request.
  static constexpr std::size_t kMaxXicTargets = 100;
  // The rendered spectra kept between requests.
  static constexpr std::size_t kDefaultCacheBytes = std::size_t{64} << 20;

  // Takes the run and renders its overview and scan table (a pass over its
  // spectra each), which are then answered from memory.
  // `transitions` (may be null) names the channels of an MRM run, whose
  // channel chromatograms are rendered at load too.
  // `map_budget` (null: one of its own, RunMap::kDefaultCacheBytes) holds
  // the map's kept scans, shared with the other runs' maps.
  [[nodiscard]] static Result<std::unique_ptr<RunApi>> load(
      Reader reader, std::size_t cache_bytes = kDefaultCacheBytes,
      std::shared_ptr<const mrm::TransitionList> transitions = nullptr,
      std::shared_ptr<inspect::MapBudget> map_budget = nullptr);

  RunApi(const RunApi&) = delete;
  RunApi& operator=(const RunApi&) = delete;
  ~RunApi();

  [[nodiscard]] const Reader& reader() const noexcept { return reader_; }

  [[nodiscard]] Reply run() const { return {200, run_json_}; }
  [[nodiscard]] Reply scans() const { return {200, scans_json_}; }
  // An empty array for a run without channels.
  [[nodiscard]] Reply chromatograms() const { return {200, chromatograms_json_}; }
  // `index_text` as it came in the path: 400 unless decimal digits, 404
  // past the last scan, 500 when the scan's blocks cannot be read
  // (unreadable_spectrum_json).
  [[nodiscard]] Reply spectrum(std::string_view index_text) const;
  // mz (repeated), ppm or da (one of them) and ms_level (default 1);
  // "token" is ignored.
  [[nodiscard]] Reply xic(const QueryParams& params) const;

  // The map's grid (inspect::RunMap): rt, mz, width, height, ms_level; a
  // little-endian float32 body and the grid's bounds in X-Velmoran-Map-*
  // headers. At most kMaxMapSide columns or rows, kMaxMapCells cells.
  static constexpr std::uint32_t kMaxMapSide = 4096;
  static constexpr std::uint64_t kMaxMapCells = 4'194'304;
  [[nodiscard]] Reply map(const QueryParams& params) const;
  // Starts reading the scans of the map's first level (the survey scans)
  // on a thread of its own, so that the page's first map bins from memory;
  // once, later calls do nothing. The destructor stops it.
  void prepare_map() const;

 private:
  RunApi(Reader reader, std::size_t cache_bytes, std::shared_ptr<inspect::MapBudget> map_budget);

  Reader reader_;
  std::shared_ptr<const std::string> run_json_;
  std::shared_ptr<const std::string> scans_json_;
  std::shared_ptr<const std::string> chromatograms_json_;
  std::unique_ptr<SpectrumCache> cache_;
  std::unique_ptr<inspect::RunMap> map_;
  mutable std::once_flag map_prepared_;
  // Last: joined before the members it uses go.
  mutable std::jthread map_preparation_;
};

// {"error": MESSAGE} with `status`.
[[nodiscard]] Reply error_reply(int status, std::string_view message);

// The ms_level parameter's `value` into `level`; an error reply unless it
// is one whole number, given once (`given` says whether it came before).
[[nodiscard]] std::optional<Reply> take_ms_level(std::string_view value, bool& given,
                                                 std::uint32_t& level);

}  // namespace velmoran::view
