#include "selection.hpp"

#include <algorithm>

namespace velmoran::python {

std::vector<std::size_t> select_positions(const raw::MSScan& table, const Selection& selection) {
  std::vector<std::size_t> positions;
  positions.reserve(table.records.size());
  for (std::size_t i = 0; i < table.records.size(); ++i) {
    const raw::ScanRecord& scan = table.records[i];
    if (selection.levels && std::find(selection.levels->begin(), selection.levels->end(),
                                      scan.ms_level) == selection.levels->end()) {
      continue;
    }
    if (selection.has_rt) {
      // NaN compares false both ways and is never selected.
      const double rt_sec = scan.retention_time_min * 60.0;
      if (!(rt_sec >= selection.rt_low && rt_sec <= selection.rt_high)) continue;
    }
    positions.push_back(i);
  }
  return positions;
}

}  // namespace velmoran::python
