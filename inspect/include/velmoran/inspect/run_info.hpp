// What is in a run: scans by MS level, kinds of spectra, points, the
// retention-time and m/z ranges and the sizes of the dataset's files, from
// one pass over its spectra.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <velmoran/inspect/channels.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::inspect {

struct RunInfo {
  std::string name;
  std::string path;
  // Bytes per record of the scan table.
  std::uint32_t record_length = 0;
  std::uint64_t scans = 0;
  std::map<std::uint32_t, std::uint64_t> scans_by_ms_level;
  std::uint64_t profile_spectra = 0;
  std::uint64_t centroid_spectra = 0;
  std::uint64_t empty_spectra = 0;
  std::uint64_t points = 0;
  // Over every scan; absent when there are none.
  std::optional<double> rt_sec_min;
  std::optional<double> rt_sec_max;
  // Over every point of every spectrum; absent when there are none.
  std::optional<double> mz_min;
  std::optional<double> mz_max;
  // Sizes of AcqData/MSScan.bin, MSPeak.bin, MSProfile.bin; absent when a
  // file is missing or unreadable.
  std::optional<std::uint64_t> scan_table_bytes;
  std::optional<std::uint64_t> peak_bytes;
  std::optional<std::uint64_t> profile_bytes;
  // An MRM run's channels (empty otherwise): run_info() fills them without
  // transitions; a caller with a list fills them again with it.
  std::vector<ChannelSummary> channels;
};

[[nodiscard]] RunInfo run_info(const Reader& reader);

// Aligned "key  value" lines for people.
[[nodiscard]] std::string info_text(const RunInfo& info);

// One JSON object (keys in docs/cli.md; "channels" only for an MRM run),
// with a final newline.
[[nodiscard]] std::string info_json(const RunInfo& info);

}  // namespace velmoran::inspect
