// Which scans spectra() and peaks() read: their positions in the scan
// table, in table order, for an MS level filter and a retention time range.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include <velmoran/raw/msscan.hpp>

namespace velmoran::python {

struct Selection {
  // The MS levels to keep; none: every level. An empty list keeps nothing.
  std::optional<std::vector<std::uint32_t>> levels;
  // An inclusive range of retention times in seconds, when has_rt.
  double rt_low = 0;
  double rt_high = 0;
  bool has_rt = false;
};

// The positions of the scans of `table` that `selection` keeps, in order.
// A scan's retention time in seconds is its minutes × 60, as the reader
// gives it.
[[nodiscard]] std::vector<std::size_t> select_positions(const raw::MSScan& table,
                                                        const Selection& selection);

}  // namespace velmoran::python
