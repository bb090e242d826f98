// The report in a build without the web assets: none, and how to get it.
#include "qc_report.hpp"

#include <velmoran/view/viewer_assets.hpp>

namespace velmoran::cli {

bool report_available() { return false; }

std::string report_unavailable_reason() {
  // The report embeds the viewer's charting library: the same answer and
  // the same advice as `velmoran view` gives.
  return "the report embeds the viewer's charting library, and " +
         std::string(view::viewer_assets_missing());
}

std::string report_html(std::string_view, std::span<const qc::RunQuality>,
                        std::span<const qc::BatchRow>) {
  return {};
}

}  // namespace velmoran::cli
