// Extracted ion chromatograms as one matrix: for each target window and
// each chosen scan, the sum of the intensities of the points whose m/z
// lies in the window. The xic command writes the same sums as text, scan
// by scan, through the same two functions below (xic_takes and
// spectrum_window_sums).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include <quorlith/types.hpp>

#include <velmoran/analysis/window_sums.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::analysis {

// The scans an extracted ion chromatogram traces: one MS level, and an
// inclusive range of retention times in seconds (every time when absent;
// a NaN time is never in a range).
struct XicScans {
  std::uint32_t ms_level = 1;
  std::optional<std::pair<double, double>> rt_range;
};

[[nodiscard]] bool xic_takes(const XicScans& scans, std::uint32_t ms_level, double rt_sec) noexcept;

// The positions of the table's scans that `scans` takes, in table order (a
// scan's time in seconds is its minutes × 60, as the reader gives it).
[[nodiscard]] std::vector<std::size_t> xic_positions(const raw::MSScan& table,
                                                     const XicScans& scans);

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
