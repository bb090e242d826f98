#include "decode_ahead.hpp"

#include <algorithm>
#include <utility>

namespace velmoran::arrays {

namespace {

// Spectra decoded ahead per worker: enough to keep every worker busy while
// the consumer is slow on one spectrum, few enough to stay small (a
// spectrum of 20,000 points is 240 KB).
constexpr std::size_t kAheadPerThread = 4;

}  // namespace

DecodeAhead::DecodeAhead(std::shared_ptr<const Reader> reader, std::vector<std::size_t> positions,
                         unsigned threads)
    : reader_(std::move(reader)),
      positions_(std::move(positions)),
      thread_count_(static_cast<unsigned>(std::min<std::size_t>(
          std::max(threads, 1U), std::max<std::size_t>(positions_.size(), 1)))),
      slots_(kAheadPerThread * thread_count_) {}

DecodeAhead::~DecodeAhead() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  work_ready_.notify_all();
  for (auto& worker : workers_) worker.join();
}

void DecodeAhead::work() {
  const std::size_t window = slots_.size();
  std::unique_lock lock(mutex_);
  while (true) {
    work_ready_.wait(lock, [&] {
      return stopping_ || claimed_ == positions_.size() || claimed_ < taken_ + window;
    });
    if (stopping_ || claimed_ == positions_.size()) return;
    const std::size_t k = claimed_++;
    lock.unlock();
    Slot done;
    try {
      done.spectrum = reader_->read_spectrum(positions_[k]);
    } catch (...) {
      done.failure = std::current_exception();
    }
    lock.lock();
    slots_[k % window] = std::move(done);
    slot_filled_.notify_all();
  }
}

std::optional<ScanSpectrum> DecodeAhead::next() {
  const std::lock_guard consumer(consumer_mutex_);
  std::unique_lock lock(mutex_);
  if (workers_.empty() && !positions_.empty()) {
    workers_.reserve(thread_count_);
    for (unsigned i = 0; i < thread_count_; ++i) workers_.emplace_back([this] { work(); });
  }
  if (taken_ == positions_.size()) return std::nullopt;
  const std::size_t k = taken_;
  Slot& slot = slots_[k % slots_.size()];
  slot_filled_.wait(lock, [&] { return slot.spectrum || slot.failure; });
  Slot done = std::move(slot);
  slot = Slot{};
  ++taken_;
  lock.unlock();
  work_ready_.notify_all();
  if (done.failure) std::rethrow_exception(done.failure);
  return std::move(done.spectrum);
}

}  // namespace velmoran::arrays
