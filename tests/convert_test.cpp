// The export library's own rules where no outside reader can judge them:
// text that must stay well-formed XML whatever a directory is called, the
// base64 alphabet, which spectra are profiles, ids when scan numbers repeat,
// and output that does not depend on the number of threads.
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include <velmoran/export/binary_encoding.hpp>
#include <velmoran/export/convert.hpp>
#include <velmoran/reader.hpp>
#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/output_file.hpp>

#include "dataset_writer.hpp"
#include "synthetic_run.hpp"

namespace {

using velmoran::Reader;
using velmoran::testkit::DatasetWriter;
using velmoran::testkit::RecordSpec;
using velmoran::testkit::TempDir;
namespace ex = velmoran::exporting;
namespace tx = velmoran::textio;

TEST(XmlText, HostileNamesStayWellFormed) {
  struct Case {
    std::string name;
    std::string attribute;
    std::string id;
  };
  const std::vector<Case> cases = {
      {"run 1.d", "run 1.d", "run_1.d"},
      {R"(a"b'c<d>&e.d)", "a&quot;b&apos;c&lt;d&gt;&amp;e.d", "a_b_c_d__e.d"},
      {"tab\there\nline\rend", "tab&#9;here&#10;line&#13;end", "tab_here_line_end"},
      {std::string("nul\0bel\x07.d", 10),
       "nul\xEF\xBF\xBD"
       "bel\xEF\xBF\xBD.d",
       "nul_bel_.d"},
      {"bad\xFF\xC3(utf8", "bad\xEF\xBF\xBD\xEF\xBF\xBD(utf8", "bad___utf8"},
      {"\xEF\xBF\xBE"
       "nonchar",
       "\xEF\xBF\xBD"
       "nonchar",
       "_nonchar"},
      {"caf\xC3\xA9.d", "caf\xC3\xA9.d", "caf_.d"},
      {"1run.d", "1run.d", "_1run.d"},
      {"-x", "-x", "_-x"},
      {"", "", "_"},
  };
  for (const Case& c : cases) {
    std::string attribute;
    tx::append_xml_attribute(attribute, c.name);
    EXPECT_EQ(attribute, c.attribute) << c.name;
    EXPECT_EQ(tx::xml_id_from(c.name), c.id) << c.name;
  }
  EXPECT_EQ(tx::single_line_text("a\nb\xFF"),
            "a\xEF\xBF\xBD"
            "b\xEF\xBF\xBD");
}

TEST(Base64, MatchesTheStandardVectors) {
  // RFC 4648, section 10.
  const std::vector<std::pair<std::string, std::string>> vectors = {{"", ""},
                                                                    {"f", "Zg=="},
                                                                    {"fo", "Zm8="},
                                                                    {"foo", "Zm9v"},
                                                                    {"foob", "Zm9vYg=="},
                                                                    {"fooba", "Zm9vYmE="},
                                                                    {"foobar", "Zm9vYmFy"},
                                                                    {"\xFF\xFE\xFD", "//79"}};
  for (const auto& [in, out] : vectors) {
    std::string text = "<";
    ex::append_base64(text, {reinterpret_cast<const std::uint8_t*>(in.data()), in.size()});
    EXPECT_EQ(text, "<" + out);
  }
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), {}};
}

std::string convert_to_text(const Reader& reader, const std::filesystem::path& target,
                            unsigned threads,
                            ex::Compression compression = ex::Compression::kZlib) {
  auto output = tx::OutputFile::open(target);
  EXPECT_TRUE(output) << output.error().text();
  ex::ConvertOptions options;
  options.threads = threads;
  options.compression = compression;
  options.software_version = "test";
  auto stats = ex::convert_run(reader, *output, options);
  EXPECT_TRUE(stats) << stats.error().text();
  EXPECT_TRUE(output->commit());
  return read_file(target);
}

// Three scans of one 284-layout run: a profile, a scan with only peaks, and
// a profile of no points that hands over to its peak block (with the first
// scan's number, so ids turn to positions).
TEST(Convert, ProfileTermsAndIdsWhenScanNumbersRepeat) {
  DatasetWriter w;
  const std::vector<double> mz = {150.0, 175.5};
  const std::vector<float> intensity = {10.0F, 20.0F};
  const auto peaks = w.add_peak_block(3, mz, intensity);
  const auto profile = w.add_profile_block(std::vector<std::uint32_t>{5, 9, 7});
  const auto empty_profile = w.add_profile_block({});
  const auto scan = [](std::uint32_t id, velmoran::testkit::Descriptor peak,
                       velmoran::testkit::Descriptor prof) {
    RecordSpec spec;
    spec.scan_id = id;
    spec.ms_level = 1;
    spec.mz_range_low = 100.0;
    spec.mz_range_high = 200.0;
    spec.first = peak;
    spec.second = prof;
    return spec;
  };
  w.table().records = {scan(7, peaks, profile), scan(8, peaks, {}), scan(7, peaks, empty_profile)};
  const TempDir dir;
  w.write(dir / "dup.d");
  auto reader = Reader::open(dir / "dup.d");
  ASSERT_TRUE(reader) << reader.error().text();

  const std::string text = convert_to_text(*reader, dir / "dup.mzML", 2);
  const std::regex spectrum_re(
      R"re(<spectrum index="(\d+)" id="([^"]+)" defaultArrayLength="(\d+)">[^]*?accession="(MS:100012[78])")re");
  std::vector<std::string> seen;
  for (auto it = std::sregex_iterator(text.begin(), text.end(), spectrum_re);
       it != std::sregex_iterator(); ++it) {
    seen.push_back((*it)[1].str() + " " + (*it)[2].str() + " " + (*it)[3].str() + " " +
                   (*it)[4].str());
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"0 index=0 3 MS:1000128", "1 index=1 2 MS:1000127",
                                            "2 index=2 2 MS:1000127"}));
}

TEST(Convert, OutputDoesNotDependOnThreads) {
  velmoran::testkit::RunOptions options;
  options.ms1_scans = 6;
  options.ms2_scans = 30;
  options.profile_points = 500;
  options.centroid_peaks = 40;
  const TempDir dir;
  velmoran::testkit::make_run(options, nullptr).write(dir / "run.d");
  auto reader = Reader::open(dir / "run.d");
  ASSERT_TRUE(reader) << reader.error().text();
  for (const auto compression : {ex::Compression::kZlib, ex::Compression::kNumpress}) {
    const std::string one = convert_to_text(*reader, dir / "one.mzML", 1, compression);
    const std::string four = convert_to_text(*reader, dir / "four.mzML", 4, compression);
    EXPECT_GT(one.size(), 10000U);
    EXPECT_TRUE(one == four);
  }
}

}  // namespace
