// The id a spectrum has in the mzML that convert writes, which the scans
// table also shows: one rule for both.
#pragma once

#include <cstdint>
#include <string>

#include <quorlith/types.hpp>
#include <velmoran/raw/msscan.hpp>

namespace velmoran::textio {

// How spectra are named: "scan=<scan number>" while the scan numbers of the
// run are unique, else "index=<position in the run>".
enum class IdForm { kScan, kIndex };

// The id form of the run: scan numbers while they are unique.
[[nodiscard]] IdForm id_form_of(const raw::MSScan& scans);

// The number in the id of `record`: its scan number or its position in the
// run.
[[nodiscard]] inline std::uint64_t id_number(IdForm ids, const quorlith::SpectrumRecord& record) {
  return ids == IdForm::kScan ? record.scan_id : record.index;
}

// Appends the id whose number is `number` (see id_number).
void append_spectrum_id(std::string& out, IdForm ids, std::uint64_t number);

[[nodiscard]] inline std::string spectrum_id(IdForm ids, const quorlith::SpectrumRecord& record) {
  std::string id;
  append_spectrum_id(id, ids, id_number(ids, record));
  return id;
}

}  // namespace velmoran::textio
