#include <velmoran/analysis/xic_matrix.hpp>

#include <algorithm>

#include <velmoran/analysis/scan_workers.hpp>
#include <velmoran/representation.hpp>

namespace velmoran::analysis {

void spectrum_window_sums(const Reader& reader, const quorlith::SpectrumRecord& record,
                          const WindowSums& window_sums, std::span<double> sums,
                          WindowSums::Scratch& scratch) {
  // A profile's axis is monotone, which spares the full sortedness check.
  const bool profile = representation_of(reader, record) == Representation::profile;
  window_sums.compute(record.mz, record.intensity, sums, scratch, profile);
}

XicMatrix xic_matrix(const Reader& reader, const WindowSums& window_sums,
                     std::span<const std::size_t> positions, unsigned threads,
                     const std::atomic<bool>& stop) {
  const std::size_t n = positions.size();
  const std::size_t windows = window_sums.size();
  XicMatrix matrix;
  matrix.rt_sec.resize(n);
  matrix.intensity.resize(windows * n);
  const unsigned workers = worker_count(n, threads);
  std::vector<WindowSums::Scratch> scratch(workers);
  std::vector<std::vector<double>> sums(workers, std::vector<double>(windows));
  for_each_item(n, workers, stop, [&](std::size_t k, std::size_t worker) {
    const ScanSpectrum spectrum = reader.read_spectrum(positions[k]);
    matrix.rt_sec[k] = spectrum.record.retention_time_sec;
    std::vector<double>& row = sums[worker];
    spectrum_window_sums(reader, spectrum.record, window_sums, row, scratch[worker]);
    for (std::size_t w = 0; w < windows; ++w) matrix.intensity[w * n + k] = row[w];
  });
  return matrix;
}

}  // namespace velmoran::analysis
