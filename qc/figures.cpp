#include <velmoran/qc/figures.hpp>

#include <string>

#include <velmoran/representation.hpp>
#include <velmoran/textio/spectrum_totals.hpp>

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
  } else if (holds_data(reader.scans().records[record.index])) {
    // The sequence keeps no block error beside its record: a scan whose
    // blocks hold bytes but gave no points is read again on its own (cheap,
    // and rare) to tell a damaged block from an empty one.
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
