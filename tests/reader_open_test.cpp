#include <velmoran/reader.hpp>

#include <cerrno>
#include <functional>
#include <unistd.h>

#include <gtest/gtest.h>

#include "dataset_name.hpp"
#include "dataset_writer.hpp"

namespace velmoran {
namespace {

using testkit::TempDir;

testkit::ScanTableSpec one_scan_table() {
  testkit::ScanTableSpec spec;
  spec.layout = testkit::Layout::k220;
  spec.records.resize(1);
  return spec;
}

void write_scan_table(const std::filesystem::path& dataset, const testkit::ScanTableSpec& spec) {
  std::filesystem::create_directories(dataset / "AcqData");
  testkit::write_file(dataset / "AcqData" / "MSScan.bin", testkit::build_scan_table(spec));
}

TEST(ReaderOpen, FailuresInOrder) {
  TempDir dir;
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path&)> make;
    std::string text;
    int errnum;  // what os_error() gives, for callers that report by number
  };
  const auto bad_magic = [] {
    auto spec = one_scan_table();
    spec.magic = 1;
    return spec;
  }();
  const Case cases[] = {
      {"no AcqData", [](const auto&) {}, "parse error: AcqData directory not found", ENOENT},
      {"dangling AcqData link",
       [](const auto& d) {
         std::filesystem::create_directories(d);
         std::filesystem::create_symlink(d / "nowhere", d / "AcqData");
       },
       "parse error: AcqData directory not found", ENOENT},
      {"AcqData is a file",
       [](const auto& d) {
         std::filesystem::create_directories(d);
         testkit::write_file(d / "AcqData", std::vector<std::uint8_t>{1});
       },
       Error::os(ENOTDIR).text(), ENOTDIR},
      {"no MSScan.bin", [](const auto& d) { std::filesystem::create_directories(d / "AcqData"); },
       Error::os(ENOENT).text(), ENOENT},
      {"bad scan table", [&](const auto& d) { write_scan_table(d, bad_magic); },
       "parse error: Invalid MSScan magic: 1", 0},
  };
  int n = 0;
  for (const Case& c : cases) {
    const auto dataset = dir / ("case" + std::to_string(n++) + ".d");
    c.make(dataset);
    auto reader = Reader::open(dataset);
    ASSERT_FALSE(reader) << c.name;
    EXPECT_EQ(reader.error().text(), c.text) << c.name;
    EXPECT_EQ(reader.error().os_error(), c.errnum) << c.name;
  }
}

TEST(ReaderOpen, PathHoldingANulNamesNoDataset) {
  TempDir dir;
  write_scan_table(dir / "x", one_scan_table());
  // The system would stop at the NUL and open the dataset "x".
  auto reader = Reader::open((dir / "x").native() + std::string("\0/evil", 6));
  ASSERT_FALSE(reader);
  EXPECT_EQ(reader.error().text(), "parse error: AcqData directory not found");
  EXPECT_EQ(reader.error().os_error(), EINVAL);
}

TEST(ReaderOpen, ScanTableAloneIsEnough) {
  TempDir dir;
  const auto dataset = dir / "run1.d";
  write_scan_table(dataset, one_scan_table());
  auto reader = Reader::open(dataset);
  ASSERT_TRUE(reader);
  EXPECT_EQ(reader->path(), dataset);
  EXPECT_EQ(reader->scans().records.size(), 1U);
  EXPECT_EQ(reader->scans().record_stride, 220U);
  EXPECT_EQ(reader->peak_path(), dataset / "AcqData" / "MSPeak.bin");
  EXPECT_EQ(reader->profile_path(), dataset / "AcqData" / "MSProfile.bin");
}

// Runs open() from inside `cwd`, so relative paths, ".", "" and ".." can
// be tried on a real dataset.
class ReaderName : public ::testing::Test {
 protected:
  void SetUp() override {
    write_scan_table(dir_ / "run1.d", one_scan_table());
    write_scan_table(dir_.path(), one_scan_table());
    std::filesystem::create_directories(dir_ / "run1.d" / "sub");
    write_scan_table(dir_ / "run1.d" / "sub", one_scan_table());
    old_cwd_ = std::filesystem::current_path();
    std::filesystem::current_path(dir_ / "run1.d");
  }
  void TearDown() override { std::filesystem::current_path(old_cwd_); }

  TempDir dir_;
  std::filesystem::path old_cwd_;
};

TEST_F(ReaderName, FinalComponentOrBundle) {
  const std::string abs = (dir_ / "run1.d").string();
  struct Case {
    std::string path;
    std::string name;
  };
  const Case cases[] = {
      {abs, "run1.d"},        {abs + "/", "run1.d"},   {abs + "/.", "run1.d"},
      {abs + "//", "run1.d"}, {abs + "/./", "run1.d"}, {abs + "/sub/..", "bundle.d"},
      {".", "bundle.d"},      {"", "bundle.d"},        {"./", "bundle.d"},
      {"sub", "sub"},         {"./sub/", "sub"},
  };
  for (const Case& c : cases) {
    auto reader = Reader::open(c.path);
    ASSERT_TRUE(reader) << c.path << ": " << reader.error().text();
    EXPECT_EQ(reader->name(), c.name) << c.path;
    EXPECT_EQ(reader->path().native(), c.path);
  }
}

// A root has no final component. No test machine has a dataset at "/", so
// the rule is held to the name function itself.
TEST(ReaderNameRoot, RootIsBundle) {
  for (const char* root : {"/", "//", "/.", "/./", "/.."}) {
    EXPECT_EQ(dataset_name(root), "bundle.d") << root;
  }
}

TEST(ReaderNameUtf8, InvalidBytesBecomeReplacementCharacters) {
  TempDir dir;
  struct Case {
    std::string component;
    std::string name;
  };
  const Case cases[] = {
      {"caf\xC3\xA9.d", "caf\xC3\xA9.d"},                        // valid UTF-8 kept
      {"run\xFF.d", "run\xEF\xBF\xBD.d"},                        // stray byte
      {"a\xE2\x82.d", "a\xEF\xBF\xBD.d"},                        // truncated sequence: one U+FFFD
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // surrogate: each byte
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // overlong
  };
  for (const Case& c : cases) {
    const auto dataset = dir / c.component;
    write_scan_table(dataset, one_scan_table());
    auto reader = Reader::open(dataset);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->name(), c.name);
  }
}

}  // namespace
}  // namespace velmoran
