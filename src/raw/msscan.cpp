#include <velmoran/raw/msscan.hpp>

#include <array>
#include <string>

#include "raw/file_access.hpp"

namespace velmoran::raw {

namespace {

// Where one record layout keeps its fields; kNone marks a field the layout
// does not have.
constexpr std::size_t kNone = static_cast<std::size_t>(-1);

struct Layout {
  std::uint32_t stride;
  std::size_t mrm_channel;
  std::size_t precursor_mz;
  std::size_t first_descriptor;
  bool narrow_descriptors;
  std::size_t second_descriptor;
  std::size_t mz_range_low;
  std::size_t mz_range_high;
};

// Candidate strides in the order stride detection tries them.
constexpr std::array<Layout, 5> kLayouts{{
    {284, kNone, 84, 156, false, 220, 244, 252},
    {220, kNone, 84, 156, false, kNone, kNone, kNone},
    {216, kNone, 84, 152, false, kNone, kNone, kNone},
    {196, 4, kNone, 144, false, kNone, kNone, kNone},
    {186, 4, kNone, 136, true, kNone, kNone, kNone},
}};

constexpr std::size_t kScanNumberOffset = 0;
constexpr std::size_t kRetentionTimeOffset = 12;
constexpr std::size_t kMsLevelOffset = 20;
constexpr std::size_t kMagicOffset = 0;
constexpr std::size_t kPayloadOffsetField = 88;
// The probe accepts a second scan number less than first + this.
constexpr std::uint64_t kProbeScanWindow = 100000;

std::string stride_failure(std::uint64_t payload_length) {
  return "Cannot determine record stride for payload len " + std::to_string(payload_length);
}

// Applies one block descriptor to the record: a profile or peak descriptor
// replaces an earlier one of its kind; an empty one changes nothing.
void apply_descriptor(ByteView record, std::size_t at, bool narrow, ScanRecord& scan) {
  // The narrow form has a 16-bit format ID; the other fields move up by 2.
  const std::uint32_t format_id =
      narrow ? load_le<std::uint16_t>(record, at) : load_le<std::uint32_t>(record, at);
  const std::size_t fields = at + (narrow ? 2 : 4);
  if (format_id != kProfileFormatId && format_id != kPeakFormatPlanar &&
      format_id != kPeakFormatInterleaved) {
    return;
  }
  BlockRef block;
  block.format_id = format_id;
  block.offset = load_le<std::uint64_t>(record, fields);
  block.byte_count = load_le<std::uint32_t>(record, fields + 8);
  block.point_count = load_le<std::uint32_t>(record, fields + 12);
  if (format_id == kProfileFormatId) {
    block.uncompressed_byte_count = load_le<std::uint32_t>(record, fields + 16);
    scan.profile_block = block;
  } else {
    scan.peak_block = block;
  }
}

ScanRecord parse_record(ByteView record, const Layout& layout) {
  ScanRecord scan;
  scan.scan_id = load_le<std::uint32_t>(record, kScanNumberOffset);
  scan.retention_time_min = load_le<double>(record, kRetentionTimeOffset);
  scan.ms_level = load_le<std::uint16_t>(record, kMsLevelOffset);
  if (layout.mrm_channel != kNone) {
    scan.mrm_channel = load_le<std::uint32_t>(record, layout.mrm_channel);
  }
  if (layout.mz_range_low != kNone) {
    scan.mz_range_low = load_le<double>(record, layout.mz_range_low);
    scan.mz_range_high = load_le<double>(record, layout.mz_range_high);
  }
  apply_descriptor(record, layout.first_descriptor, layout.narrow_descriptors, scan);
  if (layout.second_descriptor != kNone) {
    apply_descriptor(record, layout.second_descriptor, layout.narrow_descriptors, scan);
  }
  if (layout.precursor_mz != kNone && scan.ms_level >= 2) {
    scan.precursor_mz = load_le<double>(record, layout.precursor_mz);
  }
  return scan;
}

// The header holds neither the record length nor the count: choose the
// first candidate stride that divides the payload and, when there is more
// than one record, whose second record looks like the scan after the first.
const Layout* detect_layout(ByteView payload) {
  const std::uint64_t first = load_le<std::uint32_t>(payload, kScanNumberOffset);
  for (const Layout& layout : kLayouts) {
    if (payload.size() % layout.stride != 0) continue;
    if (payload.size() == layout.stride) return &layout;
    const ByteView second_record = payload.subspan(layout.stride);
    const std::uint64_t second = load_le<std::uint32_t>(second_record, kScanNumberOffset);
    const std::uint16_t level = load_le<std::uint16_t>(second_record, kMsLevelOffset);
    if ((level == 1 || level == 2) && first < second && second < first + kProbeScanWindow) {
      return &layout;
    }
  }
  return nullptr;
}

}  // namespace

Result<MSScan> MSScan::from_path(const std::filesystem::path& path) {
  auto file = read_file(path);
  if (!file) return std::move(file).error();
  return parse(file->view());
}

Result<MSScan> MSScan::parse(ByteView file) {
  if (file.size() < kMSScanHeaderSize) return Error::parse("MSScan.bin too small for header");
  const auto magic = load_le<std::uint32_t>(file, kMagicOffset);
  if (magic != kMSScanMagic) return Error::parse("Invalid MSScan magic: " + std::to_string(magic));
  const auto payload_offset = load_le<std::uint32_t>(file, kPayloadOffsetField);
  if (payload_offset > file.size()) return Error::parse("MSScan.bin truncated header");

  const ByteView payload = file.subspan(payload_offset);
  if (payload.size() < 4) return Error::parse(stride_failure(payload.size()));
  const Layout* layout = detect_layout(payload);
  if (layout == nullptr) return Error::parse(stride_failure(payload.size()));

  MSScan table;
  table.payload_offset = payload_offset;
  table.record_stride = layout->stride;
  const std::size_t count = payload.size() / layout->stride;
  table.records.reserve(count);
  for (std::size_t i = 0; i < count; ++i) {
    table.records.push_back(
        parse_record(payload.subspan(i * layout->stride, layout->stride), *layout));
  }
  return table;
}

}  // namespace velmoran::raw
