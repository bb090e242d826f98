#include <velmoran/qc/figures.hpp>

#include <velmoran/representation.hpp>
#include <velmoran/analysis/spectrum_totals.hpp>

namespace velmoran::qc {

SpectrumFigures figures_of(const Reader& reader, const quorlith::SpectrumRecord& record) {
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
  }
  return figures;
}

}  // namespace velmoran::qc
