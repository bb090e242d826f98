#include <velmoran/textio/spectrum_id.hpp>

#include <unordered_set>

#include <velmoran/textio/number_text.hpp>

namespace velmoran::textio {

IdForm id_form_of(const raw::MSScan& scans) {
  std::unordered_set<std::uint32_t> seen;
  seen.reserve(scans.records.size());
  for (const auto& scan : scans.records) {
    if (!seen.insert(scan.scan_id).second) return IdForm::kIndex;
  }
  return IdForm::kScan;
}

void append_spectrum_id(std::string& out, IdForm ids, std::uint64_t number) {
  out += ids == IdForm::kScan ? "scan=" : "index=";
  append_number(out, number);
}

}  // namespace velmoran::textio
