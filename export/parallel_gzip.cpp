#include <velmoran/export/parallel_gzip.hpp>

#include <algorithm>
#include <cerrno>
#include <utility>

#include <libdeflate.h>

namespace velmoran::exporting {

namespace {

// Blocks per worker: one being compressed and one waiting, so that a worker
// never idles while the writer fills the next block or the sink is busy.
constexpr std::size_t kBlocksPerWorker = 2;

class GzipFilter final : public OutputFilter {
 public:
  GzipFilter(unsigned threads, int level)
      : gzip_([this](std::string_view member) { return file_->store(member); }, threads, level) {}
  Result<Done> write(std::string_view bytes, OutputFile& file) override {
    file_ = &file;
    return gzip_.write(bytes);
  }
  Result<Done> finish(OutputFile& file) override {
    file_ = &file;
    return gzip_.finish();
  }

 private:
  OutputFile* file_ = nullptr;
  ParallelGzip gzip_;
};

}  // namespace

std::unique_ptr<OutputFilter> make_gzip_filter(unsigned threads, int level) {
  return std::make_unique<GzipFilter>(threads, level);
}

ParallelGzip::ParallelGzip(GzipSink sink, unsigned threads, int level, std::size_t block_bytes)
    : sink_(std::move(sink)), block_bytes_(std::max<std::size_t>(block_bytes, 1)) {
  const unsigned worker_count = std::max(1u, threads);
  // One more than the blocks in flight: the one being filled.
  blocks_.resize(kBlocksPerWorker * worker_count + 1);
  blocks_.front().input.reserve(block_bytes_);
  workers_.reserve(worker_count);
  for (unsigned i = 0; i < worker_count; ++i) workers_.emplace_back([this, level] { work(level); });
}

ParallelGzip::~ParallelGzip() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (std::thread& worker : workers_) worker.join();
}

Result<Done> ParallelGzip::write(std::string_view bytes) {
  if (failure_) return *failure_;
  while (!bytes.empty()) {
    std::string& input = blocks_[queued_ % blocks_.size()].input;
    const std::size_t take = std::min(bytes.size(), block_bytes_ - input.size());
    input.append(bytes.data(), take);
    bytes.remove_prefix(take);
    if (input.size() == block_bytes_) {
      if (auto r = submit(); !r) return r;
    }
  }
  return Done{};
}

Result<Done> ParallelGzip::finish() {
  if (failure_) return *failure_;
  // The last, partial block; an empty stream still gets its one member.
  if (!blocks_[queued_ % blocks_.size()].input.empty() || queued_ == 0) {
    if (auto r = submit(); !r) return r;
  }
  while (written_ < queued_) {
    if (auto r = drain_oldest(); !r) return r;
  }
  return Done{};
}

Result<Done> ParallelGzip::submit() {
  {
    const std::lock_guard lock(mutex_);
    ++queued_;
  }
  work_ready_.notify_one();
  // The slot to fill next must not be one in flight.
  while (queued_ - written_ >= blocks_.size()) {
    if (auto r = drain_oldest(); !r) return r;
  }
  // Hand over what is already done, in order, without waiting.
  while (written_ < queued_) {
    {
      const std::lock_guard lock(mutex_);
      if (!blocks_[written_ % blocks_.size()].ready) break;
    }
    if (auto r = drain_oldest(); !r) return r;
  }
  std::string& next = blocks_[queued_ % blocks_.size()].input;
  next.clear();
  next.reserve(block_bytes_);
  return Done{};
}

Result<Done> ParallelGzip::drain_oldest() {
  Block& block = blocks_[written_ % blocks_.size()];
  {
    std::unique_lock lock(mutex_);
    block_done_.wait(lock, [&] { return block.ready; });
    block.ready = false;
    if (failed_compressor_) failure_ = Error::os(ENOMEM);
  }
  ++written_;
  if (failure_) return *failure_;
  if (auto r = sink_(block.output); !r) {
    failure_ = r.error();
    return r;
  }
  return Done{};
}

void ParallelGzip::work(int level) {
  libdeflate_compressor* compressor = libdeflate_alloc_compressor(level);
  for (;;) {
    std::uint64_t job = 0;
    {
      std::unique_lock lock(mutex_);
      work_ready_.wait(lock, [&] { return stopping_ || next_job_ < queued_; });
      if (stopping_) break;
      job = next_job_++;
    }
    Block& block = blocks_[job % blocks_.size()];
    bool ok = compressor != nullptr;
    if (ok) {
      const std::size_t bound = libdeflate_gzip_compress_bound(compressor, block.input.size());
      block.output.resize(bound);
      const std::size_t size =
          libdeflate_gzip_compress(compressor, block.input.data(), block.input.size(),
                                   block.output.data(), block.output.size());
      ok = size != 0;
      block.output.resize(size);
    }
    {
      const std::lock_guard lock(mutex_);
      block.ready = true;
      if (!ok) failed_compressor_ = true;
    }
    block_done_.notify_all();
  }
  libdeflate_free_compressor(compressor);
}

}  // namespace velmoran::exporting
