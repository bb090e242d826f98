#include <velmoran/raw/msscan.hpp>

#include <cerrno>
#include <cstring>

#include <gtest/gtest.h>

#include "dataset_writer.hpp"

namespace velmoran::raw {
namespace {

using testkit::ByteVector;
using testkit::Descriptor;
using testkit::Layout;
using testkit::RecordSpec;
using testkit::ScanTableSpec;

std::string parse_failure(const ByteVector& file) {
  auto table = MSScan::parse(file);
  if (table) return "parsed";
  EXPECT_TRUE(table.error().is_parse());
  return table.error().detail();
}

ByteVector header_only(std::uint32_t magic, std::uint32_t payload_offset, std::size_t size) {
  ScanTableSpec spec;
  spec.magic = magic;
  spec.payload_offset = payload_offset;
  ByteVector file = testkit::build_scan_table(spec);
  file.resize(size);
  return file;
}

RecordSpec scan(std::uint32_t id, std::uint16_t level) {
  RecordSpec r;
  r.scan_id = id;
  r.ms_level = level;
  return r;
}

ScanTableSpec table_of(Layout layout, std::vector<RecordSpec> records) {
  ScanTableSpec spec;
  spec.layout = layout;
  spec.records = std::move(records);
  return spec;
}

TEST(MSScanHeader, ChecksRunInOrder) {
  struct Case {
    const char* name;
    ByteVector file;
    std::string message;
  };
  ByteVector ninety_one(91, 0xFF);
  ByteVector wrong_magic = header_only(256, 92, 200);  // bytes 00 01 00 00
  const Case cases[] = {
      {"empty", {}, "MSScan.bin too small for header"},
      {"91 bytes, length before magic", ninety_one, "MSScan.bin too small for header"},
      {"magic 256", wrong_magic, "Invalid MSScan magic: 256"},
      {"payload offset past end", header_only(257, 93, 92), "MSScan.bin truncated header"},
      {"empty payload", header_only(257, 92, 92),
       "Cannot determine record stride for payload len 0"},
      {"3-byte payload", header_only(257, 92, 95),
       "Cannot determine record stride for payload len 3"},
      {"no stride divides", header_only(257, 92, 92 + 285),
       "Cannot determine record stride for payload len 285"},
  };
  for (const Case& c : cases) EXPECT_EQ(parse_failure(c.file), c.message) << c.name;
}

TEST(MSScanHeader, MagicIsUnsignedDecimal) {
  EXPECT_EQ(parse_failure(header_only(0xFFFFFFFFU, 92, 100)), "Invalid MSScan magic: 4294967295");
}

TEST(StrideDetection, SingleRecordOfEachLayoutNeedsNoProbe) {
  for (Layout layout : testkit::kAllLayouts) {
    // MS level 7 and scan id 0 would fail any probe.
    auto table = MSScan::parse(build_scan_table(table_of(layout, {scan(0, 7)})));
    ASSERT_TRUE(table) << testkit::stride_of(layout);
    EXPECT_EQ(table->record_stride, testkit::stride_of(layout));
    EXPECT_EQ(table->records.size(), 1U);
    EXPECT_EQ(table->payload_offset, 92U);
  }
}

TEST(StrideDetection, ProbeRules) {
  struct Case {
    const char* name;
    std::uint32_t first;
    std::uint32_t second;
    std::uint16_t second_level;
    bool chosen;
  };
  const Case cases[] = {
      {"next scan, MS1", 10, 11, 1, true},
      {"MS2", 10, 11, 2, true},
      {"MS level 0", 10, 11, 0, false},
      {"MS level 3", 10, 11, 3, false},
      {"equal scan numbers", 10, 10, 1, false},
      {"decreasing", 10, 9, 1, false},
      {"first + 99999", 10, 10 + 99999, 1, true},
      {"first + 100000", 10, 10 + 100000, 1, false},
      // The bound is formed in 64 bits, so it does not wrap near the top.
      {"near 2^32, in window", 0xFFFFFFF0U, 0xFFFFFFFEU, 1, true},
  };
  for (const Case& c : cases) {
    // 440 bytes: a multiple of 220 alone among the candidates.
    auto table = MSScan::parse(build_scan_table(
        table_of(Layout::k220, {scan(c.first, 9), scan(c.second, c.second_level)})));
    if (c.chosen) {
      ASSERT_TRUE(table) << c.name;
      EXPECT_EQ(table->record_stride, 220U) << c.name;
      EXPECT_EQ(table->records.size(), 2U) << c.name;
    } else {
      ASSERT_FALSE(table) << c.name;
      EXPECT_EQ(table.error().detail(), "Cannot determine record stride for payload len 440")
          << c.name;
    }
  }
}

TEST(StrideDetection, EveryLayoutIsFoundWithItsProbe) {
  for (Layout layout : testkit::kAllLayouts) {
    auto table =
        MSScan::parse(build_scan_table(table_of(layout, {scan(1, 1), scan(2, 2), scan(3, 1)})));
    ASSERT_TRUE(table) << testkit::stride_of(layout);
    EXPECT_EQ(table->record_stride, testkit::stride_of(layout));
    EXPECT_EQ(table->records.size(), 3U);
  }
}

TEST(StrideDetection, CandidateOrderDecidesCommonMultiples) {
  // 284 * 186 bytes divides by 284 and by 186 only. Records of 186 bytes
  // whose 284-byte probe fails fall through to 186.
  std::vector<RecordSpec> narrow;
  for (std::uint32_t i = 0; i < 284; ++i) narrow.push_back(scan(1000 + i, 1));
  ScanTableSpec spec = table_of(Layout::k186, narrow);
  // The 284 probe reads the scan number at payload offset 284 (inside
  // record 1 of the 186 layout, at its byte 98) and MS level at 304.
  auto chosen = MSScan::parse(build_scan_table(spec));
  ASSERT_TRUE(chosen);
  EXPECT_EQ(chosen->record_stride, 186U);
  EXPECT_EQ(chosen->records.size(), 284U);

  // Make record 1 of the 186 layout look like a valid second 284 record:
  // scan number 1001 at its byte 98, MS level 1 at its byte 118.
  spec.records[1].patches = {{98, {0xE9, 0x03, 0, 0}}, {118, {1, 0}}};
  auto wide = MSScan::parse(build_scan_table(spec));
  ASSERT_TRUE(wide);
  EXPECT_EQ(wide->record_stride, 284U);
  EXPECT_EQ(wide->records.size(), 186U);
}

TEST(StrideDetection, FirstRecordLevelIsNotTestedAndPayloadOffsetZeroIsAccepted) {
  ScanTableSpec spec = table_of(Layout::k216, {scan(1, 0), scan(300, 1)});
  spec.payload_offset = 0;
  // With payload offset 0 the header is the first record: its scan
  // number is the magic. Make the second scan number follow it.
  spec.records[1].scan_id = 258;
  ByteVector file = build_scan_table(spec);
  auto table = MSScan::parse(file);
  ASSERT_TRUE(table);
  EXPECT_EQ(table->record_stride, 216U);
  EXPECT_EQ(table->records[0].scan_id, 257U);
}

TEST(ScanRecordFields, EachLayoutReadsItsOwnOffsets) {
  struct Expect {
    Layout layout;
    bool mrm;
    bool precursor;
    bool range;
  };
  const Expect expectations[] = {
      {Layout::k284, false, true, true},  {Layout::k220, false, true, false},
      {Layout::k216, false, true, false}, {Layout::k196, true, false, false},
      {Layout::k186, true, false, false},
  };
  for (const Expect& e : expectations) {
    RecordSpec ms1 = scan(41, 1);
    ms1.retention_time_min = 1.25;
    ms1.mrm_channel = 7;
    ms1.precursor_mz = 999.0;  // present in the bytes, but MS1 has none
    ms1.mz_range_low = 100.5;
    ms1.mz_range_high = 1500.25;
    RecordSpec ms2 = ms1;
    ms2.scan_id = 42;
    ms2.ms_level = 2;
    ms2.precursor_mz = 0.0;  // all zero, still present for MS2
    auto table = MSScan::parse(build_scan_table(table_of(e.layout, {ms1, ms2})));
    ASSERT_TRUE(table);
    const auto& r = table->records;
    const auto stride = testkit::stride_of(e.layout);
    EXPECT_EQ(r[0].scan_id, 41U) << stride;
    EXPECT_EQ(r[0].ms_level, 1U) << stride;
    EXPECT_EQ(r[0].retention_time_min, 1.25) << stride;
    EXPECT_EQ(r[1].ms_level, 2U) << stride;
    EXPECT_EQ(r[0].mrm_channel, e.mrm ? std::optional<std::uint32_t>(7) : std::nullopt) << stride;
    EXPECT_EQ(r[1].mrm_channel.has_value(), e.mrm) << stride;
    EXPECT_FALSE(r[0].precursor_mz) << stride;
    EXPECT_EQ(r[1].precursor_mz, e.precursor ? std::optional<double>(0.0) : std::nullopt) << stride;
    EXPECT_EQ(r[0].mz_range_low, e.range ? std::optional<double>(100.5) : std::nullopt) << stride;
    EXPECT_EQ(r[0].mz_range_high, e.range ? std::optional<double>(1500.25) : std::nullopt)
        << stride;
  }
}

Descriptor descriptor(std::uint32_t format_id, std::uint64_t offset) {
  return Descriptor{format_id, offset, 1000 + format_id, 10 + format_id, 5000};
}

TEST(ScanRecordBlocks, FirstDescriptorOfEachLayout) {
  for (Layout layout : testkit::kAllLayouts) {
    const auto stride = testkit::stride_of(layout);
    RecordSpec profile = scan(1, 1);
    profile.first = descriptor(1, 0x0102030405060708ULL);
    RecordSpec peak = scan(2, 1);
    peak.first = descriptor(3, 77);
    RecordSpec empty = scan(3, 1);
    empty.first = descriptor(9, 77);
    auto table = MSScan::parse(build_scan_table(table_of(layout, {profile, peak, empty})));
    ASSERT_TRUE(table) << stride;
    const auto& r = table->records;
    const BlockRef expected_profile{5000, 0x0102030405060708ULL, 1, 1001, 11};
    const BlockRef expected_peak{std::nullopt, 77, 3, 1003, 13};
    EXPECT_EQ(r[0].profile_block, expected_profile) << stride;
    EXPECT_FALSE(r[0].peak_block) << stride;
    EXPECT_EQ(r[1].peak_block, expected_peak) << stride;
    EXPECT_FALSE(r[1].profile_block) << stride;
    EXPECT_FALSE(r[2].profile_block || r[2].peak_block) << stride;
  }
}

TEST(ScanRecordBlocks, SecondDescriptorPrecedenceIn284Layout) {
  struct Case {
    std::uint32_t first;
    std::uint32_t second;
    bool profile;
    bool peak;
    std::uint64_t profile_offset;
  };
  const Case cases[] = {
      {2, 1, true, true, 200},   // one of each kind
      {1, 1, true, false, 200},  // the later profile descriptor wins
      {1, 0, true, false, 100},  // an empty descriptor leaves the first
      {1, 3, true, true, 100},   // the other kind leaves it too
      {0, 0, false, false, 0},   // neither: the record stays
  };
  for (const Case& c : cases) {
    RecordSpec r = scan(1, 1);
    r.first = descriptor(c.first, 100);
    r.second = descriptor(c.second, 200);
    auto table = MSScan::parse(build_scan_table(table_of(Layout::k284, {r})));
    ASSERT_TRUE(table);
    const ScanRecord& got = table->records[0];
    EXPECT_EQ(got.profile_block.has_value(), c.profile) << c.first << "," << c.second;
    EXPECT_EQ(got.peak_block.has_value(), c.peak) << c.first << "," << c.second;
    if (c.profile) {
      EXPECT_EQ(got.profile_block->offset, c.profile_offset);
    }
  }
}

TEST(ScanRecordBlocks, NarrowFormatIdIs16Bits) {
  // In the 186 layout the bytes 01 00 at offset 136 make a profile block,
  // whatever follows them; in the 196 layout the ID is 32 bits wide.
  RecordSpec r = scan(1, 1);
  r.patches = {{136, {1, 0, 0xAA, 0xBB}}};
  auto narrow = MSScan::parse(build_scan_table(table_of(Layout::k186, {r})));
  ASSERT_TRUE(narrow);
  ASSERT_TRUE(narrow->records[0].profile_block);
  EXPECT_EQ(narrow->records[0].profile_block->offset & 0xFFFFU, 0xBBAAU);

  r.patches = {{144, {1, 0, 1, 0}}};  // 0x00010001: not a format ID
  auto wide = MSScan::parse(build_scan_table(table_of(Layout::k196, {r})));
  ASSERT_TRUE(wide);
  EXPECT_FALSE(wide->records[0].profile_block);
}

TEST(ScanRecordFields, RecordsAreKeptAsRead) {
  // Out-of-order scan numbers after the probe, MS level 0, no blocks.
  auto table = MSScan::parse(
      build_scan_table(table_of(Layout::k196, {scan(5, 1), scan(6, 1), scan(2, 0), scan(2, 9)})));
  ASSERT_TRUE(table);
  ASSERT_EQ(table->records.size(), 4U);
  EXPECT_EQ(table->records[2].scan_id, 2U);
  EXPECT_EQ(table->records[3].ms_level, 9U);
}

TEST(MSScanFromPath, IoErrorsComeFromTheFileLayer) {
  testkit::TempDir dir;
  auto missing = MSScan::from_path(dir / "MSScan.bin");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().os_error(), ENOENT);
  testkit::write_file(dir / "MSScan.bin", build_scan_table(table_of(Layout::k220, {scan(3, 1)})));
  auto table = MSScan::from_path(dir / "MSScan.bin");
  ASSERT_TRUE(table);
  EXPECT_EQ(table->records[0].scan_id, 3U);
}

}  // namespace
}  // namespace velmoran::raw
