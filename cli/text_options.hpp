// CLI11 validators that read an option's value by textio's rules, so an
// option and a cell of a file accept the same numbers. CLI11 reports a
// failure as "OPTION: MESSAGE", a usage error.
#pragma once

#include <string>

#include <CLI/CLI.hpp>
#include <velmoran/textio/numbers.hpp>
#include <velmoran/textio/quoted_value.hpp>

namespace velmoran::cli {

// A whole number >= 0, handed on to CLI11 in plain decimal: CLI11's own
// conversion would also take "0x10", "0b11" and "1'000".
inline const CLI::Validator kWholeNumber(
    [](std::string& text) -> std::string {
      const auto value = textio::parse_whole<std::uint64_t>(text);
      if (!value) return "not a whole number: " + textio::quoted_value(text);
      text = std::to_string(*value);
      return {};
    },
    "", "");

// A validator that accepts what `parse` reads, else says "MESSAGE: \"TEXT\"".
template <class Parse>
[[nodiscard]] CLI::Validator parsed_by(Parse parse, std::string message) {
  return CLI::Validator(
      [parse, message = std::move(message)](std::string& text) -> std::string {
        if (parse(text)) return {};
        return message + ": " + textio::quoted_value(text);
      },
      "", "");
}

}  // namespace velmoran::cli
