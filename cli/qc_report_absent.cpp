// The report in a build without the web assets: none, and how to get it.
#include "qc_report.hpp"

namespace velmoran::cli {

bool report_available() { return false; }

std::string report_unavailable_reason() {
  return "this velmoran was built without its web assets (the report embeds the charting "
         "library); rebuild it with npm installed to get --report";
}

std::string report_html(std::string_view, std::span<const qc::RunQuality>,
                        std::span<const qc::BatchRow>) {
  return {};
}

}  // namespace velmoran::cli
