// The scan table, AcqData/MSScan.bin: one fixed-length record per scan in
// one of five layouts, parsed into an MSScan of ScanRecords.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <span>
#include <vector>

#include <velmoran/visibility.hpp>
#include <velmoran/result.hpp>

namespace velmoran::raw {

// Where one data block lies and what its decoder needs.
struct BlockRef {
  std::optional<std::uint32_t> uncompressed_byte_count;
  std::uint64_t offset = 0;
  std::uint32_t format_id = 0;
  std::uint32_t byte_count = 0;
  std::uint32_t point_count = 0;

  friend bool operator==(const BlockRef&, const BlockRef&) = default;
};

struct ScanRecord {
  std::uint32_t scan_id = 0;
  std::uint32_t ms_level = 0;
  double retention_time_min = 0.0;
  std::optional<double> precursor_mz;
  std::optional<std::uint32_t> mrm_channel;
  std::optional<double> mz_range_low;
  std::optional<double> mz_range_high;
  std::optional<BlockRef> profile_block;
  std::optional<BlockRef> peak_block;

  friend bool operator==(const ScanRecord&, const ScanRecord&) = default;
};

// A scan's retention time in seconds, as every reading of the run gives it:
// the stored minutes times 60.
[[nodiscard]] constexpr double retention_time_sec(const ScanRecord& scan) noexcept {
  return scan.retention_time_min * 60.0;
}

// Format IDs of block descriptors.
inline constexpr std::uint32_t kProfileFormatId = 1;
inline constexpr std::uint32_t kPeakFormatPlanar = 2;
inline constexpr std::uint32_t kPeakFormatInterleaved = 3;

inline constexpr std::uint32_t kMSScanMagic = 257;
inline constexpr std::size_t kMSScanHeaderSize = 92;

struct VELMORAN_EXPORT MSScan {
  std::vector<ScanRecord> records;
  std::uint32_t payload_offset = 0;
  std::uint32_t record_stride = 0;

  // Reads and parses the scan table file at `path`.
  [[nodiscard]] static Result<MSScan> from_path(const std::filesystem::path& path);
  // Parses a scan table already in memory.
  [[nodiscard]] static Result<MSScan> parse(std::span<const std::uint8_t> file);

  friend bool operator==(const MSScan&, const MSScan&) = default;
};

}  // namespace velmoran::raw
