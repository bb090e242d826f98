// gather_peaks: the spectra of chosen scans in flat arrays, read and
// decoded on worker threads, placed in order. No Python here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include <velmoran/reader.hpp>

namespace velmoran::arrays {

struct FlatPeaks {
  // Every point of every chosen spectrum, spectrum after spectrum; owners
  // that free the memory (null when there are no points).
  std::shared_ptr<const void> mz;         // double
  std::shared_ptr<const void> intensity;  // float
  std::size_t points = 0;
  // Spectrum k is points [offsets[k], offsets[k + 1]).
  std::vector<std::int64_t> offsets;
};

// Reads the spectra at `positions` of the reader's table on `threads`
// threads. The arrays are grown without copying (FlatBuffer) from a first
// size taken from the table's point counts; memory is 12 bytes per point
// plus the spectra in flight. Throws std::bad_alloc when memory runs out.
[[nodiscard]] FlatPeaks gather_peaks(const Reader& reader, std::span<const std::size_t> positions,
                                     unsigned threads);

}  // namespace velmoran::arrays
