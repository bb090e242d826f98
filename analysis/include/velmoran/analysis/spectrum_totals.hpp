// Total ion current and base peak of one spectrum, at the speed of the
// read that produced it.
#pragma once

#include <cstddef>
#include <span>

namespace velmoran::analysis {

struct SpectrumTotals {
  // The intensities summed in double, in point order (see below).
  double total_ion_current = 0.0;
  // Index of the first point of the highest intensity, NaN left out; 0
  // for an empty spectrum or one whose intensities are all NaN.
  std::size_t base_peak = 0;
};

// The same values as summing in point order and taking the first maximum,
// without one long chain of dependent operations: the base peak is searched
// in eight independent lanes; the sum is taken in lanes too when every
// intensity is a whole number below 2^32 (as profile intensities are) and
// the spectrum has at most 2^20 points, for then every partial sum is a
// whole number below 2^53, exact in double, and the order cannot change the
// result. Any other spectrum is summed point by point.
//
// `whole_numbers` says that the caller knows every intensity to be a whole
// number in [0, 2^32], as a profile's are (the file stores them as unsigned
// 32-bit integers), which spares checking them.
[[nodiscard]] SpectrumTotals spectrum_totals(std::span<const float> intensity, bool whole_numbers);

}  // namespace velmoran::analysis
