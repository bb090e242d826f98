#include <velmoran/inspect/spectra.hpp>

#include <condition_variable>
#include <cstddef>
#include <deque>
#include <exception>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

namespace velmoran::inspect {

Representation representation_of(const quorlith::SpectrumRecord& record,
                                 const raw::ScanRecord& scan) {
  if (record.mz.empty()) return Representation::empty;
  // A profile block that decoded to points is used whole. One that decoded
  // to none (its point count is 0) leaves the points to the peak block:
  // then they are centroids although the profile block decoded.
  const bool profile_points = record.profile_decoded && scan.profile_block &&
                              scan.profile_block->point_count > 0;
  return profile_points ? Representation::profile : Representation::centroid;
}

const char* representation_name(Representation representation) {
  switch (representation) {
    case Representation::profile: return "profile";
    case Representation::centroid: return "centroid";
    case Representation::empty: break;
  }
  return "empty";
}

namespace {

// Records handed from the reading thread to the visiting one, at most
// kDepth at a time, so memory stays a few spectra whatever the run's size.
class Handoff {
 public:
  static constexpr std::size_t kDepth = 4;

  // Producer: false once the consumer has stopped.
  bool put(quorlith::SpectrumRecord&& record) {
    std::unique_lock lock(mutex_);
    not_full_.wait(lock, [&] { return queue_.size() < kDepth || stopped_; });
    if (stopped_) return false;
    queue_.push_back(std::move(record));
    not_empty_.notify_one();
    return true;
  }
  void close(std::exception_ptr failure) {
    const std::lock_guard lock(mutex_);
    closed_ = true;
    failure_ = std::move(failure);
    not_empty_.notify_one();
  }

  // Consumer: nullopt at the end.
  std::optional<quorlith::SpectrumRecord> take() {
    std::unique_lock lock(mutex_);
    not_empty_.wait(lock, [&] { return !queue_.empty() || closed_; });
    if (queue_.empty()) return std::nullopt;
    quorlith::SpectrumRecord record = std::move(queue_.front());
    queue_.pop_front();
    not_full_.notify_one();
    return record;
  }
  void stop() {
    const std::lock_guard lock(mutex_);
    stopped_ = true;
    not_full_.notify_one();
  }
  [[nodiscard]] std::exception_ptr failure() {
    const std::lock_guard lock(mutex_);
    return failure_;
  }

 private:
  std::mutex mutex_;
  std::condition_variable not_empty_;
  std::condition_variable not_full_;
  std::deque<quorlith::SpectrumRecord> queue_;
  bool closed_ = false;
  bool stopped_ = false;
  std::exception_ptr failure_;
};

}  // namespace

bool for_each_spectrum(const Reader& reader,
                       const std::function<bool(quorlith::SpectrumRecord&)>& visit) {
  // Reading and decoding run on a thread of their own, a few spectra ahead,
  // so that what `visit` does with one spectrum overlaps with the reading
  // of the next: the commands cost little more than the read itself.
  Handoff handoff;
  std::thread reading([&reader, &handoff] {
    std::exception_ptr failure;
    try {
      auto spectra = reader.iter_spectra();
      while (auto record = spectra->next()) {
        if (!handoff.put(std::move(*record))) break;
      }
    } catch (...) {
      failure = std::current_exception();  // out of memory: rethrown below
    }
    handoff.close(std::move(failure));
  });

  bool complete = true;
  try {
    while (auto record = handoff.take()) {
      if (!visit(*record)) {
        complete = false;
        break;
      }
    }
  } catch (...) {
    handoff.stop();
    reading.join();
    throw;
  }
  handoff.stop();
  reading.join();
  if (auto failure = handoff.failure()) std::rethrow_exception(failure);
  return complete;
}

}  // namespace velmoran::inspect
