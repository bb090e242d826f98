// read_bytes reads at a position of its own (pread), with no seek before
// the read. Files that are not regular must fail exactly as the seek or the
// read of a seek-then-read would: a pipe cannot be positioned, a directory
// cannot be read.
#include <cerrno>
#include <cstdint>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "dataset_writer.hpp"
#include "raw/file_access.hpp"

namespace velmoran::raw {
namespace {

TEST(ReadBytesPositioned, FilesThatAreNotRegularFailAsSeekAndReadWould) {
  const testkit::TempDir dir;
  const std::filesystem::path pipe = dir / "pipe";
  ASSERT_EQ(::mkfifo(pipe.c_str(), 0600), 0);
  // With the pipe held open for writing, read_bytes opens it at once.
  const int writer = ::open(pipe.c_str(), O_RDWR | O_CLOEXEC);
  ASSERT_GE(writer, 0);

  const struct {
    const char* name;
    std::filesystem::path path;
    std::size_t length;
    int error;  // 0: success with no bytes
  } cases[] = {
      {"pipe, nothing asked: the seek fails", pipe, 0, ESPIPE},
      {"pipe, bytes asked: the positioned read fails as the seek", pipe, 8, ESPIPE},
      {"directory, nothing asked: the seek succeeds", dir.path(), 0, 0},
      {"directory, bytes asked: the read fails", dir.path(), 8, EISDIR},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto got = read_bytes(c.path, 0, c.length);
    if (c.error == 0) {
      ASSERT_TRUE(got) << got.error();
      EXPECT_EQ(got->size(), 0U);
    } else {
      ASSERT_FALSE(got);
      EXPECT_EQ(got.error().os_error(), c.error) << got.error();
    }
  }
  ::close(writer);
}

}  // namespace
}  // namespace velmoran::raw
