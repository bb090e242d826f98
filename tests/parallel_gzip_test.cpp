// The parallel gzip stream read back by zlib, member after member, as
// gzip -d and the readers of .mzML.gz read it.
#include <velmoran/export/parallel_gzip.hpp>

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <string>

namespace {

using velmoran::Result;
using velmoran::exporting::Done;
using velmoran::exporting::ParallelGzip;

// Every member of a concatenated gzip file, inflated one after the other.
std::string gunzip(const std::string& file, int* members) {
  std::string out;
  *members = 0;
  z_stream z{};
  EXPECT_EQ(inflateInit2(&z, 16 + MAX_WBITS), Z_OK);
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(file.data()));
  z.avail_in = static_cast<uInt>(file.size());
  char buffer[4096];
  while (z.avail_in > 0) {
    z.next_out = reinterpret_cast<Bytef*>(buffer);
    z.avail_out = sizeof buffer;
    const int status = inflate(&z, Z_NO_FLUSH);
    out.append(buffer, sizeof buffer - z.avail_out);
    if (status == Z_STREAM_END) {
      ++*members;
      inflateReset(&z);
    } else if (status != Z_OK) {
      ADD_FAILURE() << "inflate: " << status;
      break;
    }
  }
  inflateEnd(&z);
  return out;
}

// Text that compresses, in pieces of uneven sizes.
std::string document(std::size_t lines) {
  std::string text;
  for (std::size_t i = 0; i < lines; ++i) {
    text += "<spectrum index=\"" + std::to_string(i) + "\" id=\"scan=" + std::to_string(i * 7) +
            "\">" + std::string(i % 13, 'x') + "</spectrum>\n";
  }
  return text;
}

TEST(ParallelGzip, MembersReadBackAsTheWholeStream) {
  struct Case {
    const char* name;
    std::size_t lines;
    std::size_t block_bytes;
    unsigned threads;
  };
  for (const Case& c : {Case{"empty stream", 0, 1000, 2}, Case{"one partial block", 10, 1000, 1},
                        Case{"many blocks on three threads", 5000, 997, 3},
                        Case{"exactly whole blocks", 0, 100, 2}}) {
    std::string text = document(c.lines);
    if (c.lines == 0 && c.block_bytes == 100) text = std::string(1000, 'a');
    std::string file;
    {
      ParallelGzip gzip(
          [&file](std::string_view member) -> Result<Done> {
            file += member;
            return Done{};
          },
          c.threads, 6, c.block_bytes);
      for (std::size_t at = 0; at < text.size(); at += 333) {
        ASSERT_TRUE(gzip.write(std::string_view(text).substr(at, 333))) << c.name;
      }
      ASSERT_TRUE(gzip.finish()) << c.name;
    }
    int members = 0;
    EXPECT_EQ(gunzip(file, &members), text) << c.name;
    const std::size_t blocks = (text.size() + c.block_bytes - 1) / c.block_bytes;
    EXPECT_EQ(members, static_cast<int>(std::max<std::size_t>(blocks, 1))) << c.name;
  }
}

TEST(ParallelGzip, AFailingSinkFailsTheStream) {
  int calls = 0;
  ParallelGzip gzip(
      [&calls](std::string_view) -> Result<Done> {
        ++calls;
        return velmoran::Error::os(28);
      },
      2, 6, 100);
  const std::string text = document(200);
  bool failed = false;
  for (std::size_t at = 0; at < text.size() && !failed; at += 50) {
    failed = !gzip.write(std::string_view(text).substr(at, 50));
  }
  auto finished = gzip.finish();
  ASSERT_FALSE(finished);
  EXPECT_EQ(finished.error().text(), velmoran::Error::os(28).text());
  EXPECT_EQ(calls, 1);
}

}  // namespace
