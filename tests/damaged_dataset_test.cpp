// Damaged copies of a small realistic run, made by the dataset writer:
// data files truncated at every block boundary and one byte short of it,
// scan tables cut at every record, single bytes flipped, files missing,
// empty, or of the wrong kind. Each case is checked for the exact error of
// Reader::open, or for exactly which scans lose their data and what they
// fall back to.
//
// Values are chosen to decode exactly: m/z in quarters (format 2 stores
// them times 100), integer intensities below 2^24, and a profile m/z axis
// with a step of 0.5.
#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include <sys/stat.h>

#include <gtest/gtest.h>

#include "dataset_writer.hpp"
#include <velmoran/reader.hpp>

namespace velmoran {
namespace {

using testkit::ByteVector;
using testkit::Descriptor;
using testkit::Layout;

constexpr double kFirstMz = 100.0;
constexpr double kMzStep = 0.5;

struct PeakList {
  std::uint32_t format_id = 3;
  std::vector<double> mz;
  std::vector<float> intensity;
};

struct PlannedScan {
  std::uint16_t ms_level = 1;
  std::optional<std::vector<std::uint32_t>> profile;
  std::optional<PeakList> peaks;
};

PeakList peak_list(std::uint32_t format_id, std::size_t count, std::uint32_t seed) {
  PeakList list;
  list.format_id = format_id;
  for (std::size_t i = 0; i < count; ++i) {
    list.mz.push_back(150.0 + 0.25 * static_cast<double>(seed * 40 + 7 * i));
    list.intensity.push_back(static_cast<float>(1000 * seed + 13 * i + 1));
  }
  return list;
}

std::vector<std::uint32_t> profile_values(std::size_t count, std::uint32_t seed) {
  std::vector<std::uint32_t> values(count);
  for (std::size_t i = 0; i < count; ++i) {
    values[i] = (i % 9 < 3) ? 0 : static_cast<std::uint32_t>((seed * 7919 + i * 104729) % 5000000);
  }
  return values;
}

// The run: profile data with a peak list beside it, peak lists of both
// formats, a profile of zero points that falls back to its peak list, and a
// scan with no data. Layouts with one descriptor keep a scan's profile and
// drop its peak list.
std::vector<PlannedScan> plan_for(Layout layout) {
  std::vector<PlannedScan> plan(7);
  plan[0] = {1, profile_values(40, 1), peak_list(3, 5, 1)};
  plan[1] = {2, std::nullopt, peak_list(2, 6, 2)};
  plan[2] = {2, std::nullopt, peak_list(3, 7, 3)};
  plan[3] = {1, profile_values(60, 4), std::nullopt};
  plan[4] = {1, std::vector<std::uint32_t>{}, peak_list(3, 4, 5)};
  plan[5] = {2, std::nullopt, std::nullopt};
  plan[6] = {1, profile_values(30, 7), peak_list(2, 3, 7)};
  if (layout != Layout::k284) {
    for (PlannedScan& scan : plan) {
      if (scan.profile) scan.peaks.reset();
    }
  }
  return plan;
}

struct Expected {
  std::vector<double> mz;
  std::vector<float> intensity;
  bool profile_decoded = false;
};

// A run written by the DatasetWriter, with where each scan's blocks went.
struct WrittenRun {
  Layout layout;
  std::vector<PlannedScan> plan;
  std::vector<Descriptor> profile_blocks;  // format ID 0 where none
  std::vector<Descriptor> peak_blocks;
  ByteVector table;
  ByteVector peak_file;
  ByteVector profile_file;

  // What the reader must produce when exactly the blocks that pass the
  // tests are intact and every other one fails to read or decode.
  std::vector<Expected> expected(const std::function<bool(std::size_t)>& profile_ok,
                                 const std::function<bool(std::size_t)>& peak_ok) const {
    std::vector<Expected> out(plan.size());
    for (std::size_t i = 0; i < plan.size(); ++i) {
      const PlannedScan& scan = plan[i];
      Expected& e = out[i];
      if (scan.profile && profile_ok(i)) {
        e.profile_decoded = true;
        const bool has_axis = layout == Layout::k284;
        for (std::size_t k = 0; k < scan.profile->size(); ++k) {
          e.mz.push_back(has_axis ? kFirstMz + kMzStep * static_cast<double>(k) : 0.0);
          e.intensity.push_back(static_cast<float>((*scan.profile)[k]));
        }
        if (!e.mz.empty()) continue;
      }
      if (scan.peaks && peak_ok(i)) {
        e.mz = scan.peaks->mz;
        e.intensity = scan.peaks->intensity;
      }
    }
    return out;
  }

  [[nodiscard]] std::vector<Expected> intact() const {
    return expected([](std::size_t) { return true; }, [](std::size_t) { return true; });
  }
};

WrittenRun make_run(Layout layout) {
  WrittenRun run{layout, plan_for(layout), {}, {}, {}, {}, {}};
  testkit::DatasetWriter writer;
  writer.table().layout = layout;
  for (std::size_t i = 0; i < run.plan.size(); ++i) {
    const PlannedScan& scan = run.plan[i];
    testkit::RecordSpec r;
    r.scan_id = static_cast<std::uint32_t>(100 + i);
    r.retention_time_min = 0.5 * static_cast<double>(i);
    r.ms_level = scan.ms_level;
    r.precursor_mz = 500.25;
    r.mrm_channel = 3;
    if (scan.profile) {
      const auto count = static_cast<double>(scan.profile->size());
      r.mz_range_low = kFirstMz;
      r.mz_range_high = kFirstMz + kMzStep * (count > 0 ? count - 1 : 0.0);
    }
    Descriptor profile;
    Descriptor peak;
    if (scan.profile) profile = writer.add_profile_block(*scan.profile);
    if (scan.peaks) {
      peak = writer.add_peak_block(scan.peaks->format_id, scan.peaks->mz, scan.peaks->intensity);
    }
    // The profile goes in the first descriptor; a peak list in the second
    // when there is one, else in the first.
    if (scan.profile) {
      r.first = profile;
      r.second = peak;
    } else {
      r.first = peak;
    }
    run.profile_blocks.push_back(profile);
    run.peak_blocks.push_back(peak);
    writer.table().records.push_back(r);
  }
  run.table = testkit::build_scan_table(writer.table());
  run.peak_file = writer.peak_file();
  run.profile_file = writer.profile_file();
  return run;
}

// The three files of a dataset, each optional, written under
// <dataset>/AcqData.
struct Files {
  std::optional<ByteVector> table;
  std::optional<ByteVector> peak;
  std::optional<ByteVector> profile;
};

Files files_of(const WrittenRun& run) { return {run.table, run.peak_file, run.profile_file}; }

void write_files(const std::filesystem::path& dataset, const Files& files) {
  std::filesystem::create_directories(dataset / "AcqData");
  if (files.table) testkit::write_file(dataset / "AcqData" / "MSScan.bin", *files.table);
  if (files.peak) testkit::write_file(dataset / "AcqData" / "MSPeak.bin", *files.peak);
  if (files.profile) testkit::write_file(dataset / "AcqData" / "MSProfile.bin", *files.profile);
}

// Opens and drains the dataset and compares every record with what is
// expected.
void expect_records(const std::filesystem::path& dataset, const std::vector<Expected>& expected) {
  auto reader = Reader::open(dataset);
  ASSERT_TRUE(reader) << reader.error().text();
  auto sequence = reader->iter_spectra();
  std::size_t i = 0;
  while (auto record = sequence->next()) {
    ASSERT_LT(i, expected.size());
    SCOPED_TRACE("scan " + std::to_string(i));
    EXPECT_EQ(record->index, i);
    EXPECT_EQ(record->profile_decoded, expected[i].profile_decoded);
    EXPECT_TRUE(std::ranges::equal(record->mz, expected[i].mz));
    EXPECT_TRUE(std::ranges::equal(record->intensity, expected[i].intensity));
    ++i;
  }
  EXPECT_EQ(i, expected.size());
}

void expect_open_error(const std::filesystem::path& dataset, const std::string& text) {
  auto reader = Reader::open(dataset);
  ASSERT_FALSE(reader);
  EXPECT_EQ(reader.error().text(), text);
}

// Where each block of one data file starts, and the file's end.
std::vector<std::size_t> boundaries(const std::vector<Descriptor>& blocks, std::size_t file_size) {
  std::vector<std::size_t> out;
  for (const Descriptor& d : blocks) {
    if (d.format_id != 0) out.push_back(static_cast<std::size_t>(d.offset));
  }
  out.push_back(file_size);
  return out;
}

bool fits(const Descriptor& d, std::size_t file_size) {
  return d.offset + d.byte_count <= file_size;
}

TEST(DamagedDataset, IntactRunInEveryLayout) {
  for (Layout layout : testkit::kAllLayouts) {
    SCOPED_TRACE(testkit::stride_of(layout));
    testkit::TempDir dir;
    const WrittenRun run = make_run(layout);
    write_files(dir / "run.d", files_of(run));
    expect_records(dir / "run.d", run.intact());
  }
}

// A half-written run: the data files end at a block boundary or one byte
// before it. Exactly the blocks that reach past the end are lost; a lost
// profile falls back to the scan's peak list.
TEST(DamagedDataset, DataFilesTruncatedAtEveryBlockBoundary) {
  for (Layout layout : testkit::kAllLayouts) {
    const WrittenRun run = make_run(layout);
    testkit::TempDir dir;
    int n = 0;
    for (const bool cut_peaks : {true, false}) {
      const ByteVector& file = cut_peaks ? run.peak_file : run.profile_file;
      const auto& blocks = cut_peaks ? run.peak_blocks : run.profile_blocks;
      for (const std::size_t boundary : boundaries(blocks, file.size())) {
        for (const std::size_t length : {boundary, boundary - 1}) {
          if (length > boundary) continue;  // boundary 0 has no byte before it
          SCOPED_TRACE(std::to_string(testkit::stride_of(layout)) +
                       (cut_peaks ? " MSPeak.bin" : " MSProfile.bin") + " cut to " +
                       std::to_string(length));
          Files files = files_of(run);
          (cut_peaks ? files.peak : files.profile)->resize(length);
          const auto dataset = dir / ("cut" + std::to_string(n++) + ".d");
          write_files(dataset, files);
          const auto intact = [&](const std::vector<Descriptor>& list, bool cut) {
            return [&list, cut, length](std::size_t i) { return !cut || fits(list[i], length); };
          };
          expect_records(dataset, run.expected(intact(run.profile_blocks, !cut_peaks),
                                               intact(run.peak_blocks, cut_peaks)));
        }
      }
    }
  }
}

// A scan table cut after any whole record still opens, with the records
// before the cut; cut inside the header or inside a record, it fails, or it
// opens with another layout that the length and the probe allow.
TEST(DamagedDataset, ScanTableTruncated) {
  constexpr std::size_t kHeader = 92;
  constexpr std::uint32_t kStrides[] = {284, 220, 216, 196, 186};
  for (Layout layout : testkit::kAllLayouts) {
    const WrittenRun run = make_run(layout);
    const std::size_t stride = testkit::stride_of(layout);
    testkit::TempDir dir;
    int n = 0;
    const auto with_table = [&](std::size_t length) {
      Files files = files_of(run);
      files.table->resize(length);
      const auto dataset = dir / ("cut" + std::to_string(n++) + ".d");
      write_files(dataset, files);
      return dataset;
    };
    SCOPED_TRACE(stride);
    for (const std::size_t length : {std::size_t{0}, std::size_t{50}, kHeader - 1}) {
      expect_open_error(with_table(length), "parse error: MSScan.bin too small for header");
    }
    expect_open_error(with_table(kHeader),
                      "parse error: Cannot determine record stride for payload len 0");
    for (std::size_t k = 1; k <= run.plan.size(); ++k) {
      SCOPED_TRACE(k);
      std::vector<Expected> expected = run.intact();
      expected.resize(k);
      expect_records(with_table(kHeader + k * stride), expected);

      const std::size_t payload = k * stride - stride / 2;
      const auto dataset = with_table(kHeader + payload);
      const bool some_stride_divides =
          std::ranges::any_of(kStrides, [&](std::uint32_t s) { return payload % s == 0; });
      const std::string message =
          "parse error: Cannot determine record stride for payload len " + std::to_string(payload);
      if (!some_stride_divides) {
        expect_open_error(dataset, message);
      } else if (auto reader = Reader::open(dataset)) {
        EXPECT_EQ(payload % reader->scans().record_stride, 0U);
        EXPECT_EQ(reader->scans().records.size(), payload / reader->scans().record_stride);
      } else {
        EXPECT_EQ(reader.error().text(), message);
      }
    }
  }
}

// Offsets in the 284-byte scan table of the run.
constexpr std::size_t kRecordStart = 92;
constexpr std::size_t kRecordStride = 284;
constexpr std::size_t kFirstDescriptor = 156;
constexpr std::size_t kSecondDescriptor = 220;
constexpr std::size_t kFormatId = 0;
constexpr std::size_t kByteCount = 12;
constexpr std::size_t kPointCount = 16;
constexpr std::size_t kUncompressed = 20;

std::size_t field(std::size_t scan, std::size_t descriptor, std::size_t offset) {
  return kRecordStart + scan * kRecordStride + descriptor + offset;
}

void add_to_u32(ByteVector& bytes, std::size_t at, std::uint32_t delta) {
  std::uint32_t value;
  std::memcpy(&value, bytes.data() + at, sizeof value);
  value += delta;
  std::memcpy(bytes.data() + at, &value, sizeof value);
}

TEST(DamagedDataset, FlippedBytes) {
  const WrittenRun run = make_run(Layout::k284);
  const auto all = [](std::size_t) { return true; };
  const auto all_but = [](std::size_t lost) { return [lost](std::size_t i) { return i != lost; }; };
  struct Case {
    const char* name;
    std::function<void(Files&)> damage;
    std::function<std::vector<Expected>()> expected;  // empty function: open fails
    std::string error;
  };
  const Case cases[] = {
      {"magic",
       [](Files& f) { (*f.table)[0] ^= 0xFF; },
       {},
       "parse error: Invalid MSScan magic: 510"},
      {"payload offset",
       [](Files& f) { (*f.table)[88 + 3] ^= 0x80; },
       {},
       "parse error: MSScan.bin truncated header"},
      {"MS level of the second record, which the stride probe reads",
       [](Files& f) { (*f.table)[kRecordStart + kRecordStride + 20] ^= 0x04; },
       {},
       "parse error: Cannot determine record stride for payload len 1988"},
      {"profile format ID 1 -> 0: the scan has no block",
       [](Files& f) { (*f.table)[field(3, kFirstDescriptor, kFormatId)] ^= 0x01; },
       [&] { return run.expected(all_but(3), all); }, ""},
      {"profile format ID 1 -> 2: the later peak descriptor wins",
       [](Files& f) { (*f.table)[field(0, kFirstDescriptor, kFormatId)] ^= 0x03; },
       [&] { return run.expected(all_but(0), all); }, ""},
      {"peak format ID 2 -> 6: an empty descriptor",
       [](Files& f) { (*f.table)[field(1, kFirstDescriptor, kFormatId)] ^= 0x04; },
       [&] { return run.expected(all, all_but(1)); }, ""},
      {"first LZF control byte becomes a back reference at the start",
       [&](Files& f) { (*f.profile)[run.profile_blocks[0].offset + 16] ^= 0xE0; },
       [&] { return run.expected(all_but(0), all); }, ""},
      {"profile preamble, which nothing reads",
       [&](Files& f) { (*f.profile)[run.profile_blocks[3].offset + 5] ^= 0xFF; },
       [&] { return run.intact(); }, ""},
      {"peak point count 7 -> 15: the block is too short",
       [](Files& f) { (*f.table)[field(2, kFirstDescriptor, kPointCount)] ^= 0x08; },
       [&] { return run.expected(all, all_but(2)); }, ""},
      {"uncompressed byte count one too many",
       [](Files& f) { add_to_u32(*f.table, field(3, kFirstDescriptor, kUncompressed), 1); },
       [&] { return run.expected(all_but(3), all); }, ""},
      {"uncompressed byte count one too few",
       [](Files& f) { add_to_u32(*f.table, field(3, kFirstDescriptor, kUncompressed), ~0U); },
       [&] { return run.expected(all_but(3), all); }, ""},
      {"profile byte count one too many: the extra byte is left over",
       [](Files& f) { add_to_u32(*f.table, field(3, kFirstDescriptor, kByteCount), 1); },
       [&] { return run.intact(); }, ""},
      {"last profile block one byte longer than the file",
       [](Files& f) { add_to_u32(*f.table, field(6, kFirstDescriptor, kByteCount), 1); },
       [&] { return run.expected(all_but(6), all); }, ""},
      {"peak byte count one too few",
       [](Files& f) { add_to_u32(*f.table, field(6, kSecondDescriptor, kByteCount), ~0U); },
       [&] { return run.intact(); }, ""},
      {"peak byte count one too few, profile lost",
       [](Files& f) {
         add_to_u32(*f.table, field(6, kSecondDescriptor, kByteCount), ~0U);
         (*f.table)[field(6, kFirstDescriptor, kFormatId)] = 0;
       },
       [&] { return run.expected(all_but(6), all_but(6)); }, ""},
  };
  testkit::TempDir dir;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Files files = files_of(run);
    c.damage(files);
    const auto dataset = dir / ("flip" + std::to_string(n++) + ".d");
    write_files(dataset, files);
    if (c.expected) {
      expect_records(dataset, c.expected());
    } else {
      expect_open_error(dataset, c.error);
    }
  }
}

TEST(DamagedDataset, FlippedPeakIntensity) {
  const WrittenRun run = make_run(Layout::k284);
  Files files = files_of(run);
  // Scan 2: format 3, the intensity of peak 0 at bytes 8..11 of its block;
  // flip the top bit of its exponent.
  (*files.peak)[run.peak_blocks[2].offset + 11] ^= 0x40;
  std::vector<Expected> expected = run.intact();
  expected[2].intensity[0] =
      std::bit_cast<float>(std::bit_cast<std::uint32_t>(expected[2].intensity[0]) ^ 0x40000000U);
  testkit::TempDir dir;
  write_files(dir / "run.d", files);
  expect_records(dir / "run.d", expected);
}

TEST(DamagedDataset, MissingEmptyAndMisplacedFiles) {
  const WrittenRun run = make_run(Layout::k284);
  const auto all = [](std::size_t) { return true; };
  const auto none = [](std::size_t) { return false; };
  const auto without_peaks = run.expected(all, none);
  const auto without_profiles = run.expected(none, all);
  const auto without_data = run.expected(none, none);
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
    std::optional<std::vector<Expected>> expected;
    std::string error;
  };
  const auto with = [&](Files files) {
    return [files](const std::filesystem::path& d) { write_files(d, files); };
  };
  Files no_peak = files_of(run);
  no_peak.peak.reset();
  Files no_profile = files_of(run);
  no_profile.profile.reset();
  Files no_data = files_of(run);
  no_data.peak.reset();
  no_data.profile.reset();
  Files no_table = files_of(run);
  no_table.table.reset();
  Files empty_peak = files_of(run);
  empty_peak.peak->clear();
  Files empty_profile = files_of(run);
  empty_profile.profile->clear();
  Files empty_table = files_of(run);
  empty_table.table->clear();

  const Case cases[] = {
      {"no MSPeak.bin", with(no_peak), without_peaks, ""},
      {"no MSProfile.bin", with(no_profile), without_profiles, ""},
      {"no data files", with(no_data), without_data, ""},
      {"empty MSPeak.bin", with(empty_peak), without_peaks, ""},
      {"empty MSProfile.bin", with(empty_profile), without_profiles, ""},
      {"MSPeak.bin is a directory",
       [&](const std::filesystem::path& d) {
         write_files(d, no_peak);
         std::filesystem::create_directory(d / "AcqData" / "MSPeak.bin");
       },
       without_peaks, ""},
      {"MSProfile.bin is a dangling link",
       [&](const std::filesystem::path& d) {
         write_files(d, no_profile);
         std::filesystem::create_symlink("nowhere", d / "AcqData" / "MSProfile.bin");
       },
       without_profiles, ""},
      {"MSPeak.bin is a FIFO that no one writes",
       [&](const std::filesystem::path& d) {
         write_files(d, no_peak);
         ASSERT_EQ(::mkfifo((d / "AcqData" / "MSPeak.bin").c_str(), 0600), 0);
       },
       without_peaks, ""},
      {"no MSScan.bin", with(no_table), std::nullopt, Error::os(ENOENT).text()},
      {"MSScan.bin is a FIFO that no one writes",
       [&](const std::filesystem::path& d) {
         write_files(d, no_table);
         ASSERT_EQ(::mkfifo((d / "AcqData" / "MSScan.bin").c_str(), 0600), 0);
       },
       std::nullopt, "parse error: MSScan.bin too small for header"},
      {"empty MSScan.bin", with(empty_table), std::nullopt,
       "parse error: MSScan.bin too small for header"},
      {"MSScan.bin is a directory",
       [&](const std::filesystem::path& d) {
         write_files(d, no_table);
         std::filesystem::create_directory(d / "AcqData" / "MSScan.bin");
       },
       std::nullopt, Error::os(EISDIR).text()},
      {"AcqData is a file",
       [&](const std::filesystem::path& d) {
         std::filesystem::create_directories(d);
         testkit::write_file(d / "AcqData", run.table);
       },
       std::nullopt, Error::os(ENOTDIR).text()},
      {"no AcqData", [](const std::filesystem::path& d) { std::filesystem::create_directories(d); },
       std::nullopt, "parse error: AcqData directory not found"},
  };
  testkit::TempDir dir;
  int n = 0;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto dataset = dir / ("case" + std::to_string(n++) + ".d");
    c.make(dataset);
    if (c.expected) {
      expect_records(dataset, *c.expected);
    } else {
      expect_open_error(dataset, c.error);
    }
  }
}

}  // namespace
}  // namespace velmoran
