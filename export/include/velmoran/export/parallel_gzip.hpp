// A gzip stream compressed on several threads: the bytes written are cut
// into blocks, each block becomes an independent gzip member (RFC 1952:
// header, deflate data, CRC-32 and length of its own) compressed by a
// worker thread, and the members reach the sink in order. A file of
// several members is one valid gzip file: gzip -d, zlib and the readers of
// .mzML.gz read it whole. Memory stays at a few blocks per thread, however
// long the stream.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include <velmoran/error.hpp>
#include <velmoran/result.hpp>
#include <velmoran/textio/output_file.hpp>

namespace velmoran::exporting {

using textio::Done;
using textio::OutputFile;
using textio::OutputFilter;

// Where the compressed members go, in order, from the writing thread only.
using GzipSink = std::function<Result<Done>(std::string_view)>;

inline constexpr std::size_t kGzipBlockBytes = std::size_t{1} << 20;
// libdeflate's level 6: gzip -6's ratio or better, in less time.
inline constexpr int kGzipLevel = 6;

class ParallelGzip {
 public:
  // `threads` workers (at least one); blocks of `block_bytes`.
  ParallelGzip(GzipSink sink, unsigned threads, int level = kGzipLevel,
               std::size_t block_bytes = kGzipBlockBytes);
  ParallelGzip(const ParallelGzip&) = delete;
  ParallelGzip& operator=(const ParallelGzip&) = delete;
  // Stops the workers; what was not finished is dropped.
  ~ParallelGzip();

  // Takes `bytes` into the stream; hands finished members to the sink,
  // waiting for the oldest when every block is in use. A failure of the
  // sink is returned here or by a later call.
  [[nodiscard]] Result<Done> write(std::string_view bytes);
  // Compresses what is left and hands every member to the sink. An empty
  // stream is one empty member, still a valid gzip file.
  [[nodiscard]] Result<Done> finish();

 private:
  struct Block {
    std::string input;
    std::string output;
    bool ready = false;  // compressed, waiting for the sink
  };

  // Queues the current block, first writing out the oldest if need be.
  [[nodiscard]] Result<Done> submit();
  // Waits for the oldest queued block and hands it to the sink.
  [[nodiscard]] Result<Done> drain_oldest();
  void work(int level);

  GzipSink sink_;
  std::size_t block_bytes_;
  std::vector<Block> blocks_;
  // Ring positions, counted from the start: blocks [written_, queued_) are
  // with the workers or ready; next_job_ is the next one a worker takes.
  std::uint64_t written_ = 0;
  std::uint64_t queued_ = 0;
  std::uint64_t next_job_ = 0;
  bool stopping_ = false;
  bool failed_compressor_ = false;
  std::optional<Error> failure_;
  std::mutex mutex_;
  std::condition_variable work_ready_;
  std::condition_variable block_done_;
  std::vector<std::thread> workers_;
};

// An OutputFile filter that writes the document as a parallel gzip stream
// (see OutputFile::set_filter).
[[nodiscard]] std::unique_ptr<OutputFilter> make_gzip_filter(unsigned threads,
                                                             int level = kGzipLevel);

}  // namespace velmoran::exporting
