// PeakGathering: the spectra of chosen scans in flat arrays, read and
// decoded on worker threads, placed in order, while the thread that asked
// waits (and may stop them). No Python here.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include <velmoran/analysis/peak_mode.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::analysis {

struct FlatPeaks {
  // Every point of every chosen spectrum, spectrum after spectrum; owners
  // that free the memory (null when there are no points).
  std::shared_ptr<const void> mz;         // double
  std::shared_ptr<const void> intensity;  // float
  std::size_t points = 0;
  // Spectrum k is points [offsets[k], offsets[k + 1]).
  std::vector<std::int64_t> offsets;
  // The scans whose blocks could not be read or decoded (their spectra are
  // empty): scan position and the error's text, in position order.
  std::vector<std::pair<std::size_t, std::string>> errors;
  // Per spectrum, 1 where its points are centroids (Spectrum.centroided).
  std::vector<std::uint8_t> centroided;
};

class PeakGathering {
 public:
  // Starts reading the spectra at `positions` of the reader's table on
  // `threads` worker threads; the reader and positions must outlive it.
  // The arrays are grown without copying (FlatBuffer) from a first size
  // that neither the table's point counts nor the sizes of the data files
  // exceed; memory is 12 bytes per point plus the spectra in flight.
  // Each spectrum is read in `mode` (read_scan).
  PeakGathering(const Reader& reader, std::span<const std::size_t> positions, unsigned threads,
                PeakMode mode = PeakMode::kProfile);
  PeakGathering(const PeakGathering&) = delete;
  PeakGathering& operator=(const PeakGathering&) = delete;
  // Stops the workers (cancel) and waits for them.
  ~PeakGathering();

  // True once every worker is done; waits at most `timeout`.
  [[nodiscard]] bool wait_for(std::chrono::milliseconds timeout);
  // Asks the workers to stop after the scan each is reading.
  void cancel() noexcept;
  // The arrays, once wait_for() said done and unless cancelled. Throws what
  // a worker threw (std::bad_alloc when memory runs out).
  [[nodiscard]] FlatPeaks finish();

 private:
  class Gatherer;
  std::unique_ptr<Gatherer> gatherer_;
};

// The same, waiting for the workers until they are done.
[[nodiscard]] FlatPeaks gather_peaks(const Reader& reader, std::span<const std::size_t> positions,
                                     unsigned threads, PeakMode mode = PeakMode::kProfile);

}  // namespace velmoran::analysis
