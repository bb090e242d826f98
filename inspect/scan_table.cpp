#include <velmoran/inspect/scan_table.hpp>

#include <optional>

#include <velmoran/analysis/scan_totals.hpp>
#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/representation.hpp>
#include <velmoran/textio/spectrum_id.hpp>

namespace velmoran::inspect {

namespace {

enum Column : std::size_t {
  kIndex,
  kScanId,
  kNativeId,
  kMzmlId,
  kMsLevel,
  kRtSec,
  kRepresentation,
  kPoints,
  kTic,
  kBasePeakMz,
  kBasePeakIntensity,
  kPrecursorMz,
  kMrmChannel,
};

}  // namespace

Result<Done> write_scan_table(const Reader& reader, TextFormat format, textio::OutputFile& out) {
  TableWriter writer(out, format, kScanColumns);
  const TableFormat& table = writer.table();
  const auto& scans = reader.scans().records;
  // The ids convert gives the spectra.
  const textio::IdForm ids = textio::id_form_of(reader.scans());
  std::optional<Error> failure;

  pipeline::for_each_spectrum(reader, [&](quorlith::SpectrumRecord& record) {
    const raw::ScanRecord& scan = scans[record.index];
    const analysis::ScanTotals totals = analysis::scan_totals(reader, record);
    std::string& row = writer.buffer();
    writer.begin_row();
    table.append_number(row, kIndex, record.index);
    table.append_number(row, kScanId, record.scan_id);
    table.append_text(row, kNativeId, record.native_id);
    table.append_text(row, kMzmlId, textio::spectrum_id(ids, record));
    table.append_number(row, kMsLevel, record.ms_level);
    table.append_number(row, kRtSec, record.retention_time_sec);
    // A spectrum without points: no representation, total ion current and
    // base-peak intensity 0, and no base-peak m/z (an empty cell).
    if (totals.representation == Representation::empty) {
      table.append_null(row, kRepresentation);
    } else {
      table.append_text(row, kRepresentation, representation_name(totals.representation));
    }
    table.append_number(row, kPoints, static_cast<std::uint64_t>(record.mz.size()));
    table.append_number(row, kTic, totals.total_ion_current);
    if (totals.representation == Representation::empty) {
      table.append_null(row, kBasePeakMz);
    } else {
      table.append_number(row, kBasePeakMz, totals.base_peak_mz);
    }
    // An intensity is a float: its shortest text is the float's.
    table.append_number(row, kBasePeakIntensity, totals.base_peak_intensity);
    const std::optional<double> precursor_mz =
        record.precursor ? record.precursor->selected_mz : std::nullopt;
    table.append_optional(row, kPrecursorMz, precursor_mz);
    table.append_optional(row, kMrmChannel, scan.mrm_channel);
    return pipeline::succeeded(writer.end_row(), failure);
  });
  if (failure) return std::move(*failure);
  return writer.finish();
}

}  // namespace velmoran::inspect
