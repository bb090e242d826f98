// One spectrum as the JSON object of /api/spectrum/INDEX:
// {"index", "scan_id", "ms_level", "rt_sec", "precursor_mz", "centroided",
//  "mz": [...], "intensity": [...]}, numbers as the table commands write them.
#pragma once

#include <string>

#include <quorlith/types.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::view {

// `centroided` is true for peak-block points, false for profile points and
// null for a spectrum without points; `precursor_mz` null when absent.
[[nodiscard]] std::string spectrum_json(const Reader& reader,
                                        const quorlith::SpectrumRecord& record);

}  // namespace velmoran::view
