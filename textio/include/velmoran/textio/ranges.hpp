// Ranges as users type them, both ends included and the low end first
// (low <= high, so "A:A" is the one value A), each end a number of
// numbers.hpp:
//
// - "A:B", real numbers (seconds, m/z): both ends are required;
// - "A-B", whole numbers (scan numbers, MS levels): "A" alone is A-A, and
//   where the caller allows it "A-" reaches the type's largest value.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <utility>

namespace velmoran::textio {

[[nodiscard]] std::optional<std::pair<double, double>> parse_number_range(std::string_view text);

enum class OpenHigh { refused, allowed };

[[nodiscard]] std::optional<std::pair<std::uint32_t, std::uint32_t>> parse_whole_range(
    std::string_view text, OpenHigh open_high = OpenHigh::refused);

}  // namespace velmoran::textio
