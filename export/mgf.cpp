#include <velmoran/export/mgf.hpp>

#include <algorithm>
#include <cmath>

#include <velmoran/analysis/survey_level.hpp>
#include <velmoran/textio/number_text.hpp>

namespace velmoran::exporting {

using textio::append_number;

bool mgf_wants(const quorlith::SpectrumRecord& record) noexcept {
  return !analysis::is_survey_level(record.ms_level) && record.precursor &&
         record.precursor->selected_mz && std::isfinite(*record.precursor->selected_mz);
}

std::size_t append_mgf_ions(std::string& out, const quorlith::SpectrumRecord& record,
                            std::string_view title) {
  const std::size_t start = out.size();
  out += "BEGIN IONS\nTITLE=";
  out += title;
  out += " scan=";
  append_number(out, record.scan_id);
  if (std::isfinite(record.retention_time_sec)) {
    out += "\nRTINSECONDS=";
    append_number(out, record.retention_time_sec);
  }
  out += "\nPEPMASS=";
  append_number(out, *record.precursor->selected_mz);
  out += "\nSCANS=";
  append_number(out, record.scan_id);
  out += '\n';
  const std::size_t n = std::min(record.mz.size(), record.intensity.size());
  std::size_t written = 0;
  for (std::size_t i = 0; i < n; ++i) {
    if (!std::isfinite(record.mz[i]) || !std::isfinite(record.intensity[i])) continue;
    append_number(out, record.mz[i]);
    out += ' ';
    append_number(out, record.intensity[i]);
    out += '\n';
    ++written;
  }
  if (written == 0) {
    out.resize(start);
    return 0;
  }
  out += "END IONS\n";
  return written;
}

}  // namespace velmoran::exporting
