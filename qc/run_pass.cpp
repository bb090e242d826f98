#include <velmoran/qc/run_pass.hpp>

#include <velmoran/analysis/scan_workers.hpp>
#include <velmoran/analysis/thread_count.hpp>

namespace velmoran::qc {

Result<std::vector<SpectrumFigures>> read_figures_parallel(const Reader& reader, unsigned threads) {
  const std::atomic<bool> never{false};
  return read_figures_parallel(reader, threads, never);
}

Result<std::vector<SpectrumFigures>> read_figures_parallel(const Reader& reader, unsigned threads,
                                                           const std::atomic<bool>& stop) {
  // Each scan's figures land in its own cell, in table order whatever the
  // order of the reads; a worker holds one spectrum's points at a time.
  std::vector<SpectrumFigures> figures(reader.scans().records.size());
  analysis::for_each_item(figures.size(), analysis::thread_count(threads), stop,
                          [&](std::size_t k, std::size_t /*worker*/) {
                            figures[k] = figures_of(reader, reader.read_spectrum(k));
                          });
  return figures;
}

}  // namespace velmoran::qc
