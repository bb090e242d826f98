// The analysis table: one Parquet row per point of every spectrum written,
// with its spectrum's columns, in spectrum then m/z order:
//   run (string), spectrum_index (int64, the scan table's index), scan_id
//   (int32), ms_level (int32), rt_sec (float64), precursor_mz (float64,
//   null where none), mrm_channel (int32, null where none), mz (float64),
//   intensity (float32).
// The scans and points are those mzML gets from the same options (levels,
// scan filter, --peaks and the point filters); a spectrum left without
// points has no row.
#pragma once

#include <string>

#include <velmoran/export/convert.hpp>
#include <velmoran/parquet/writer.hpp>
#include <velmoran/textio/output_file.hpp>

namespace velmoran::exporting {

// Parquet bytes into an output file: every write error is the sink's.
class OutputSink : public parquet::Sink {
 public:
  explicit OutputSink(OutputFile& file) : file_(&file) {}
  [[nodiscard]] Result<parquet::Written> write(std::string_view bytes) override;

 private:
  OutputFile* file_;
};

// The Parquet writer's settings shared by every table convert writes:
// zstd, the program's name and version as the writer.
[[nodiscard]] parquet::WriterOptions table_options(const std::string& software_version);

// A partition directory's value as Hive escapes it (and DuckDB, Spark and
// Polars unescape it), of the name made valid UTF-8 and one line first, as
// the run column holds it: control characters, '"', '#', '%', '\'', '*', '/',
// ':', '=', '?', '\\', DEL, '{', '[', ']' and '^' become %XX (upper-case hex).
[[nodiscard]] std::string hive_escape(std::string_view value);

// Writes the table of one run to `output` (not committed). `run_name` fills
// the run column.
[[nodiscard]] Result<ConvertStats> write_point_table(const Reader& reader, OutputFile& output,
                                                     const ConvertOptions& options,
                                                     const std::string& run_name,
                                                     const ProgressFn& progress = {});

}  // namespace velmoran::exporting
