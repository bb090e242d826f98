// raw::MSScan::parse on any bytes: a table that parses has exactly the
// records its payload holds, each shaped by its layout alone.
#include "check.hpp"
#include "targets.hpp"

namespace velmoran::fuzz {

namespace {

bool known_stride(std::uint32_t stride) {
  return stride == 284 || stride == 220 || stride == 216 || stride == 196 || stride == 186;
}

void check_record(const raw::ScanRecord& scan, std::uint32_t stride) {
  const bool mrm_layout = stride == 196 || stride == 186;
  VELMORAN_FUZZ_CHECK(scan.mrm_channel.has_value() == mrm_layout);
  VELMORAN_FUZZ_CHECK(scan.mz_range_low.has_value() == (stride == 284));
  VELMORAN_FUZZ_CHECK(scan.mz_range_high.has_value() == (stride == 284));
  VELMORAN_FUZZ_CHECK(scan.precursor_mz.has_value() == (!mrm_layout && scan.ms_level >= 2));
  VELMORAN_FUZZ_CHECK(scan.ms_level <= 0xFFFFU);
  if (scan.profile_block) {
    VELMORAN_FUZZ_CHECK(scan.profile_block->format_id == raw::kProfileFormatId);
    VELMORAN_FUZZ_CHECK(scan.profile_block->uncompressed_byte_count.has_value());
  }
  if (scan.peak_block) {
    VELMORAN_FUZZ_CHECK(scan.peak_block->format_id == raw::kPeakFormatPlanar ||
                        scan.peak_block->format_id == raw::kPeakFormatInterleaved);
    VELMORAN_FUZZ_CHECK(!scan.peak_block->uncompressed_byte_count.has_value());
  }
}

}  // namespace

void run_msscan(ByteView input) {
  auto table = raw::MSScan::parse(input);
  if (!table) {
    VELMORAN_FUZZ_CHECK(table.error().is_parse());
    return;
  }
  const std::uint32_t stride = table->record_stride;
  VELMORAN_FUZZ_CHECK(known_stride(stride));
  VELMORAN_FUZZ_CHECK(input.size() >= raw::kMSScanHeaderSize);
  VELMORAN_FUZZ_CHECK(table->payload_offset <= input.size());
  const std::size_t payload = input.size() - table->payload_offset;
  VELMORAN_FUZZ_CHECK(payload % stride == 0);
  VELMORAN_FUZZ_CHECK(table->records.size() == payload / stride);
  VELMORAN_FUZZ_CHECK(!table->records.empty());
  for (const raw::ScanRecord& scan : table->records) check_record(scan, stride);
}

}  // namespace velmoran::fuzz
