#include "raw/file_access.hpp"

#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <numeric>
#include <unistd.h>

#include <gtest/gtest.h>

#include "dataset_writer.hpp"

namespace velmoran::raw {
namespace {

using testkit::ByteVector;
using testkit::TempDir;

class ReadBytes : public ::testing::Test {
 protected:
  void SetUp() override {
    content_.resize(100);
    std::iota(content_.begin(), content_.end(), std::uint8_t{0});
    testkit::write_file(file_, content_);
  }
  TempDir dir_;
  std::filesystem::path file_ = dir_ / "data.bin";
  ByteVector content_;
};

TEST_F(ReadBytes, ReadsExactlyTheBlock) {
  struct Case {
    std::uint64_t offset;
    std::size_t length;
  };
  for (const Case c : {Case{0, 100}, Case{10, 5}, Case{99, 1}, Case{0, 1}}) {
    auto got = read_bytes(file_, c.offset, c.length);
    ASSERT_TRUE(got) << c.offset << "+" << c.length;
    const ByteVector bytes(got->view().begin(), got->view().end());
    const auto begin = content_.begin() + static_cast<std::ptrdiff_t>(c.offset);
    EXPECT_EQ(bytes, ByteVector(begin, begin + static_cast<std::ptrdiff_t>(c.length)));
  }
}

TEST_F(ReadBytes, ZeroLengthNeedsNoDataEvenPastTheEnd) {
  for (std::uint64_t offset : {0ULL, 100ULL, 5000ULL}) {
    auto got = read_bytes(file_, offset, 0);
    ASSERT_TRUE(got);
    EXPECT_EQ(got->size(), 0U);
  }
}

TEST_F(ReadBytes, ShortFileIsUnexpectedEofNotASeekError) {
  struct Case {
    std::uint64_t offset;
    std::size_t length;
  };
  // One byte past the end, wholly past the end, and a 4 GiB claim that
  // must be refused without allocating it.
  for (const Case c : {Case{0, 101}, Case{100, 1}, Case{1000, 10}, Case{0, 0xFFFFFFFFU},
                       Case{1U << 20, 0xFFFFFFFFU}}) {
    auto got = read_bytes(file_, c.offset, c.length);
    ASSERT_FALSE(got) << c.offset << "+" << c.length;
    EXPECT_EQ(got.error().text(), "I/O error: failed to fill whole buffer");
  }
}

TEST_F(ReadBytes, OffsetBeyondSignedRangeIsRefusedBySeek) {
  auto got = read_bytes(file_, std::uint64_t{1} << 63, 1);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().os_error(), EINVAL);
}

TEST_F(ReadBytes, MissingFileCarriesTheSystemError) {
  auto got = read_bytes(dir_ / "missing.bin", 0, 1);
  ASSERT_FALSE(got);
  EXPECT_EQ(got.error().os_error(), ENOENT);
  EXPECT_TRUE(got.error().text().starts_with("I/O error: "));
  EXPECT_TRUE(got.error().text().ends_with(" (os error 2)"));
}

TEST_F(ReadBytes, ReadFileReadsWholeFileAndRefusesDirectories) {
  auto whole = read_file(file_);
  ASSERT_TRUE(whole);
  EXPECT_EQ(ByteVector(whole->view().begin(), whole->view().end()), content_);
  auto dir = read_file(dir_.path());
  ASSERT_FALSE(dir);
  EXPECT_EQ(dir.error().os_error(), EISDIR);
}

TEST_F(ReadBytes, PathHoldingANulReadsNothing) {
  // The part before the NUL is a readable file: reading it would be reading
  // another file than the one named.
  const std::filesystem::path cut = file_.native() + std::string("\0/evil", 6);
  auto block = read_bytes(cut, 0, 1);
  ASSERT_FALSE(block);
  EXPECT_EQ(block.error().text(), Error::os(EINVAL).text());
  auto whole = read_file(cut);
  ASSERT_FALSE(whole);
  EXPECT_EQ(whole.error().text(), Error::os(EINVAL).text());
}

// The size a file reports is a hint; reading goes on to the end of the file
// whether the hint is 0 (procfs, some FUSE mounts), short (the file grew
// since) or long (it shrank).
TEST(ReadToEnd, ReadsPastAWrongSizeHint) {
  TempDir dir;
  ByteVector content(200000);
  std::iota(content.begin(), content.end(), std::uint8_t{7});
  testkit::write_file(dir / "table.bin", content);
  for (const std::size_t hint : {std::size_t{0}, std::size_t{1}, content.size() - 1, content.size(),
                                 content.size() + 1, content.size() * 3}) {
    const int fd = ::open((dir / "table.bin").c_str(), O_RDONLY | O_CLOEXEC);
    ASSERT_GE(fd, 0);
    auto got = read_to_end(fd, hint);
    ::close(fd);
    ASSERT_TRUE(got) << hint;
    EXPECT_EQ(ByteVector(got->view().begin(), got->view().end()), content) << hint;
  }
}

TEST(ReadFile, FileReportingSizeZeroIsReadWhole) {
  const std::filesystem::path proc_file = "/proc/self/cmdline";
  if (!std::filesystem::exists(proc_file)) GTEST_SKIP() << "no procfs";
  std::ifstream in(proc_file, std::ios::binary);
  const ByteVector expected{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
  ASSERT_FALSE(expected.empty());
  auto got = read_file(proc_file);
  ASSERT_TRUE(got);
  EXPECT_EQ(ByteVector(got->view().begin(), got->view().end()), expected);
}

}  // namespace
}  // namespace velmoran::raw
