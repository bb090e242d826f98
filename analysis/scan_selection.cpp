#include <velmoran/analysis/scan_selection.hpp>

#include <algorithm>

namespace velmoran::analysis {

bool ScanSelection::accepts(std::uint32_t ms_level, std::uint32_t scan_id,
                            double time_sec) const noexcept {
  if (levels && std::none_of(levels->begin(), levels->end(), [ms_level](const LevelRange& r) {
        return ms_level >= r.first && ms_level <= r.second;
      })) {
    return false;
  }
  if (scan_numbers && (scan_id < scan_numbers->first || scan_id > scan_numbers->second)) {
    return false;
  }
  // NaN compares false both ways and is never selected.
  return !retention_time_sec ||
         (time_sec >= retention_time_sec->first && time_sec <= retention_time_sec->second);
}

bool ScanSelection::accepts(const raw::ScanRecord& scan) const noexcept {
  return accepts(scan.ms_level, scan.scan_id, raw::retention_time_sec(scan));
}

ScanSelection level_selection(std::uint32_t ms_level,
                              std::optional<std::pair<double, double>> retention_time_sec) {
  ScanSelection selection;
  selection.levels = std::vector<LevelRange>{{ms_level, ms_level}};
  selection.retention_time_sec = retention_time_sec;
  return selection;
}

std::vector<std::size_t> select_positions(const raw::MSScan& table,
                                          const ScanSelection& selection) {
  std::vector<std::size_t> positions;
  for (std::size_t i = 0; i < table.records.size(); ++i) {
    if (selection.accepts(table.records[i])) positions.push_back(i);
  }
  return positions;
}

}  // namespace velmoran::analysis
