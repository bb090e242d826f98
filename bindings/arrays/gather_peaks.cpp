// Workers take chunks of scans in turn: each decodes its chunk, then, in
// chunk order, is given the chunk's place in the flat arrays (growing them
// when needed, while no one copies), then copies its spectra there while
// the others decode or copy theirs.
#include "gather_peaks.hpp"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <shared_mutex>
#include <thread>

#include "flat_buffer.hpp"

namespace velmoran::arrays {

namespace {

// Scans a worker decodes before it places them: few enough that the
// spectra in flight stay a few megabytes, enough to make the turn-taking
// rare.
constexpr std::size_t kChunkScans = 16;
// The first capacity comes from the table's point counts, which a damaged
// table may overstate, so it is held to this (1.5 GiB of address space for
// the m/z; memory only where written). Beyond it the arrays grow.
constexpr std::size_t kMostFirstCapacity = std::size_t{1} << 27;

// The points the table says a scan has: its profile's when it has one,
// else its peak block's.
std::size_t claimed_points(const raw::ScanRecord& scan) {
  if (scan.profile_block && scan.profile_block->point_count > 0) {
    return scan.profile_block->point_count;
  }
  return scan.peak_block ? scan.peak_block->point_count : 0;
}

class Gatherer {
 public:
  Gatherer(const Reader& reader, std::span<const std::size_t> positions)
      : reader_(reader),
        positions_(positions),
        chunks_((positions.size() + kChunkScans - 1) / kChunkScans) {
    offsets_.resize(positions.size() + 1);
    std::size_t claimed = 0;
    for (const std::size_t position : positions) {
      claimed += claimed_points(reader.scans().records[position]);
      if (claimed >= kMostFirstCapacity) break;
    }
    reserve(std::min(claimed, kMostFirstCapacity));
  }

  void run(unsigned threads) {
    const unsigned count = static_cast<unsigned>(std::min<std::size_t>(threads, chunks_));
    if (count <= 1) {
      work();
    } else {
      std::vector<std::thread> workers;
      workers.reserve(count - 1);
      try {
        for (unsigned i = 0; i + 1 < count; ++i) workers.emplace_back([this] { work(); });
      } catch (...) {
        fail(std::current_exception());
      }
      work();
      for (auto& worker : workers) worker.join();
    }
    if (failure_) std::rethrow_exception(failure_);
  }

  FlatPeaks finish() {
    FlatPeaks out;
    out.points = total_;
    out.mz = mz_.release(total_);
    out.intensity = intensity_.release(total_);
    out.offsets = std::move(offsets_);
    return out;
  }

 private:
  void reserve(std::size_t points) {
    mz_.reserve(points);
    intensity_.reserve(points);
  }

  void fail(std::exception_ptr failure) {
    const std::lock_guard lock(turn_mutex_);
    if (!failure_) failure_ = std::move(failure);
    failed_ = true;
    turn_changed_.notify_all();
  }

  void work() {
    std::vector<quorlith::SpectrumRecord> records;
    try {
      while (!failed_) {
        const std::size_t chunk = next_chunk_.fetch_add(1);
        if (chunk >= chunks_) return;
        const std::size_t first = chunk * kChunkScans;
        const std::size_t last = std::min(first + kChunkScans, positions_.size());
        records.clear();
        for (std::size_t k = first; k < last; ++k) {
          records.push_back(std::move(reader_.read_spectrum(positions_[k]).record));
        }
        const std::size_t start = place(chunk, first, records);
        if (start == kFailed) return;
        const std::shared_lock copying(growing_);
        std::size_t at = start;
        for (const auto& record : records) {
          const std::size_t n = record.mz.size();
          if (n == 0) continue;
          std::memcpy(mz_.data() + at, record.mz.data(), n * sizeof(double));
          std::memcpy(intensity_.data() + at, record.intensity.data(), n * sizeof(float));
          at += n;
        }
      }
    } catch (...) {
      fail(std::current_exception());
    }
  }

  static constexpr std::size_t kFailed = ~std::size_t{0};

  // Waits for the chunk's turn, gives it its place and its offsets, grows
  // the arrays when they are too short; the start of its place.
  std::size_t place(std::size_t chunk, std::size_t first,
                    const std::vector<quorlith::SpectrumRecord>& records) {
    std::unique_lock lock(turn_mutex_);
    turn_changed_.wait(lock, [&] { return failed_ || turn_ == chunk; });
    if (failed_) return kFailed;
    const std::size_t start = total_;
    std::size_t at = start;
    for (std::size_t j = 0; j < records.size(); ++j) {
      at += records[j].mz.size();
      offsets_[first + j + 1] = static_cast<std::int64_t>(at);
    }
    total_ = at;
    if (total_ > mz_.capacity()) {
      // Waits for every copy in progress: the arrays may move.
      const std::unique_lock growing(growing_);
      reserve(std::max(total_, mz_.capacity() + mz_.capacity() / 2));
    }
    ++turn_;
    turn_changed_.notify_all();
    return start;
  }

  const Reader& reader_;
  std::span<const std::size_t> positions_;
  const std::size_t chunks_;
  std::atomic<std::size_t> next_chunk_{0};

  std::mutex turn_mutex_;
  std::condition_variable turn_changed_;
  std::size_t turn_ = 0;  // the chunk whose place is given next
  std::size_t total_ = 0;
  std::atomic<bool> failed_{false};
  std::exception_ptr failure_;

  std::shared_mutex growing_;  // shared while copying, exclusive while growing
  FlatBuffer<double> mz_;
  FlatBuffer<float> intensity_;
  std::vector<std::int64_t> offsets_;
};

}  // namespace

FlatPeaks gather_peaks(const Reader& reader, std::span<const std::size_t> positions,
                       unsigned threads) {
  Gatherer gatherer(reader, positions);
  gatherer.run(threads);
  return gatherer.finish();
}

}  // namespace velmoran::arrays
