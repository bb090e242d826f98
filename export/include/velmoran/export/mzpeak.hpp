// An mzPeak archive of one run: a ZIP whose members
// are stored uncompressed (ZIP64 where needed, by libzip), or the same
// members in a directory (unpacked).
//
//   spectra_metadata.parquet          one row per spectrum written: index
//                                     (from 0), id (mzML's), time (minutes),
//                                     level, representation, summaries
//   spectra_metadata_scans.parquet    its scan: scan start time (minutes)
//   spectra_metadata_precursors.parquet, ..._selected_ions.parquet
//                                     fragment spectra: target and selected m/z
//   spectra_data.parquet              profiles: point.{spectrum_index, mz, intensity},
//                                     or chunk.{spectrum_index, mz_chunk_start, ...}
//   spectra_peaks.parquet             centroids, the same columns
//   chromatograms_metadata.parquet, chromatograms_data.parquet
//                                     TIC and BPC, as mzML traces them
//   mzpeak_index.json                 the members and the file-level metadata
//
// Each member streams into a file as it is written, so memory does not grow
// with the run; libzip then copies the members into the ZIP, written
// through OutputFile. An unpacked archive is an OutputDirectory. Either
// appears whole or not at all.
#pragma once

#include <filesystem>

#include <velmoran/export/convert.hpp>
#include <velmoran/textio/output_file.hpp>

namespace velmoran::exporting {

// How profiles are stored: one row per point, or one row per chunk of
// 50 m/z with the axis delta-encoded. Centroids always take the point layout.
enum class MzpeakLayout { kPoint, kChunk };

struct MzpeakTarget {
  std::filesystem::path path;
  bool unpacked = false;
  MzpeakLayout layout = MzpeakLayout::kChunk;
  textio::OutputOptions output{};
};

[[nodiscard]] Result<ConvertStats> write_mzpeak(const Reader& reader, const MzpeakTarget& target,
                                                const ConvertOptions& options,
                                                const ProgressFn& progress = {});

}  // namespace velmoran::exporting
