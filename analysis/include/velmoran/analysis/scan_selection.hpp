// Which scans of a run a reading takes: by MS level, retention time and
// scan number. convert's --ms-level, --rt and --scans, the xic command,
// the viewer's XIC, and the Python module's ms_level= and rt= all choose
// with this one type.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include <velmoran/raw/msscan.hpp>

namespace velmoran::analysis {

// An inclusive range of MS levels.
using LevelRange = std::pair<std::uint32_t, std::uint32_t>;

// Each criterion, when absent, lets every scan through; ranges include
// both ends.
struct ScanSelection {
  // The MS levels to keep. An empty list keeps nothing.
  std::optional<std::vector<LevelRange>> levels;
  // Retention times in seconds, as raw::retention_time_sec() gives them;
  // a time that is not a number is in no range.
  std::optional<std::pair<double, double>> retention_time_sec;
  std::optional<std::pair<std::uint32_t, std::uint32_t>> scan_numbers;

  [[nodiscard]] bool accepts(std::uint32_t ms_level, std::uint32_t scan_id,
                             double time_sec) const noexcept;
  [[nodiscard]] bool accepts(const raw::ScanRecord& scan) const noexcept;
};

// The scans of one MS level, within `retention_time_sec` when given.
[[nodiscard]] ScanSelection level_selection(
    std::uint32_t ms_level, std::optional<std::pair<double, double>> retention_time_sec = {});

// The positions of the scans of `table` that `selection` keeps, in order.
[[nodiscard]] std::vector<std::size_t> select_positions(const raw::MSScan& table,
                                                        const ScanSelection& selection);

}  // namespace velmoran::analysis
