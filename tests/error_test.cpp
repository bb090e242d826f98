#include <velmoran/error.hpp>

#include <cerrno>
#include <cstring>
#include <sstream>

#include <gtest/gtest.h>

namespace velmoran {
namespace {

TEST(ErrorText, ParseIsPrefixedAndUnchanged) {
  const Error e = Error::parse("Truncated MSPeak.bin block");
  EXPECT_TRUE(e.is_parse());
  EXPECT_EQ(e.text(), "parse error: Truncated MSPeak.bin block");
}

TEST(ErrorText, OsErrorCarriesDescriptionAndNumber) {
  const Error e = Error::os(ENOENT);
  EXPECT_TRUE(e.is_io());
  EXPECT_EQ(e.os_error(), ENOENT);
  EXPECT_EQ(e.text(), std::string("I/O error: ") + std::strerror(ENOENT) + " (os error 2)");
}

TEST(ErrorText, UnexpectedEofHasItsMessageAlone) {
  const Error e = Error::unexpected_eof();
  EXPECT_EQ(e.io_kind(), Error::IoKind::UnexpectedEof);
  EXPECT_EQ(e.text(), "I/O error: failed to fill whole buffer");
}

TEST(ErrorText, StreamWritesTheText) {
  std::ostringstream out;
  out << Error::parse("x");
  EXPECT_EQ(out.str(), "parse error: x");
}

}  // namespace
}  // namespace velmoran
