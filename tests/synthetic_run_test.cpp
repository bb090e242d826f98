#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

#include "expected_json.hpp"
#include "expected_record.hpp"
#include <velmoran/reader.hpp>
#include "synthetic_run.hpp"

namespace velmoran::testkit {
namespace {

struct RunCase {
  const char* name;
  RunOptions options;
};

RunOptions dda(Layout layout, std::uint32_t ms1, std::uint32_t ms2, std::uint32_t points,
               std::uint32_t peaks) {
  RunOptions o;
  o.layout = layout;
  o.ms1_scans = ms1;
  o.ms2_scans = ms2;
  o.profile_points = points;
  o.centroid_peaks = peaks;
  o.seed = 7;
  return o;
}

RunOptions profile_ms2(RunOptions o) {
  o.profile_ms2 = true;
  return o;
}

RunOptions mrm(Layout layout, std::uint32_t scans, std::uint32_t peaks) {
  RunOptions o;
  o.mrm = true;
  o.layout = layout;
  o.mrm_scans = scans;
  o.centroid_peaks = peaks;
  o.seed = 11;
  return o;
}

const RunCase kRuns[] = {
    {"dda_284_profiles", dda(Layout::k284, 6, 15, 3000, 40)},
    {"dda_284_profile_fragments", profile_ms2(dda(Layout::k284, 3, 8, 2500, 30))},
    {"dda_220", dda(Layout::k220, 5, 12, 0, 30)},
    {"dda_216", dda(Layout::k216, 5, 12, 0, 30)},
    // 71 records of 220 bytes are also a whole number of 284-byte records.
    {"dda_220_stride_alias", dda(Layout::k220, 20, 51, 0, 3)},
    {"dda_284_one_point_profiles", dda(Layout::k284, 3, 2, 1, 5)},
    {"dda_284_empty_profiles_and_peaks", dda(Layout::k284, 2, 2, 0, 0)},
    {"dda_fragments_only", dda(Layout::k216, 0, 4, 0, 8)},
    {"dda_single_scan", dda(Layout::k284, 1, 0, 500, 8)},
    {"mrm_196", mrm(Layout::k196, 45, 20)},
    {"mrm_186", mrm(Layout::k186, 45, 20)},
};

class SyntheticRunTest : public testing::TestWithParam<RunCase> {};

TEST_P(SyntheticRunTest, ReaderDrainsExactlyTheExpectedSpectra) {
  const RunOptions& options = GetParam().options;
  std::vector<ExpectedSpectrum> expected;
  const DatasetWriter writer = make_run(options, &expected);
  const TempDir dir;
  writer.write(dir / "run.d");

  auto reader = Reader::open(dir / "run.d");
  ASSERT_TRUE(reader) << reader.error().text();
  EXPECT_EQ(reader->scans().record_stride, stride_of(options.layout));
  auto sequence = reader->iter_spectra();
  for (std::size_t i = 0; i < expected.size(); ++i) {
    auto record = sequence->next();
    ASSERT_TRUE(record) << "scan " << i;
    ASSERT_EQ(*record, expected_record(expected[i], i, options.layout)) << "scan " << i;
  }
  EXPECT_FALSE(sequence->next());
}

TEST_P(SyntheticRunTest, ScanNumbersRetentionTimesAndLevelsLookLikeARun) {
  const RunOptions& options = GetParam().options;
  std::vector<ExpectedSpectrum> expected;
  const DatasetWriter writer = make_run(options, &expected);
  const std::uint64_t scans =
      options.mrm ? options.mrm_scans : std::uint64_t{options.ms1_scans} + options.ms2_scans;
  ASSERT_EQ(expected.size(), scans);
  ASSERT_EQ(writer.table().records.size(), scans);
  std::uint64_t survey = 0;
  for (std::size_t i = 0; i < expected.size(); ++i) {
    EXPECT_EQ(expected[i].scan_id, i + 1);
    if (i > 0) {
      EXPECT_GT(expected[i].retention_time_sec, expected[i - 1].retention_time_sec);
    }
    EXPECT_EQ(expected[i].mz.size(), expected[i].intensity.size());
    survey += expected[i].ms_level == 1 ? 1U : 0U;
  }
  EXPECT_EQ(survey, options.mrm ? scans / 10 : options.ms1_scans);
}

INSTANTIATE_TEST_SUITE_P(Runs, SyntheticRunTest, testing::ValuesIn(kRuns),
                         [](const auto& run) { return std::string(run.param.name); });

TEST(SyntheticRun, InterleavesSurveyAndFragmentScansLikeADdaRun) {
  std::vector<ExpectedSpectrum> expected;
  (void)make_run(dda(Layout::k220, 4, 10, 0, 5), &expected);
  std::string levels;
  for (const auto& s : expected) levels += static_cast<char>('0' + s.ms_level);
  EXPECT_EQ(levels, "12212221221222");
  // Fragment scans select the survey scan's peaks, most intense first.
  EXPECT_TRUE(expected[1].precursor_mz.has_value());
  EXPECT_NE(expected[1].precursor_mz, expected[2].precursor_mz);
}

TEST(SyntheticRun, CentroidBlocksAlternateBetweenFormats) {
  const DatasetWriter writer = make_run(dda(Layout::k216, 2, 6, 0, 5), nullptr);
  std::vector<std::uint32_t> formats;
  for (const RecordSpec& r : writer.table().records) formats.push_back(r.first.format_id);
  EXPECT_EQ(formats, (std::vector<std::uint32_t>{2, 3, 2, 3, 2, 3, 2, 3}));
}

TEST(SyntheticRun, SameSeedSameBytesOtherSeedOtherBytes) {
  RunOptions options = dda(Layout::k284, 3, 5, 800, 20);
  DatasetWriter a = make_run(options, nullptr);
  DatasetWriter b = make_run(options, nullptr);
  EXPECT_EQ(build_scan_table(a.table()), build_scan_table(b.table()));
  EXPECT_EQ(a.peak_file(), b.peak_file());
  EXPECT_EQ(a.profile_file(), b.profile_file());
  options.seed = 8;
  DatasetWriter c = make_run(options, nullptr);
  EXPECT_NE(a.profile_file(), c.profile_file());
  EXPECT_NE(a.peak_file(), c.peak_file());
}

TEST(SyntheticRun, ProfilesHaveZeroRunsAndCompressWell) {
  std::vector<ExpectedSpectrum> expected;
  DatasetWriter writer = make_run(dda(Layout::k284, 4, 0, 20000, 10), &expected);
  std::size_t zeros = 0;
  std::size_t points = 0;
  for (const auto& s : expected) {
    points += s.intensity.size();
    for (float v : s.intensity) zeros += v == 0.0F ? 1 : 0;
  }
  EXPECT_GT(zeros, points / 4);
  EXPECT_LT(zeros, points);
  const std::size_t uncompressed = 4 * (16 + 4 * std::size_t{20000});
  EXPECT_LT(writer.profile_file().size(), uncompressed / 2);
}

TEST(SyntheticRun, PlanarExactMzSurvivesTheScalingAndIsTheNearest) {
  for (double mz : {926.5076, 1539.3605, 100.5, 0.29, 1999.9999}) {
    const double exact = planar_exact_mz(mz);
    EXPECT_EQ((exact * 100.0) / 100.0, exact) << mz;
    EXPECT_GE(exact, mz);
    for (double v = mz; v < exact; v = std::nextafter(v, exact)) {
      EXPECT_NE((v * 100.0) / 100.0, v) << "a nearer exact value exists";
    }
  }
  EXPECT_NE(planar_exact_mz(926.5076), 926.5076);
  EXPECT_EQ(planar_exact_mz(100.5), 100.5);
}

TEST(SyntheticRun, RejectsOptionsThatMakeNoValidDataset) {
  EXPECT_TRUE(run_options_problem(dda(Layout::k196, 1, 1, 1, 1)));
  EXPECT_TRUE(run_options_problem(mrm(Layout::k284, 1, 1)));
  EXPECT_TRUE(run_options_problem(dda(Layout::k284, 0, 0, 1, 1)));
  EXPECT_TRUE(run_options_problem(mrm(Layout::k186, 0, 1)));
  EXPECT_TRUE(run_options_problem(dda(Layout::k284, 1, 0, 1U << 29, 1)));
  EXPECT_FALSE(run_options_problem(dda(Layout::k284, 0, 1, 0, 0)));
  EXPECT_THROW((void)make_run(dda(Layout::k284, 0, 0, 1, 1), nullptr), std::invalid_argument);
}

TEST(ExpectedJson, DoublesReadBackExactlyAndAsFloatingPoint) {
  const double values[] = {0.1,
                           1.0,
                           3.0,
                           -2.5,
                           1e20,
                           123456789012345678.0,
                           std::numeric_limits<double>::denorm_min(),
                           std::numeric_limits<double>::max(),
                           static_cast<double>(0.1F),
                           926.50760000000002};
  for (double v : values) {
    std::string text;
    append_json_double(text, v);
    EXPECT_EQ(std::strtod(text.c_str(), nullptr), v) << text;
    EXPECT_NE(text.find_first_of(".e"), std::string::npos) << text;
  }
  std::string one;
  append_json_double(one, 1.0);
  EXPECT_EQ(one, "1.0");
}

TEST(ExpectedJson, WritesEveryScanWithItsOptionalFields) {
  ExpectedSpectrum survey;
  survey.scan_id = 1;
  survey.ms_level = 1;
  survey.retention_time_sec = 1.5;
  survey.mz = {100.25, 200.0};
  survey.intensity = {3.0F, 0.5F};
  survey.mz_range_low = 100.0;
  survey.mz_range_high = 250.5;
  survey.from_profile = true;
  ExpectedSpectrum fragment;
  fragment.scan_id = 2;
  fragment.ms_level = 2;
  fragment.retention_time_sec = 2.0;
  fragment.precursor_mz = 500.125;
  fragment.mrm_channel = 4;
  std::ostringstream out;
  write_expected_json(out, std::vector{survey, fragment});
  EXPECT_EQ(out.str(),
            "{\"scans\":[\n"
            "{\"scan_id\":1,\"ms_level\":1,\"retention_time_sec\":1.5,"
            "\"mz_range\":[100.0,250.5],\"from_profile\":true,"
            "\"mz\":[100.25,200.0],\"intensity\":[3.0,0.5]},\n"
            "{\"scan_id\":2,\"ms_level\":2,\"retention_time_sec\":2.0,\"precursor_mz\":500.125,"
            "\"mrm_channel\":4,\"from_profile\":false,\"mz\":[],\"intensity\":[]}\n"
            "]}\n");
}

}  // namespace
}  // namespace velmoran::testkit
