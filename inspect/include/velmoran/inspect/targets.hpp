// The m/z targets of an extracted ion chromatogram, from the command line
// or a targets file.
//
// A targets file holds one m/z per line, or is CSV whose first record is
// the header "name,mz" (any case) and whose records give a name and an
// m/z, in the dialect of textio/records.hpp (docs/cli.md, "Text you
// give"). An m/z is a positive number of textio/numbers.hpp.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <velmoran/result.hpp>

namespace velmoran::inspect {

struct Target {
  // The name from the file, or the m/z text as given.
  std::string name;
  double mz = 0.0;
};

// A positive finite m/z; nullopt otherwise.
[[nodiscard]] std::optional<double> parse_mz(std::string_view text);

// A tolerance in ppm: a finite number in (0, 1e6] (beyond a million ppm a
// window would reach below zero); nullopt otherwise.
[[nodiscard]] std::optional<double> parse_ppm(std::string_view text);

// A tolerance in m/z units: a positive finite number; nullopt otherwise.
[[nodiscard]] std::optional<double> parse_da(std::string_view text);

// Parses the content of a targets file. A Parse error's detail names the
// file (`file_name`) and the line: "targets.csv:3: not an m/z: \"abc\"".
[[nodiscard]] Result<std::vector<Target>> parse_targets(std::string_view text,
                                                        std::string_view file_name);

// Reads and parses a targets file of at most kMaxTargetsBytes (a million
// targets with long names fit); every error is a Parse error whose text
// names the file.
inline constexpr std::uint64_t kMaxTargetsBytes = std::uint64_t{256} << 20;
[[nodiscard]] Result<std::vector<Target>> read_targets(const std::filesystem::path& file);

}  // namespace velmoran::inspect
