#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <string>
#include <sys/inotify.h>
#include <unistd.h>
#include <vector>

#include <quorlith/source.hpp>

#include "dataset_writer.hpp"
#include "expected_record.hpp"
#include <velmoran/reader.hpp>

namespace velmoran {
namespace {

using quorlith::SpectrumRecord;
using testkit::DatasetWriter;
using testkit::Descriptor;
using testkit::Layout;
using testkit::RecordSpec;
using testkit::TempDir;

struct Arrays {
  std::vector<double> mz;
  std::vector<float> intensity;
};

const Arrays kNone{};
const Arrays kPeaks{{100.5, 200.25}, {1.5F, 3.0F}};
const Arrays kOtherPeaks{{300.125, 400.0, 500.5}, {7.0F, 8.0F, 9.0F}};
const std::vector<std::uint32_t> kProfileCounts{10, 0, 16777217};
// kProfileCounts spanned over 100..200; the last intensity rounds to even.
const Arrays kProfile{{100.0, 150.0, 200.0}, {10.0F, 0.0F, 16777216.0F}};

bool is_mrm(Layout layout) {
  return testkit::offsets_of(layout).mrm_channel != testkit::LayoutOffsets::npos;
}

// The record the reader must make of `spec`, read from a table of `layout`,
// with the given arrays.
SpectrumRecord expected_record(Layout layout, const RecordSpec& spec, std::uint64_t index,
                               const Arrays& arrays, bool profile_decoded) {
  testkit::ExpectedSpectrum stored = testkit::stored_fields(layout, spec);
  stored.mz = arrays.mz;
  stored.intensity = arrays.intensity;
  stored.from_profile = profile_decoded;
  return testkit::expected_record(stored, index, layout);
}

// A scan-table record, field by field.
class Scan {
 public:
  Scan(std::uint32_t scan_id, std::uint16_t ms_level, double retention_time_min = 0.0) {
    spec_.scan_id = scan_id;
    spec_.ms_level = ms_level;
    spec_.retention_time_min = retention_time_min;
  }
  Scan& mrm(std::uint32_t channel) {
    spec_.mrm_channel = channel;
    return *this;
  }
  Scan& precursor(double mz) {
    spec_.precursor_mz = mz;
    return *this;
  }
  Scan& range(double low, double high) {
    spec_.mz_range_low = low;
    spec_.mz_range_high = high;
    return *this;
  }
  Scan& blocks(const Descriptor& first, const Descriptor& second = {}) {
    spec_.first = first;
    spec_.second = second;
    return *this;
  }
  operator RecordSpec() const { return spec_; }  // NOLINT(google-explicit-constructor)

 private:
  RecordSpec spec_;
};

Reader open_dataset(const std::filesystem::path& dir) {
  auto reader = Reader::open(dir);
  if (!reader) throw std::runtime_error(reader.error().text());
  return std::move(reader).value();
}

std::vector<SpectrumRecord> drain(quorlith::SpectrumSequence& sequence) {
  std::vector<SpectrumRecord> out;
  while (auto record = sequence.next()) out.push_back(std::move(*record));
  return out;
}

// Names of the entries of a directory that were opened since the last
// call, as the kernel reports them.
class OpenWatch {
 public:
  explicit OpenWatch(const std::filesystem::path& dir)
      : fd_(::inotify_init1(IN_NONBLOCK | IN_CLOEXEC)) {
    if (fd_ < 0 || ::inotify_add_watch(fd_, dir.c_str(), IN_OPEN) < 0) {
      throw std::runtime_error("inotify unavailable");
    }
  }
  OpenWatch(const OpenWatch&) = delete;
  OpenWatch& operator=(const OpenWatch&) = delete;
  ~OpenWatch() { ::close(fd_); }

  std::vector<std::string> opened() {
    std::vector<std::string> names;
    std::vector<char> buffer(64 * 1024);
    for (;;) {
      const ssize_t got = ::read(fd_, buffer.data(), buffer.size());
      if (got <= 0) break;
      for (std::size_t at = 0; at < static_cast<std::size_t>(got);) {
        inotify_event event;
        std::memcpy(&event, buffer.data() + at, sizeof event);
        if (event.len > 0) names.emplace_back(buffer.data() + at + sizeof event);
        at += sizeof event + event.len;
      }
    }
    return names;
  }

 private:
  int fd_;
};

// --- Whole records, every layout ------------------------------------------

class EveryLayout : public testing::TestWithParam<Layout> {};

TEST_P(EveryLayout, DrainsToExactlyTheRecordsOfTheTable) {
  const Layout layout = GetParam();
  DatasetWriter w;
  w.table().layout = layout;
  const auto peak2 = w.add_peak_block(2, kPeaks.mz, kPeaks.intensity);
  const auto peak3 = w.add_peak_block(3, kOtherPeaks.mz, kOtherPeaks.intensity);
  const auto profile = w.add_profile_block(kProfileCounts);

  struct Row {
    RecordSpec spec;
    const Arrays* arrays;
    bool profile_decoded;
  };
  std::vector<Row> rows;
  // A survey scan with a peak block; 1.5 minutes are 90 seconds.
  rows.push_back(
      {Scan(7, 1, 1.5).mrm(3).precursor(612.5).range(100.0, 200.0).blocks(peak2), &kPeaks, false});
  // A fragment scan in the other peak format.
  rows.push_back({Scan(8, 2, 1.75).mrm(4).precursor(445.12).range(50.0, 900.0).blocks(peak3),
                  &kOtherPeaks, false});
  // No block at all; a stored precursor of 0.0 is still a precursor.
  rows.push_back({Scan(9, 3, 2.0).mrm(0), &kNone, false});
  // Scan number 0 and MS level 0: kept as they are.
  rows.push_back({Scan(0, 0), &kNone, false});
  // A profile block: the axis spans the m/z range, where the layout has one,
  // and is 0.0 everywhere where it has none.
  Arrays profile_arrays = kProfile;
  if (layout != Layout::k284) profile_arrays.mz.assign(3, 0.0);
  rows.push_back({Scan(4294967295U, 65535, 3.0)
                      .mrm(4294967295U)
                      .precursor(-1.0)
                      .range(100.0, 200.0)
                      .blocks(profile),
                  &profile_arrays, true});
  if (layout == Layout::k284) {
    // Both blocks: the profile wins and the peak block is not used.
    rows.push_back({Scan(12, 1, 4.0).range(100.0, 200.0).blocks(peak2, profile), &kProfile, true});
  }
  for (const Row& row : rows) w.table().records.push_back(row.spec);

  const TempDir dir;
  w.write(dir.path());
  const Reader reader = open_dataset(dir.path());
  auto sequence = reader.iter_spectra();
  const std::vector<SpectrumRecord> records = drain(*sequence);
  ASSERT_EQ(records.size(), rows.size());
  for (std::size_t i = 0; i < rows.size(); ++i) {
    EXPECT_EQ(records[i],
              expected_record(layout, rows[i].spec, i, *rows[i].arrays, rows[i].profile_decoded))
        << "record " << i;
    // Random access gives the same record, in any order.
    const std::size_t back = rows.size() - 1 - i;
    EXPECT_EQ(reader.spectrum_at(back),
              expected_record(layout, rows[back].spec, back, *rows[back].arrays,
                              rows[back].profile_decoded))
        << "spectrum_at " << back;
  }
  EXPECT_FALSE(sequence->next());
  EXPECT_FALSE(sequence->next());
  EXPECT_FALSE(reader.spectrum_at(rows.size()));
}

TEST_P(EveryLayout, PrecursorFollowsTheMsLevelAndTheLayout) {
  const Layout layout = GetParam();
  DatasetWriter w;
  w.table().layout = layout;
  for (const std::uint16_t level : std::initializer_list<std::uint16_t>{1, 2, 0, 3}) {
    RecordSpec spec = Scan(20U + level, level).mrm(40U + level).precursor(500.25);
    // MS1 scans with non-zero precursor bytes still have no precursor; an
    // MS2 scan whose precursor bytes are all zero still has one.
    if (level == 3) spec.precursor_mz = 0.0;
    w.table().records.push_back(spec);
  }
  w.table().records[0].scan_id = 1;  // keeps the second scan number above the first
  const TempDir dir;
  w.write(dir.path());
  const Reader reader = open_dataset(dir.path());
  const auto records = drain(*reader.iter_spectra());
  ASSERT_EQ(records.size(), 4U);

  EXPECT_FALSE(records[0].precursor);
  EXPECT_FALSE(records[2].precursor);
  const std::string ms2_ref = is_mrm(layout) ? "mrm_channel=42" : "scanId=22";
  const std::string ms3_ref = is_mrm(layout) ? "mrm_channel=43" : "scanId=23";
  ASSERT_TRUE(records[1].precursor);
  ASSERT_TRUE(records[3].precursor);
  EXPECT_EQ(records[1].precursor->spectrum_ref, ms2_ref);
  EXPECT_EQ(records[3].precursor->spectrum_ref, ms3_ref);
  if (is_mrm(layout)) {
    EXPECT_FALSE(records[1].precursor->selected_mz);
    EXPECT_FALSE(records[3].precursor->selected_mz);
  } else {
    EXPECT_EQ(records[1].precursor->selected_mz, 500.25);
    EXPECT_EQ(records[3].precursor->selected_mz, 0.0);
  }
  // The reserved members stay as a fresh precursor has them.
  quorlith::Precursor bare = *records[1].precursor;
  bare.selected_mz.reset();
  bare.spectrum_ref.reset();
  EXPECT_EQ(bare, quorlith::Precursor{});
}

INSTANTIATE_TEST_SUITE_P(Layouts, EveryLayout, testing::ValuesIn(testkit::kAllLayouts),
                         [](const auto& layout) {
                           return "L" + std::to_string(testkit::stride_of(layout.param));
                         });

// --- Profile first, peaks as the fallback ---------------------------------

struct FallbackCase {
  const char* name;
  // Builds one scan's descriptors in the writer; returns them as (first,
  // second) of a 284-layout record.
  std::pair<Descriptor, Descriptor> (*blocks)(DatasetWriter&);
  DatasetWriter::Files files;
  const Arrays* arrays;
  bool profile_decoded;
  bool peak_file_opened;
};

Descriptor good_peaks(DatasetWriter& w) { return w.add_peak_block(3, kPeaks.mz, kPeaks.intensity); }
Descriptor good_profile(DatasetWriter& w) { return w.add_profile_block(kProfileCounts); }
Descriptor empty_profile(DatasetWriter& w) { return w.add_profile_block({}); }
// Lies past the end of MSProfile.bin: the read fails.
Descriptor unreadable_profile(DatasetWriter& w) {
  Descriptor d = good_profile(w);
  d.offset += 1;
  return d;
}
// A good stream that expands to fewer bytes than the table claims.
Descriptor undecodable_profile(DatasetWriter& w) {
  Descriptor d = good_profile(w);
  d.uncompressed_byte_count += 4;
  return d;
}
// Claims one peak more than the block holds.
Descriptor undecodable_peaks(DatasetWriter& w) {
  Descriptor d = good_peaks(w);
  d.point_count += 1;
  return d;
}

constexpr DatasetWriter::Files kAllFiles{};
constexpr DatasetWriter::Files kNoPeakFile{.scan_table = true, .peak = false, .profile = true};
constexpr DatasetWriter::Files kNoDataFiles{.scan_table = true, .peak = false, .profile = false};

const FallbackCase kFallbacks[] = {
    {"no_profile_block",
     [](DatasetWriter& w) {
       return std::pair{good_peaks(w), Descriptor{}};
     },
     kAllFiles, &kPeaks, false, true},
    {"profile_read_fails",
     [](DatasetWriter& w) {
       return std::pair{good_peaks(w), unreadable_profile(w)};
     },
     kAllFiles, &kPeaks, false, true},
    {"profile_file_missing",
     [](DatasetWriter& w) {
       return std::pair{good_peaks(w), good_profile(w)};
     },
     {.scan_table = true, .peak = true, .profile = false},
     &kPeaks,
     false,
     true},
    {"profile_decode_fails",
     [](DatasetWriter& w) {
       return std::pair{good_peaks(w), undecodable_profile(w)};
     },
     kAllFiles, &kPeaks, false, true},
    {"profile_of_zero_points",
     [](DatasetWriter& w) {
       return std::pair{good_peaks(w), empty_profile(w)};
     },
     kAllFiles, &kPeaks, true, true},
    {"profile_of_zero_points_no_peaks",
     [](DatasetWriter& w) {
       return std::pair{Descriptor{}, empty_profile(w)};
     },
     kAllFiles, &kNone, true, false},
    {"profile_with_points_peak_file_missing",
     [](DatasetWriter& w) {
       return std::pair{good_peaks(w), good_profile(w)};
     },
     kNoPeakFile, &kProfile, true, false},
    {"profile_with_points_peaks_corrupt",
     [](DatasetWriter& w) {
       return std::pair{undecodable_peaks(w), good_profile(w)};
     },
     kAllFiles, &kProfile, true, false},
    {"both_undecodable",
     [](DatasetWriter& w) {
       return std::pair{undecodable_peaks(w), undecodable_profile(w)};
     },
     kAllFiles, &kNone, false, true},
    {"both_files_missing",
     [](DatasetWriter& w) {
       return std::pair{good_peaks(w), good_profile(w)};
     },
     kNoDataFiles, &kNone, false, true},
    {"no_blocks",
     [](DatasetWriter&) {
       return std::pair{Descriptor{}, Descriptor{}};
     },
     kAllFiles, &kNone, false, false},
};

class Fallback : public testing::TestWithParam<FallbackCase> {};

TEST_P(Fallback, ChoosesTheArraysAndReadsThePeakFileOnlyWhenNeeded) {
  const FallbackCase& c = GetParam();
  DatasetWriter w;
  // Something unrelated first, so no block sits at offset 0.
  (void)w.add_peak_block(2, kOtherPeaks.mz, kOtherPeaks.intensity);
  (void)w.add_profile_block(std::vector<std::uint32_t>{1, 2, 3, 4});
  const auto [first, second] = c.blocks(w);
  const RecordSpec spec = Scan(5, 1, 0.5).range(100.0, 200.0).blocks(first, second);
  w.table().records.push_back(spec);
  const TempDir dir;
  w.write(dir.path(), c.files);
  const Reader reader = open_dataset(dir.path());

  OpenWatch watch(dir.path() / "AcqData");
  auto records = drain(*reader.iter_spectra());
  ASSERT_EQ(records.size(), 1U);
  EXPECT_EQ(records[0], expected_record(Layout::k284, spec, 0, *c.arrays, c.profile_decoded));
  const auto opened = watch.opened();
  const bool peak_opened = std::count(opened.begin(), opened.end(), "MSPeak.bin") > 0;
  // A missing file cannot be opened, so only its presence shows the
  // attempt; where the peak block must not be read, no attempt is allowed.
  if (!c.peak_file_opened || c.files.peak) {
    EXPECT_EQ(peak_opened, c.peak_file_opened);
  }
}

INSTANTIATE_TEST_SUITE_P(Blocks, Fallback, testing::ValuesIn(kFallbacks),
                         [](const auto& fallback) { return std::string(fallback.param.name); });

// --- Positions, counts and skipping ---------------------------------------

// A dataset of `count` scans numbered 1.., each with a one-peak block whose
// m/z is 1000 + its position.
Reader numbered_dataset(const TempDir& dir, std::size_t count) {
  DatasetWriter w;
  for (std::size_t i = 0; i < count; ++i) {
    const double mz[] = {1000.0 + static_cast<double>(i)};
    const float intensity[] = {1.0F};
    w.table().records.push_back(
        Scan(static_cast<std::uint32_t>(i + 1), 1).blocks(w.add_peak_block(3, mz, intensity)));
  }
  w.write(dir.path());
  return open_dataset(dir.path());
}

void expect_position(const std::optional<SpectrumRecord>& record, std::uint64_t position) {
  ASSERT_TRUE(record) << "expected the record at " << position;
  EXPECT_EQ(record->index, position);
  EXPECT_EQ(record->scan_id, position + 1);
  ASSERT_EQ(record->mz.size(), 1U);
  EXPECT_EQ(record->mz[0], 1000.0 + static_cast<double>(position));
}

TEST(SpectrumSequence, IndexIsThePositionInTheTableAcrossAdvanceByAndNth) {
  const TempDir dir;
  const Reader reader = numbered_dataset(dir, 5);

  auto a = reader.iter_spectra();
  EXPECT_EQ(a->advance_by(0), 0U);
  EXPECT_EQ(a->advance_by(2), 0U);
  expect_position(a->next(), 2);
  expect_position(a->nth(0), 3);
  expect_position(a->nth(0), 4);
  EXPECT_FALSE(a->nth(0));

  auto b = reader.iter_spectra();
  expect_position(b->nth(1), 1);
  expect_position(b->nth(2), 4);
  EXPECT_EQ(b->advance_by(0), 0U);
  EXPECT_EQ(b->advance_by(3), 3U);

  auto c = reader.iter_spectra();
  EXPECT_EQ(c->advance_by(7), 2U);
  EXPECT_FALSE(c->next());

  auto d = reader.iter_spectra();
  EXPECT_FALSE(d->nth(5));
  EXPECT_FALSE(d->next());
  EXPECT_FALSE(d->next());

  auto e = reader.iter_spectra();
  expect_position(e->nth(4), 4);
  EXPECT_FALSE(e->next());
}

TEST(SpectrumSequence, SizeHintIsExactThroughout) {
  const TempDir dir;
  const Reader reader = numbered_dataset(dir, 4);
  auto sequence = reader.iter_spectra();
  using quorlith::SizeHint;
  EXPECT_EQ(sequence->size_hint(), (SizeHint{4, 4}));
  (void)sequence->next();
  EXPECT_EQ(sequence->size_hint(), (SizeHint{3, 3}));
  EXPECT_EQ(sequence->advance_by(2), 0U);
  EXPECT_EQ(sequence->size_hint(), (SizeHint{1, 1}));
  (void)sequence->next();
  EXPECT_EQ(sequence->size_hint(), (SizeHint{0, 0}));
  (void)sequence->next();
  EXPECT_EQ(sequence->size_hint(), (SizeHint{0, 0}));
}

TEST(SpectrumSequence, SequencesOverOneReaderAreIndependent) {
  const TempDir dir;
  const Reader reader = numbered_dataset(dir, 3);
  auto a = reader.iter_spectra();
  expect_position(a->next(), 0);
  expect_position(a->next(), 1);
  auto b = reader.iter_spectra();
  expect_position(b->next(), 0);
  expect_position(a->next(), 2);
  EXPECT_FALSE(a->next());
  EXPECT_EQ(b->size_hint().lower, 2U);
  expect_position(b->next(), 1);
  // Destroying one leaves the other going.
  a.reset();
  expect_position(b->next(), 2);
}

// --- Files touched, and when ----------------------------------------------

TEST(SpectrumSequence, IterSpectraTouchesNoFile) {
  DatasetWriter w;
  w.table().records.push_back(
      Scan(1, 1).range(100.0, 200.0).blocks(good_peaks(w), good_profile(w)));
  w.table().records.push_back(Scan(2, 2).blocks(good_peaks(w)));
  const TempDir dir;
  w.write(dir.path());
  const Reader reader = open_dataset(dir.path());

  OpenWatch watch(dir.path() / "AcqData");
  auto sequence = reader.iter_spectra();
  auto unused = reader.iter_spectra();
  unused.reset();  // records never produced cause no file access either
  EXPECT_TRUE(watch.opened().empty());

  // The data is read only as records are produced: with every file gone
  // now, the sequence made before still yields every record, empty.
  std::filesystem::remove_all(dir.path() / "AcqData");
  const auto records = drain(*sequence);
  ASSERT_EQ(records.size(), 2U);
  for (const SpectrumRecord& record : records) {
    EXPECT_TRUE(record.mz.empty());
    EXPECT_TRUE(record.intensity.empty());
    EXPECT_FALSE(record.profile_decoded);
  }
  EXPECT_EQ(records[1].native_id, "scanId=2");
}

TEST(SpectrumSequence, DataFilesChangedAfterOpenAffectOnlyLaterRecords) {
  // Three scans, each with one block at the same place in both versions.
  const auto dataset = [](const Arrays& peaks) {
    DatasetWriter w;
    for (std::uint32_t id = 1; id <= 3; ++id) {
      w.table().records.push_back(
          Scan(id, 1).blocks(w.add_peak_block(3, peaks.mz, peaks.intensity)));
    }
    return w;
  };
  const Arrays before{{1.0, 2.0}, {10.0F, 20.0F}};
  const Arrays after{{3.0, 4.0}, {30.0F, 40.0F}};
  const TempDir dir;
  dataset(before).write(dir.path());
  const Reader reader = open_dataset(dir.path());
  auto sequence = reader.iter_spectra();
  const auto first = sequence->next();

  dataset(after).write(dir.path(), {.scan_table = false, .peak = true, .profile = false});
  const auto second = sequence->next();
  std::filesystem::remove(dir.path() / "AcqData" / "MSPeak.bin");
  const auto third = sequence->next();

  ASSERT_TRUE(first && second && third);
  EXPECT_EQ(first->mz, quorlith::MzArray(before.mz.begin(), before.mz.end()));
  EXPECT_EQ(second->mz, quorlith::MzArray(after.mz.begin(), after.mz.end()));
  EXPECT_EQ(second->intensity,
            quorlith::IntensityArray(after.intensity.begin(), after.intensity.end()));
  EXPECT_TRUE(third->mz.empty());
  EXPECT_EQ(third->scan_id, 3U);
}

// --- The core defaults, over sequences of our own -------------------------

// n records with index 0..n-1, through nothing but next() and size_hint():
// advance_by and nth are the core's defaults.
class CountingSequence final : public quorlith::SpectrumSequence {
 public:
  explicit CountingSequence(std::size_t count) : count_(count) {}
  std::optional<SpectrumRecord> next() override {
    if (produced_ == count_) return std::nullopt;
    SpectrumRecord record;
    record.index = produced_++;
    return record;
  }
  [[nodiscard]] quorlith::SizeHint size_hint() const override {
    return {count_ - produced_, count_ - produced_};
  }
  [[nodiscard]] std::size_t calls() const { return produced_; }

 private:
  std::size_t count_;
  std::size_t produced_ = 0;
};

TEST(SpectrumSequenceDefaults, ASequenceWithNoSpectra) {
  CountingSequence none(0);
  EXPECT_FALSE(none.next());
  EXPECT_FALSE(none.next());
  EXPECT_EQ(none.size_hint(), (quorlith::SizeHint{0, 0}));
  EXPECT_EQ(none.advance_by(3), 3U);
  EXPECT_EQ(none.advance_by(0), 0U);
  EXPECT_FALSE(none.nth(0));
  EXPECT_FALSE(none.nth(2));
}

TEST(SpectrumSequenceDefaults, AdvanceByAndNthCountTheStepsTaken) {
  CountingSequence three(3);
  EXPECT_EQ(three.advance_by(0), 0U);
  EXPECT_EQ(three.calls(), 0U);
  EXPECT_EQ(three.advance_by(1), 0U);
  const auto record = three.nth(1);
  ASSERT_TRUE(record);
  EXPECT_EQ(record->index, 2U);
  EXPECT_EQ(three.advance_by(4), 4U);

  CountingSequence two(2);
  EXPECT_EQ(two.advance_by(5), 3U);
  CountingSequence exact(2);
  EXPECT_FALSE(exact.nth(2));  // two stepped over, none follows
}

}  // namespace
}  // namespace velmoran
