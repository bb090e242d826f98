#include <velmoran/analysis/survey_level.hpp>

namespace velmoran::analysis {

std::optional<std::uint32_t> survey_level(const raw::MSScan& table) noexcept {
  std::optional<std::uint32_t> level;
  for (const raw::ScanRecord& scan : table.records) {
    if (scan.ms_level == 1) return 1;
    if (!level || scan.ms_level < *level) level = scan.ms_level;
  }
  return level;
}

}  // namespace velmoran::analysis
