// Extracted ion chromatograms as one matrix: for each target window and
// each chosen scan, the sum of the intensities of the points whose m/z
// lies in the window. The xic command writes the same sums as text, scan
// by scan, choosing the scans with the same ScanSelection
// (level_selection()) and summing through spectrum_window_sums() below.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include <quorlith/types.hpp>

#include <velmoran/analysis/scan_selection.hpp>
#include <velmoran/analysis/window_sums.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::analysis {

// The sums of `record`, one of `reader`'s spectra, in each window of
// `window_sums`, into `sums` (window_sums.size() elements).
void spectrum_window_sums(const Reader& reader, const quorlith::SpectrumRecord& record,
                          const WindowSums& window_sums, std::span<double> sums,
                          WindowSums::Scratch& scratch);

struct XicMatrix {
  // The retention time of each chosen scan, in seconds.
  std::vector<double> rt_sec;
  // windows × scans, a row per window: intensity[w * scans + k].
  std::vector<double> intensity;
};

// The matrix for the scans at `positions`, read on `threads` threads until
// `stop` is set (the matrix is then incomplete). Memory: the matrix, and a
// spectrum per thread.
[[nodiscard]] XicMatrix xic_matrix(const Reader& reader, const WindowSums& window_sums,
                                   std::span<const std::size_t> positions, unsigned threads,
                                   const std::atomic<bool>& stop);

}  // namespace velmoran::analysis
