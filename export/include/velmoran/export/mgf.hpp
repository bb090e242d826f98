// MGF peak lists: one BEGIN IONS ... END IONS block per fragment spectrum
// that has a selected precursor m/z.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include <quorlith/types.hpp>

namespace velmoran::exporting {

// The spectrum goes into an MGF file: level 2 or more with a selected m/z
// that is a number (PEPMASS cannot be left out).
[[nodiscard]] bool mgf_wants(const quorlith::SpectrumRecord& record) noexcept;

// Appends the block of `record` (which mgf_wants) with TITLE "<title> scan=<scan number>";
// `title` must be single-line text (see single_line_text). Values that are
// not numbers (NaN, infinities) are left out: RTINSECONDS, and each point
// whose m/z or intensity is one. Returns the points written; a block
// without any is not appended at all.
[[nodiscard]] std::size_t append_mgf_ions(std::string& out, const quorlith::SpectrumRecord& record,
                                          std::string_view title);

}  // namespace velmoran::exporting
