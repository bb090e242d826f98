// The record a reader must produce for one scan, made from what the writer
// stored (ExpectedSpectrum). The one statement, for every test, of how a
// scan's stored fields become a SpectrumRecord.
#pragma once

#include <cstdint>
#include <string>

#include <quorlith/types.hpp>

#include "synthetic_run.hpp"

namespace velmoran::testkit {

// The index-th record of a table of `layout`.
inline quorlith::SpectrumRecord expected_record(const ExpectedSpectrum& s, std::uint64_t index,
                                                Layout layout) {
  quorlith::SpectrumRecord r;
  r.index = index;
  r.native_id = "scanId=" + std::to_string(s.scan_id);
  r.scan_id = s.scan_id;
  r.ms_level = s.ms_level;
  r.retention_time_sec = s.retention_time_sec;
  r.mz.assign(s.mz.begin(), s.mz.end());
  r.intensity.assign(s.intensity.begin(), s.intensity.end());
  r.mz_range_low = s.mz_range_low;
  r.mz_range_high = s.mz_range_high;
  if (s.ms_level >= 2) {
    r.precursor.emplace();
    if (s.mrm_channel) {
      r.precursor->spectrum_ref = "mrm_channel=" + std::to_string(*s.mrm_channel);
    } else if (s.precursor_mz) {
      r.precursor->selected_mz = s.precursor_mz;
      r.precursor->spectrum_ref = r.native_id;
    }
  }
  r.origin_code = 2;
  r.profile_decoded = s.from_profile;
  // Layouts with a precursor field and a 24-byte descriptor at 156 are
  // code 3, the others code 1.
  r.layout_code = stride_of(layout) >= 220 ? 3 : 1;
  return r;
}

}  // namespace velmoran::testkit
