#include <velmoran/textio/numbers.hpp>

#include <cmath>

namespace velmoran::textio {

std::optional<double> parse_finite(std::string_view text) {
  const auto digits = without_plus(text);
  if (!digits || digits->empty()) return std::nullopt;
  double value = 0.0;
  const char* const end = digits->data() + digits->size();
  const auto [stop, ec] = std::from_chars(digits->data(), end, value);
  if (ec != std::errc{} || stop != end || !std::isfinite(value)) return std::nullopt;
  return value;
}

std::optional<double> parse_positive(std::string_view text) {
  const auto value = parse_finite(text);
  if (!value || !(*value > 0.0)) return std::nullopt;
  return value;
}

}  // namespace velmoran::textio
