// GET /api/map: the run as an RT × m/z grid (inspect::RunMap), parameters
// checked as /api/xic checks its own.
#include <bit>
#include <cmath>
#include <cstring>
#include <optional>
#include <string>
#include <tuple>

#include <velmoran/analysis/survey_level.hpp>
#include <velmoran/textio/number_text.hpp>
#include <velmoran/textio/numbers.hpp>
#include <velmoran/textio/quoted_value.hpp>
#include <velmoran/textio/ranges.hpp>
#include <velmoran/view/run_api.hpp>

namespace velmoran::view {

namespace {

// "LO:HI", a range of textio's rule that is wide enough for a grid: LO < HI.
std::optional<inspect::MapRange> range_of(std::string_view text) {
  const auto range = textio::parse_number_range(text);
  if (!range || !(range->first < range->second)) return std::nullopt;
  return inspect::MapRange{range->first, range->second};
}

std::string range_text(inspect::MapRange range) {
  return textio::number_text(range.lo) + ":" + textio::number_text(range.hi);
}

}  // namespace

void RunApi::prepare_map() const {
  std::call_once(map_prepared_, [this] {
    // The level the page shows first.
    const std::optional<std::uint32_t> level = analysis::survey_level(reader_.scans());
    if (!level) return;
    // Ahead of time only: short of memory, the first map asked for reads
    // its scans itself (and is answered 500 if it cannot).
    map_preparation_ = std::jthread([map = map_.get(), first = *level] {
      try {
        map->prepare(first);
      } catch (const std::exception&) {
      }
    });
  });
}

Reply RunApi::map(const QueryParams& params) const {
  inspect::MapQuery query;
  bool level_given = false;
  std::optional<std::uint32_t> width;
  std::optional<std::uint32_t> height;
  for (const auto& [name, value] : params) {
    if (name == "rt" || name == "mz") {
      auto& range = name == "rt" ? query.rt : query.mz;
      if (range) return error_reply(400, name + ": given twice");
      range = range_of(value);
      if (!range) {
        return error_reply(400, name + ": not a range LO:HI of finite numbers with LO below HI: " +
                                    textio::quoted_value(value));
      }
    } else if (name == "width" || name == "height") {
      auto& side = name == "width" ? width : height;
      if (side) return error_reply(400, name + ": given twice");
      side = textio::parse_whole<std::uint32_t>(value);
      if (!side || *side == 0 || *side > kMaxMapSide) {
        return error_reply(400, name + ": a whole number from 1 to " + std::to_string(kMaxMapSide) +
                                    ", not " + textio::quoted_value(value));
      }
    } else if (name == "ms_level") {
      if (auto error = take_ms_level(value, level_given, query.ms_level)) return *error;
    } else if (name != "token") {
      return error_reply(400, "unknown parameter " + textio::quoted_value(name) +
                                  " (rt, mz, width, height, ms_level)");
    }
  }
  if (!width || !height) return error_reply(400, "width, height: give the grid's size in cells");
  if (std::uint64_t{*width} * *height > kMaxMapCells) {
    return error_reply(400, "width × height: at most " + std::to_string(kMaxMapCells) + " cells");
  }
  query.width = *width;
  query.height = *height;
  // Every cell's edges are finite: lo + (hi - lo) * k stays a number.
  for (const auto& [name, range, cells] :
       {std::tuple{"rt", query.rt, *width}, std::tuple{"mz", query.mz, *height}}) {
    if (range && !std::isfinite((range->hi - range->lo) * static_cast<double>(cells))) {
      return error_reply(400, std::string(name) + ": the range is too wide to divide");
    }
  }

  const inspect::MapGrid grid = map_->bin(query);
  auto body = std::make_shared<std::string>(grid.cells.size() * sizeof(float), '\0');
  if constexpr (std::endian::native == std::endian::little) {
    std::memcpy(body->data(), grid.cells.data(), body->size());
  } else {
    for (std::size_t i = 0; i < grid.cells.size(); ++i) {
      const auto bits = std::bit_cast<std::uint32_t>(grid.cells[i]);
      for (std::size_t b = 0; b < 4; ++b) {
        (*body)[4 * i + b] = static_cast<char>((bits >> (8 * b)) & 0xFFU);
      }
    }
  }
  float highest = 0.0F;
  for (const float value : grid.cells) highest = value > highest ? value : highest;
  Reply reply{200, std::move(body)};
  reply.content_type = "application/octet-stream";
  reply.headers = {
      {"X-Velmoran-Map-Rt", range_text(grid.rt)},
      {"X-Velmoran-Map-Mz", range_text(grid.mz)},
      {"X-Velmoran-Map-Width", std::to_string(grid.width)},
      {"X-Velmoran-Map-Height", std::to_string(grid.height)},
      {"X-Velmoran-Map-Ms-Level", std::to_string(query.ms_level)},
      {"X-Velmoran-Map-Scans", std::to_string(grid.scans)},
      {"X-Velmoran-Map-Points", std::to_string(grid.points)},
      {"X-Velmoran-Map-Highest", textio::number_text(highest)},
  };
  return reply;
}

}  // namespace velmoran::view
