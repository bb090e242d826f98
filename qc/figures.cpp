#include <velmoran/qc/figures.hpp>

#include <velmoran/representation.hpp>
#include <velmoran/analysis/spectrum_totals.hpp>

namespace velmoran::qc {

namespace {

// A block of the scan holds bytes or announces points.
bool holds_data(const raw::ScanRecord& scan) {
  const auto holds = [](const std::optional<raw::BlockRef>& block) {
    return block && (block->byte_count > 0 || block->point_count > 0);
  };
  return holds(scan.peak_block) || holds(scan.profile_block);
}

}  // namespace

SpectrumFigures figures_of(const Reader& reader, const ScanSpectrum& spectrum) {
  const quorlith::SpectrumRecord& record = spectrum.record;
  SpectrumFigures figures;
  figures.native_id = record.native_id;
  figures.ms_level = record.ms_level;
  figures.retention_time_sec = record.retention_time_sec;
  if (record.precursor) figures.precursor_mz = record.precursor->selected_mz;
  const Representation representation = representation_of(reader, record);
  if (representation != Representation::empty) {
    const analysis::SpectrumTotals totals =
        analysis::spectrum_totals(record.intensity, representation == Representation::profile);
    figures.points = record.mz.size();
    figures.total_ion_current = totals.total_ion_current;
    figures.base_peak_intensity = record.intensity[totals.base_peak];
  } else {
    // A scan whose blocks hold bytes but gave no points: damaged when a
    // block failed, empty when the blocks hold no point.
    figures.unreadable =
        spectrum.error.has_value() && holds_data(reader.scans().records[record.index]);
  }
  return figures;
}

}  // namespace velmoran::qc
