// The inspect library's own rules, on values whose arithmetic is exact:
// window sums at the window edges, targets files, and the escaping of text
// cells. Whole runs through the program are checked by
// tests/cli/inspect_cli_test.py against the writer's expected spectra.
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include <velmoran/analysis/spectrum_summary.hpp>
#include <velmoran/analysis/spectrum_totals.hpp>
#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/numbers.hpp>
#include <velmoran/textio/quoted_value.hpp>
#include <velmoran/textio/ranges.hpp>
#include <velmoran/textio/records.hpp>
#include <velmoran/inspect/table.hpp>
#include <velmoran/inspect/targets.hpp>
#include <velmoran/inspect/xic.hpp>

namespace {

using velmoran::inspect::MzWindow;
using velmoran::inspect::WindowSums;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

std::vector<double> sums_of(std::vector<MzWindow> windows, std::vector<double> mz,
                            std::vector<float> intensity) {
  WindowSums sums(windows);
  std::vector<double> out(windows.size(), -1.0);
  sums.compute(mz, intensity, out);
  return out;
}

// Points at 99.5, 100, 100.5, 101, 101.5 of intensity 1, 2, 4, 8, 16: every
// sum says exactly which points it took.
const std::vector<double> kMz = {99.5, 100.0, 100.5, 101.0, 101.5};
const std::vector<float> kIntensity = {1, 2, 4, 8, 16};

TEST(WindowSums, BothEdgesAreInsideTheWindow) {
  // 100.5 +- 0.5 Da is [100, 101]; 1000 +- 250 ppm is [999.75, 1000.25],
  // both exact in binary.
  EXPECT_EQ(velmoran::inspect::da_window(100.5, 0.5).low, 100.0);
  EXPECT_EQ(velmoran::inspect::da_window(100.5, 0.5).high, 101.0);
  EXPECT_EQ(velmoran::inspect::ppm_window(1000.0, 250.0).low, 999.75);
  EXPECT_EQ(velmoran::inspect::ppm_window(1000.0, 250.0).high, 1000.25);

  EXPECT_EQ(sums_of({{100.0, 101.0}}, kMz, kIntensity), std::vector<double>{2 + 4 + 8});
  EXPECT_EQ(sums_of({{999.75, 1000.25}}, {999.5, 999.75, 1000.0, 1000.25, 1000.5}, kIntensity),
            std::vector<double>{2 + 4 + 8});
}

TEST(WindowSums, OverlappingWindowsInAnyOrderEachCountTheirPoints) {
  // Given out of order, overlapping, one holding nothing, one past the end.
  const std::vector<MzWindow> windows = {{101.0, 200.0}, {99.0, 100.0},  {100.0, 101.0},
                                         {100.6, 100.9}, {300.0, 301.0}, {0.0, 99.5}};
  EXPECT_EQ(sums_of(windows, kMz, kIntensity),
            (std::vector<double>{8 + 16, 1 + 2, 2 + 4 + 8, 0, 0, 1}));
}

TEST(WindowSums, WindowsFarApartInALongSpectrum) {
  // Points at 0, 0.5, 1, ... 4999.5 of intensity i + 1: windows thousands of
  // points apart, on points and between them.
  std::vector<double> mz(10000);
  std::vector<float> intensity(mz.size());
  for (std::size_t i = 0; i < mz.size(); ++i) {
    mz[i] = 0.5 * static_cast<double>(i);
    intensity[i] = static_cast<float>(i + 1);
  }
  const std::vector<MzWindow> windows = {
      {10.0, 10.5}, {3000.25, 3000.75}, {3000.6, 3000.7}, {4999.5, 6000.0}, {1234.0, 1234.0}};
  // Sums of i + 1 over the points i in each window, by hand.
  EXPECT_EQ(sums_of(windows, mz, intensity), (std::vector<double>{21 + 22, 6002, 0, 10000, 2469}));
}

TEST(WindowSums, UnsortedCentroidsGiveTheSortedSums) {
  const std::vector<MzWindow> windows = {{100.0, 101.0}, {99.0, 99.5}, {101.5, 102.0}};
  EXPECT_EQ(sums_of(windows, {101.0, 99.5, 101.5, 100.0, 100.5}, {8, 1, 16, 2, 4}),
            (std::vector<double>{2 + 4 + 8, 1, 16}));
}

TEST(WindowSums, NaNMzIsInNoWindowAndHidesNoOtherPoint) {
  const std::vector<MzWindow> windows = {{99.0, 102.0}};
  EXPECT_EQ(sums_of(windows, {99.5, kNaN, 100.0}, {1, 2, 4}), std::vector<double>{1 + 4});
  EXPECT_EQ(sums_of(windows, {kNaN}, {2}), std::vector<double>{0});
  EXPECT_EQ(sums_of(windows, {}, {}), std::vector<double>{0});
}

TEST(WindowSums, SumsInDoubleNotFloat) {
  // 2^24 + 1 is not a float: a float sum would lose the 1.
  EXPECT_EQ(sums_of({{1.0, 2.0}}, {1.0, 2.0}, {16777216.0F, 1.0F}),
            std::vector<double>{16777217.0});
}

TEST(XicWindows, ToleranceLimitsAndWindowsThatCannotOverflow) {
  using velmoran::inspect::parse_da;
  using velmoran::inspect::parse_ppm;
  for (const char* text : {"1e-300", "10", "1e6"}) EXPECT_TRUE(parse_ppm(text)) << text;
  for (const char* text : {"0", "-1", "1000000.0001", "1e10", "inf", "nan", "1e400"}) {
    EXPECT_FALSE(parse_ppm(text)) << text;
  }
  for (const char* text : {"1e-300", "0.5", "1e308"}) EXPECT_TRUE(parse_da(text)) << text;
  for (const char* text : {"0", "-0.5", "inf", "nan", "1e400"})
    EXPECT_FALSE(parse_da(text)) << text;

  // A target of 1e308 at 10 ppm: target * ppm overflows, the window does
  // not: 1e308 +- 1e303, which holds none of a spectrum's points.
  const MzWindow far = velmoran::inspect::ppm_window(1e308, 10.0);
  EXPECT_TRUE(std::isfinite(far.low) && std::isfinite(far.high));
  EXPECT_GT(far.low, 9.9e307);
  EXPECT_EQ(sums_of({far}, kMz, kIntensity), std::vector<double>{0});

  // Windows whose end is infinite are refused, whichever target it is.
  const auto query = [](std::vector<double> mzs, velmoran::inspect::ToleranceUnit unit,
                        double tolerance) {
    velmoran::inspect::XicQuery q;
    for (const double mz : mzs) q.targets.push_back({"t", mz});
    q.unit = unit;
    q.tolerance = tolerance;
    return velmoran::inspect::xic_windows(q);
  };
  using Unit = velmoran::inspect::ToleranceUnit;
  const double largest = std::numeric_limits<double>::max();
  EXPECT_TRUE(query({500.0, 1e307}, Unit::ppm, 1e6));
  EXPECT_FALSE(query({500.0, 1e308}, Unit::ppm, 1e6));
  EXPECT_FALSE(query({500.0, largest}, Unit::ppm, 10.0));
  EXPECT_FALSE(query({500.0, 1.7e308}, Unit::da, 1e307));
  EXPECT_TRUE(query({500.0}, Unit::da, 1e308));
  const auto refused = query({1.7e308}, Unit::ppm, 1e6);
  ASSERT_FALSE(refused);
  EXPECT_NE(refused.error().detail().find("1.7e+308"), std::string::npos)
      << refused.error().detail();
}

TEST(Targets, PlainListAndCsvWithQuotedNames) {
  const auto plain = velmoran::inspect::parse_targets(
      "\xEF\xBB\xBF"
      "# caffeine, then two more\r\n195.0877\r\n\r\n  524.3 \n1e3",
      "t.txt");
  ASSERT_TRUE(plain) << plain.error().text();
  ASSERT_EQ(plain->size(), 3U);
  EXPECT_EQ((*plain)[0].name, "195.0877");
  EXPECT_EQ((*plain)[0].mz, 195.0877);
  EXPECT_EQ((*plain)[1].name, "524.3");
  EXPECT_EQ((*plain)[2].mz, 1000.0);

  const auto csv = velmoran::inspect::parse_targets(
      "Name, MZ\ncaffeine,195.0877\n\"PC 34:1, [M+H]+ \"\"a\"\"\", 760.5851\n,300.5\n", "t.csv");
  ASSERT_TRUE(csv) << csv.error().text();
  ASSERT_EQ(csv->size(), 3U);
  EXPECT_EQ((*csv)[0].name, "caffeine");
  EXPECT_EQ((*csv)[1].name, "PC 34:1, [M+H]+ \"a\"");
  EXPECT_EQ((*csv)[1].mz, 760.5851);
  EXPECT_EQ((*csv)[2].name, "300.5");  // no name: the m/z as given
}

TEST(Targets, ABadLineNamesTheFileAndLine) {
  const struct {
    const char* text;
    const char* message;
  } cases[] = {
      {"100\n\nabc\n", "t:3: not an m/z (a positive number): \"abc\""},
      {"100\n-5\n", "t:2: not an m/z (a positive number): \"-5\""},
      {"0\n", "t:1: not an m/z (a positive number): \"0\""},
      {"nan\n", "t:1: not an m/z (a positive number): \"nan\""},
      {"1e999\n", "t:1: not an m/z (a positive number): \"1e999\""},
      {"100 200\n", "t:1: not an m/z (a positive number): \"100 200\""},
      {"name,mz\na,1,2\n", "t:2: expected 2 fields (name,mz), found 3"},
      {"name,mz\n\"a,1\n", "t:2: column name: a quote is not closed"},
      {"name,mz\na,\n", "t:2: column mz: not an m/z (a positive number): \"\""},
      {"# nothing\n\n", "t: no targets"},
      {"name,mz\n", "t: no targets"},
  };
  for (const auto& c : cases) {
    const auto targets = velmoran::inspect::parse_targets(c.text, "t");
    ASSERT_FALSE(targets) << c.text;
    EXPECT_EQ(targets.error().detail(), c.message) << c.text;
  }
}

// What a user may type for a number or a range, and what is refused.
TEST(UserText, NumbersAndRanges) {
  using velmoran::textio::parse_finite;
  using velmoran::textio::parse_whole;
  const struct {
    const char* text;
    std::optional<double> real;
    std::optional<std::uint32_t> whole;
  } numbers[] = {
      {"524.3", 524.3, {}},
      {"+5", 5.0, 5U},
      {".5", 0.5, {}},
      {"5.", 5.0, {}},
      {"1e3", 1000.0, {}},
      {"-2", -2.0, {}},
      {"4294967295", 4294967295.0, 4294967295U},
      {"4294967296", 4294967296.0, {}},
      {"", {}, {}},
      {"+", {}, {}},
      {"+-1", {}, {}},
      {"++1", {}, {}},
      {" 1", {}, {}},
      {"1 ", {}, {}},
      {"0x10", {}, {}},
      {"inf", {}, {}},
      {"nan", {}, {}},
      {"1e999", {}, {}},
      {"1e-400", {}, {}},
      {"1,5", {}, {}},
      {"1_000", {}, {}},
  };
  for (const auto& n : numbers) {
    EXPECT_EQ(parse_finite(n.text), n.real) << n.text;
    EXPECT_EQ(parse_whole<std::uint32_t>(n.text), n.whole) << n.text;
  }

  using Real = std::optional<std::pair<double, double>>;
  EXPECT_EQ(velmoran::textio::parse_number_range("60:90"), Real({60.0, 90.0}));
  EXPECT_EQ(velmoran::textio::parse_number_range("-1:+1"), Real({-1.0, 1.0}));
  EXPECT_EQ(velmoran::textio::parse_number_range("5:5"), Real({5.0, 5.0}));
  for (const char* text : {"90:60", "60", "60:", ":90", "1:nan", "1:2:3", " 1:2"}) {
    EXPECT_FALSE(velmoran::textio::parse_number_range(text)) << text;
  }
  using Whole = std::optional<std::pair<std::uint32_t, std::uint32_t>>;
  using velmoran::textio::OpenHigh;
  using velmoran::textio::parse_whole_range;
  EXPECT_EQ(parse_whole_range("3"), Whole({3, 3}));
  EXPECT_EQ(parse_whole_range("2-7"), Whole({2, 7}));
  EXPECT_EQ(parse_whole_range("2-", OpenHigh::allowed), Whole({2, 4294967295U}));
  for (const char* text : {"2-", "7-2", "-2", "1.5", "2-x"}) {
    EXPECT_FALSE(parse_whole_range(text)) << text;
  }
}

// Records as RFC 4180 reads them within a line, unquoted cells trimmed.
TEST(UserText, RecordsOfOneDialect) {
  using Cells = std::vector<std::string>;
  const struct {
    const char* line;
    char delimiter;
    Cells cells;
    bool skipped;
    std::size_t bad_column;  // no cells, not skipped: the refused cell
  } cases[] = {
      {"a, b ,c", ',', {"a", "b", "c"}, false, 0},
      {"\"x, \"\"y\"\"\",\" z \"", ',', {"x, \"y\"", " z "}, false, 0},
      {"a\t b \t\"c\td\"", '\t', {"a", "b", "c\td"}, false, 0},
      {"a,,", ',', {"a", "", ""}, false, 0},
      {",,,,", ',', {}, true, 0},
      {"\t\t", '\t', {}, true, 0},
      {"\"\",\"\"", ',', {}, true, 0},
      {"  # comment, with a comma", ',', {}, true, 0},
      {" \t ", ',', {}, true, 0},
      {"a,\"open", ',', {}, false, 1},
      {"a,\"b\" ,c", ',', {}, false, 1},
      {"a,b,c\"d", ',', {}, false, 2},
      {" \"a\"", ',', {}, false, 0},
  };
  for (const auto& c : cases) {
    const auto record = velmoran::textio::split_record(c.line, c.delimiter);
    EXPECT_EQ(record.skipped, c.skipped) << c.line;
    if (c.skipped) continue;
    if (c.cells.empty()) {
      ASSERT_TRUE(record.error) << c.line;
      EXPECT_EQ(record.error->column, c.bad_column) << c.line;
    } else {
      EXPECT_FALSE(record.error) << c.line;
      EXPECT_EQ(record.cells, c.cells) << c.line;
    }
  }
  // A value in a message: one line, cut at a character's start.
  EXPECT_EQ(velmoran::textio::quoted_value("a\nb\x1b[2J"), "\"a?b?[2J\"");
  const std::string long_text = std::string(59, 'x') + "\xC3\xA9tail";
  EXPECT_EQ(velmoran::textio::quoted_value(long_text), "\"" + std::string(59, 'x') + "...\"");
}

TEST(TextCells, CsvQuotingAndJsonEscaping) {
  const auto csv = [](std::string_view text, char delimiter) {
    std::string out;
    velmoran::textio::append_delimited_field(out, text, delimiter);
    return out;
  };
  EXPECT_EQ(csv("plain name", ','), "plain name");
  EXPECT_EQ(csv("a,b \"c\"", ','), "\"a,b \"\"c\"\"\"");
  EXPECT_EQ(csv("two\nlines", ','), "\"two\nlines\"");
  EXPECT_EQ(csv("a,b", '\t'), "a,b");
  EXPECT_EQ(csv("a\tb", '\t'), "\"a\tb\"");

  std::string json;
  velmoran::textio::append_json_string(json, "q\"b\\\n\x01 \xC3\xA9 \xFF\xC3");
  EXPECT_EQ(json, "\"q\\\"b\\\\\\n\\u0001 \xC3\xA9 \xEF\xBF\xBD\xEF\xBF\xBD\"");

  std::string numbers;
  velmoran::inspect::append_json_number(numbers, std::numeric_limits<double>::infinity());
  velmoran::inspect::append_json_number(numbers, 0.1);
  EXPECT_EQ(numbers, "null0.1");
}

}  // namespace

namespace {

// The plain loop is the oracle: TIC summed point by point, the first
// maximum. Intensities of every kind: whole numbers as profiles hold (the
// lane sum), fractions over a wide range (the point-by-point sum), ties
// across lanes, short spectra, and whole numbers too large to sum in lanes.
struct PlainTotals {
  double tic = 0.0;
  std::size_t base = 0;
};
PlainTotals plain_totals(const std::vector<float>& intensity) {
  PlainTotals totals;
  for (std::size_t i = 0; i < intensity.size(); ++i) {
    totals.tic += static_cast<double>(intensity[i]);
    if (intensity[i] > intensity[totals.base]) totals.base = i;
  }
  return totals;
}

TEST(SpectrumTotals, AgreeWithThePlainLoop) {
  std::uint64_t state = 12345;
  const auto next = [&] {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<std::uint32_t>(state >> 32U);
  };
  std::vector<std::vector<float>> cases;
  cases.push_back({});
  cases.push_back({3, 1, 3});
  cases.push_back({1, 2, 3, 4, 5, 6, 7, 9, 9, 1, 9, 2, 3});  // ties in several lanes
  std::vector<float> whole(20003);
  for (float& v : whole) v = static_cast<float>(next());  // up to 2^32
  cases.push_back(whole);
  std::vector<float> fractions(1001);
  for (std::size_t i = 0; i < fractions.size(); ++i) {
    fractions[i] = static_cast<float>(next()) * (i % 2 == 0 ? 1e-9F : 1e3F);
  }
  cases.push_back(fractions);
  std::vector<float> huge(64, 3e9F);
  huge[17] = 1e30F;  // whole, but too large for the lanes
  huge[40] = 0.5F;
  cases.push_back(huge);

  for (const auto& intensity : cases) {
    const PlainTotals expected = plain_totals(intensity);
    const auto totals = velmoran::analysis::spectrum_totals(intensity, false);
    EXPECT_EQ(totals.total_ion_current, expected.tic) << intensity.size();
    EXPECT_EQ(totals.base_peak, expected.base) << intensity.size();
  }
  // Whole numbers the caller vouches for, as a profile's are.
  const auto vouched = velmoran::analysis::spectrum_totals(whole, true);
  EXPECT_EQ(vouched.total_ion_current, plain_totals(whole).tic);
  EXPECT_EQ(vouched.base_peak, plain_totals(whole).base);
  // A NaN is never the base peak, even in first place.
  const std::vector<float> with_nan = {
      std::numeric_limits<float>::quiet_NaN(), 1, 2, 2, 1, 0, 0, 0, 0, 0};
  EXPECT_EQ(velmoran::analysis::spectrum_totals(with_nan, false).base_peak, 2U);
}

}  // namespace
