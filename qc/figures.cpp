#include <velmoran/qc/figures.hpp>

#include <string>

#include <velmoran/representation.hpp>
#include <velmoran/textio/spectrum_totals.hpp>

namespace velmoran::qc {

SpectrumFigures figures_of(const Reader& reader, const quorlith::SpectrumRecord& record) {
  SpectrumFigures figures;
  figures.native_id = record.native_id;
  figures.ms_level = record.ms_level;
  figures.retention_time_sec = record.retention_time_sec;
  if (record.precursor) figures.precursor_mz = record.precursor->selected_mz;
  const Representation representation = representation_of(reader, record);
  if (representation != Representation::empty) {
    const textio::SpectrumTotals totals =
        textio::spectrum_totals(record.intensity, representation == Representation::profile);
    figures.points = record.mz.size();
    figures.total_ion_current = totals.total_ion_current;
    figures.base_peak_intensity = record.intensity[totals.base_peak];
  } else {
    // The sequence keeps no block error beside its record: the scan is read
    // again on its own, which is cheap for a scan without points, to tell a
    // damaged block from an empty one.
    figures.unreadable = reader.read_spectrum(record.index).error.has_value();
  }
  return figures;
}

Result<std::vector<SpectrumFigures>> read_figures(const Reader& reader) {
  std::vector<SpectrumFigures> out;
  const std::size_t expected = reader.scans().records.size();
  const auto sequence = reader.iter_spectra();
  while (auto record = sequence->next()) out.push_back(figures_of(reader, *record));
  if (out.size() != expected) {
    return Error::parse("the run yielded " + std::to_string(out.size()) +
                        " spectra where its scan table announced " + std::to_string(expected));
  }
  return out;
}

}  // namespace velmoran::qc
