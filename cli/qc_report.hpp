// The batch report of `velmoran qc --report`: one self-contained HTML file.
// It embeds the charting library that the viewer's build fetches; a build
// without the web assets has no report, and says how to get it.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include <velmoran/qc/batch_table.hpp>
#include <velmoran/qc/mzqc.hpp>

namespace velmoran::cli {

// The report can be written: the program was built with its web assets.
[[nodiscard]] bool report_available();

// Why it cannot, in one line.
[[nodiscard]] std::string report_unavailable_reason();

// The whole HTML page of the batch.
[[nodiscard]] std::string report_html(std::string_view batch, std::span<const qc::RunQuality> runs,
                                      std::span<const qc::BatchRow> rows);

}  // namespace velmoran::cli
