// MGF peak lists: one BEGIN IONS ... END IONS block per fragment spectrum
// that has a selected precursor m/z.
#pragma once

#include <string>
#include <string_view>

#include <quorlith/types.hpp>

namespace velmoran::exporting {

// The spectrum goes into an MGF file: level 2 or more with a selected m/z.
[[nodiscard]] bool mgf_wants(const quorlith::SpectrumRecord& record) noexcept;

// Appends the block of `record` (which mgf_wants) with TITLE "<title> scan=<scan number>";
// `title` must be single-line text (see single_line_text).
void append_mgf_ions(std::string& out, const quorlith::SpectrumRecord& record,
                     std::string_view title);

}  // namespace velmoran::exporting
