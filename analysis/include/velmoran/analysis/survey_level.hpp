// Which scans are a run's survey scans, for every reading that treats them
// apart: mzML's "MS1 spectrum" and its TIC and base peak chromatograms, the
// quality metrics of MS1, the channel chromatograms of an MRM run (which
// leave them out), MGF (which writes only the others), and the level the
// viewer's map shows first.
#pragma once

#include <cstdint>
#include <optional>

#include <velmoran/raw/msscan.hpp>

namespace velmoran::analysis {

// A scan of MS level 1 is a survey scan, and so is one of level 0: no
// fragment scan has it, and a scan that names no level is no fragment scan.
[[nodiscard]] constexpr bool is_survey_level(std::uint32_t ms_level) noexcept {
  return ms_level <= 1;
}

// The one level that stands for a run's survey where a single level is
// shown: 1 when the run has scans of level 1, else the lowest level it has
// (a run of level 0 scans; an MRM run or a run of fragment levels only);
// none for a run without scans.
[[nodiscard]] std::optional<std::uint32_t> survey_level(const raw::MSScan& table) noexcept;

}  // namespace velmoran::analysis
