#include <velmoran/textio/ranges.hpp>

#include <limits>

#include <velmoran/textio/numbers.hpp>

namespace velmoran::textio {

std::optional<std::pair<double, double>> parse_number_range(std::string_view text) {
  const auto colon = text.find(':');
  if (colon == std::string_view::npos) return std::nullopt;
  const auto low = parse_finite(text.substr(0, colon));
  const auto high = parse_finite(text.substr(colon + 1));
  if (!low || !high || !(*low <= *high)) return std::nullopt;
  return std::pair{*low, *high};
}

std::optional<std::pair<std::uint32_t, std::uint32_t>> parse_whole_range(std::string_view text,
                                                                         OpenHigh open_high) {
  using Whole = std::uint32_t;
  const auto dash = text.find('-');
  const auto low = parse_whole<Whole>(text.substr(0, dash));
  if (!low) return std::nullopt;
  if (dash == std::string_view::npos) return std::pair{*low, *low};
  const std::string_view upper = text.substr(dash + 1);
  if (upper.empty() && open_high == OpenHigh::allowed) {
    return std::pair{*low, std::numeric_limits<Whole>::max()};
  }
  const auto high = parse_whole<Whole>(upper);
  if (!high || *high < *low) return std::nullopt;
  return std::pair{*low, *high};
}

}  // namespace velmoran::textio
