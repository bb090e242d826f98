// Workers take chunks of scans in turn: each decodes its chunk, then, in
// chunk order, is given the chunk's place in the flat arrays (growing them
// when needed, while no one copies), then copies its spectra there while
// the others decode or copy theirs. The thread that started them only
// waits, so that it can stop them at any time.
#include <velmoran/analysis/gather_peaks.hpp>

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <filesystem>
#include <mutex>
#include <shared_mutex>
#include <system_error>
#include <thread>

#include <velmoran/representation.hpp>

#include "flat_buffer.hpp"

namespace velmoran::analysis {

namespace {

// Scans a worker decodes before it places them: few enough that the
// spectra in flight stay a few megabytes, enough to make the turn-taking
// rare.
constexpr std::size_t kChunkScans = 16;
// The first capacity comes from the table's point counts, which a damaged
// table may overstate, so it is held to this (1.5 GiB of address space for
// the m/z; memory only where written) and to what the data files can hold.
// Beyond it the arrays grow.
constexpr std::size_t kMostFirstCapacity = std::size_t{1} << 27;
// A profile point is 4 bytes of an LZF stream, which expands at most 88
// times; a centroid is 12 bytes of the peak file.
constexpr std::uintmax_t kProfilePointsPerByte = 88 / 4;
constexpr std::uintmax_t kPeakBytesPerPoint = 12;

// The points the table says a scan has: its profile's when it has one,
// else its peak block's.
std::size_t claimed_points(const raw::ScanRecord& scan) {
  if (scan.profile_block && scan.profile_block->point_count > 0) {
    return scan.profile_block->point_count;
  }
  return scan.peak_block ? scan.peak_block->point_count : 0;
}

// The size of a file, 0 where it cannot be had.
std::uintmax_t size_of(const std::filesystem::path& path) {
  std::error_code error;
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  return error ? 0 : size;
}

// The most points the data files hold, blocks read once each.
std::size_t points_in_files(const Reader& reader) {
  const std::uintmax_t profile = size_of(reader.profile_path());
  const std::uintmax_t peaks = size_of(reader.peak_path()) / kPeakBytesPerPoint;
  if (profile > (kMostFirstCapacity - peaks) / kProfilePointsPerByte) return kMostFirstCapacity;
  return static_cast<std::size_t>(profile * kProfilePointsPerByte + peaks);
}

}  // namespace

class PeakGathering::Gatherer {
 public:
  Gatherer(const Reader& reader, std::span<const std::size_t> positions, PeakMode mode)
      : reader_(reader),
        positions_(positions),
        mode_(mode),
        chunks_((positions.size() + kChunkScans - 1) / kChunkScans) {
    offsets_.resize(positions.size() + 1);
    centroided_.resize(positions.size());
    const std::size_t most = std::min(kMostFirstCapacity, points_in_files(reader));
    std::size_t claimed = 0;
    for (const std::size_t position : positions) {
      claimed += claimed_points(reader.scans().records[position]);
      if (claimed >= most) break;
    }
    reserve(std::min(claimed, most));
  }

  Gatherer(const Gatherer&) = delete;
  Gatherer& operator=(const Gatherer&) = delete;

  ~Gatherer() {
    cancel();
    for (auto& worker : workers_) worker.join();
  }

  void start(unsigned threads) {
    const auto count = static_cast<unsigned>(std::min<std::size_t>(std::max(threads, 1U), chunks_));
    workers_.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
      try {
        {
          const std::lock_guard lock(turn_mutex_);
          ++running_;
        }
        workers_.emplace_back([this] { run_worker(); });
      } catch (...) {
        const std::lock_guard lock(turn_mutex_);
        --running_;
        // With one worker the work gets done, more slowly.
        if (workers_.empty()) throw;
        break;
      }
    }
  }

  bool wait_for(std::chrono::milliseconds timeout) {
    std::unique_lock lock(turn_mutex_);
    return finished_.wait_for(lock, timeout, [&] { return running_ == 0; });
  }

  void cancel() noexcept {
    const std::lock_guard lock(turn_mutex_);
    stopped_ = true;
    turn_changed_.notify_all();
  }

  FlatPeaks finish() {
    for (auto& worker : workers_) worker.join();
    workers_.clear();
    if (failure_) std::rethrow_exception(failure_);
    FlatPeaks out;
    out.points = total_;
    out.mz = mz_.release(total_);
    out.intensity = intensity_.release(total_);
    out.offsets = std::move(offsets_);
    out.errors = std::move(errors_);
    out.centroided = std::move(centroided_);
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
    stopped_ = true;
    turn_changed_.notify_all();
  }

  void run_worker() {
    try {
      work();
    } catch (...) {
      fail(std::current_exception());
    }
    const std::lock_guard lock(turn_mutex_);
    --running_;
    finished_.notify_all();
  }

  void work() {
    std::vector<ScanSpectrum> spectra;
    while (!stopped_) {
      const std::size_t chunk = next_chunk_.fetch_add(1);
      if (chunk >= chunks_) return;
      const std::size_t first = chunk * kChunkScans;
      const std::size_t last = std::min(first + kChunkScans, positions_.size());
      spectra.clear();
      for (std::size_t k = first; k < last; ++k) {
        // Checked scan by scan: a stop takes effect within one scan's read.
        if (stopped_) return;
        spectra.push_back(read_scan(reader_, positions_[k], mode_));
      }
      const std::size_t start = place(chunk, first, spectra);
      if (start == kStopped) return;
      const std::shared_lock copying(growing_);
      std::size_t at = start;
      for (const auto& spectrum : spectra) {
        const std::size_t n = spectrum.record.mz.size();
        if (n == 0) continue;
        std::memcpy(mz_.data() + at, spectrum.record.mz.data(), n * sizeof(double));
        std::memcpy(intensity_.data() + at, spectrum.record.intensity.data(), n * sizeof(float));
        at += n;
      }
    }
  }

  static constexpr std::size_t kStopped = ~std::size_t{0};

  // Waits for the chunk's turn, gives it its place, its offsets and its
  // errors, grows the arrays when they are too short; the start of its
  // place.
  std::size_t place(std::size_t chunk, std::size_t first,
                    const std::vector<ScanSpectrum>& spectra) {
    std::unique_lock lock(turn_mutex_);
    turn_changed_.wait(lock, [&] { return stopped_ || turn_ == chunk; });
    if (stopped_) return kStopped;
    const std::size_t start = total_;
    std::size_t at = start;
    for (std::size_t j = 0; j < spectra.size(); ++j) {
      at += spectra[j].record.mz.size();
      offsets_[first + j + 1] = static_cast<std::int64_t>(at);
      centroided_[first + j] =
          representation_of(reader_, spectra[j].record) == Representation::centroid ? 1 : 0;
      if (spectra[j].error) errors_.emplace_back(positions_[first + j], spectra[j].error->text());
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
  const PeakMode mode_;
  const std::size_t chunks_;
  std::atomic<std::size_t> next_chunk_{0};
  std::vector<std::thread> workers_;

  std::mutex turn_mutex_;
  std::condition_variable turn_changed_;
  std::condition_variable finished_;  // a worker is done
  std::size_t running_ = 0;           // workers not done
  std::size_t turn_ = 0;              // the chunk whose place is given next
  std::size_t total_ = 0;
  std::atomic<bool> stopped_{false};  // cancelled, or a worker failed
  std::exception_ptr failure_;

  std::shared_mutex growing_;  // shared while copying, exclusive while growing
  FlatBuffer<double> mz_;
  FlatBuffer<float> intensity_;
  std::vector<std::int64_t> offsets_;
  std::vector<std::pair<std::size_t, std::string>> errors_;
  std::vector<std::uint8_t> centroided_;
};

PeakGathering::PeakGathering(const Reader& reader, std::span<const std::size_t> positions,
                             unsigned threads, PeakMode mode)
    : gatherer_(std::make_unique<Gatherer>(reader, positions, mode)) {
  gatherer_->start(threads);
}

PeakGathering::~PeakGathering() = default;

bool PeakGathering::wait_for(std::chrono::milliseconds timeout) {
  return gatherer_->wait_for(timeout);
}

void PeakGathering::cancel() noexcept { gatherer_->cancel(); }

FlatPeaks PeakGathering::finish() { return gatherer_->finish(); }

FlatPeaks gather_peaks(const Reader& reader, std::span<const std::size_t> positions,
                       unsigned threads, PeakMode mode) {
  PeakGathering gathering(reader, positions, threads, mode);
  while (!gathering.wait_for(std::chrono::hours(1))) {
  }
  return gathering.finish();
}

}  // namespace velmoran::analysis
