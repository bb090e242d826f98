#include "raw/file_access.hpp"

#include <cerrno>
#include <cstdint>
#include <numeric>

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

}  // namespace
}  // namespace velmoran::raw
