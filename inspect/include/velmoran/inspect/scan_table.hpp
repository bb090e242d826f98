// One row per scan: identity, time, kind of spectrum, points, total ion
// current, base peak, precursor and MRM channel.
#pragma once

#include <span>
#include <string_view>

#include <velmoran/inspect/table.hpp>
#include <velmoran/reader.hpp>
#include <velmoran/result.hpp>

namespace velmoran::inspect {

inline constexpr std::string_view kScanColumns[] = {
    "index",      "scan_id",      "native_id",           "mzml_id",
    "ms_level",   "rt_sec",       "representation",      "points",
    "tic",        "base_peak_mz", "base_peak_intensity", "precursor_mz",
    "mrm_channel"};

// Writes the table of every scan of the run to `out` (not committed). The
// total ion current and base peak are analysis::scan_totals(): for a
// spectrum without points the total ion current and base-peak intensity
// are 0, and the representation and base-peak m/z empty cells (JSON null).
[[nodiscard]] Result<Done> write_scan_table(const Reader& reader, TextFormat format,
                                            textio::OutputFile& out);

}  // namespace velmoran::inspect
