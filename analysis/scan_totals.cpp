#include <velmoran/analysis/scan_totals.hpp>

#include <algorithm>

#include <velmoran/analysis/scan_workers.hpp>
#include <velmoran/analysis/spectrum_totals.hpp>

namespace velmoran::analysis {

ScanTotals point_totals(std::span<const double> mz, std::span<const float> intensity,
                        bool whole_numbers) {
  ScanTotals totals;
  const std::size_t n = std::min(mz.size(), intensity.size());
  if (n == 0) return totals;
  const analysis::SpectrumTotals sums =
      analysis::spectrum_totals(intensity.first(n), whole_numbers);
  totals.total_ion_current = sums.total_ion_current;
  totals.base_peak_mz = mz[sums.base_peak];
  totals.base_peak_intensity = intensity[sums.base_peak];
  return totals;
}

ScanTotals scan_totals(const Reader& reader, const quorlith::SpectrumRecord& record) {
  const Representation representation = representation_of(reader, record);
  // A profile's intensities are whole numbers by the file format.
  ScanTotals totals =
      point_totals(record.mz, record.intensity, representation == Representation::profile);
  totals.representation = representation;
  return totals;
}

std::vector<ScanTotals> scan_totals(const Reader& reader, std::span<const std::size_t> positions,
                                    unsigned threads, const std::atomic<bool>& stop) {
  std::vector<ScanTotals> totals(positions.size());
  for_each_item(positions.size(), threads, stop, [&](std::size_t k, std::size_t /*worker*/) {
    totals[k] = scan_totals(reader, reader.read_spectrum(positions[k]).record);
  });
  return totals;
}

}  // namespace velmoran::analysis
