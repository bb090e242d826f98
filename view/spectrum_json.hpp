// One spectrum as the JSON object of /api/spectrum/INDEX:
// {"index", "scan_id", "ms_level", "rt_sec", "precursor_mz", "centroided",
//  "mz": [...], "intensity": [...]}, numbers as the table commands write them.
#pragma once

#include <string>

#include <cstddef>

#include <quorlith/types.hpp>
#include <velmoran/error.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::view {

// `centroided` is true for peak-block points, false for profile points and
// null for a spectrum without points; `precursor_mz` null when absent.
[[nodiscard]] std::string spectrum_json(const Reader& reader,
                                        const quorlith::SpectrumRecord& record);

// The answer for the scan at `position` when the reader could not read its
// blocks: {"error": "could not be read: TEXT", "index", "scan_id"}, TEXT
// the reader's error of that scan (as Spectrum.error gives it in Python).
[[nodiscard]] std::string unreadable_spectrum_json(const Reader& reader, std::size_t position,
                                                   const Error& error);

}  // namespace velmoran::view
