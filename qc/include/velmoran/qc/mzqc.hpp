// The mzQC file (HUPO-PSI mzQC 1.0.0, JSON) of one run or of a batch: a
// runQuality per run and, for several, a setQuality naming the batch.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <velmoran/qc/metrics.hpp>

namespace velmoran::qc {

struct RunQuality {
  // The run's name ("run1.d") and its directory, absolute.
  std::string name;
  std::filesystem::path location;
  // SHA-256 of the scan table (MSScan.bin), lower-case hexadecimal.
  std::string scan_table_sha256;
  std::vector<Metric> metrics;
};

// "YYYY-MM-DDTHH:MM:SSZ" of `seconds` since the epoch, in UTC.
[[nodiscard]] std::string utc_date_time(std::int64_t seconds);

// The file's creation time: SOURCE_DATE_EPOCH when it holds a whole number
// of seconds (so that the same input gives the same bytes), else now.
[[nodiscard]] std::string creation_date();

// The `file://` URI of an absolute path, every byte but unreserved ones and
// '/' percent-encoded.
[[nodiscard]] std::string file_uri(const std::filesystem::path& absolute);

// The whole mzQC document. `batch` names the setQuality, written when
// there are several runs.
[[nodiscard]] std::string mzqc_document(std::span<const RunQuality> runs, std::string_view batch,
                                        std::string_view date, std::string_view version);

}  // namespace velmoran::qc
