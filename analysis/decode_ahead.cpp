#include <velmoran/analysis/decode_ahead.hpp>

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <exception>
#include <mutex>
#include <span>
#include <thread>
#include <utility>

namespace velmoran::analysis {

namespace {

// Spectra decoded ahead per worker: enough to keep every worker busy while
// the consumer is slow on one spectrum, few enough to stay small (a
// spectrum of 20,000 points is 240 KB).
constexpr std::size_t kAheadPerThread = 4;

}  // namespace

// The workers and what they share with the consumer: spectra first + k of
// the positions, for k from 0.
struct DecodeAhead::State {
  struct Slot {
    std::optional<ScanSpectrum> spectrum;
    std::exception_ptr failure;
  };

  State(const Reader& of, std::span<const std::size_t> chosen, unsigned threads, PeakMode peak_mode)
      : reader(of),
        positions(chosen),
        mode(peak_mode),
        thread_count(static_cast<unsigned>(
            std::min<std::size_t>(std::max(threads, 1U), std::max<std::size_t>(chosen.size(), 1)))),
        slots(kAheadPerThread * thread_count) {}

  State(const State&) = delete;
  State& operator=(const State&) = delete;

  ~State() {
    {
      const std::lock_guard lock(mutex);
      stopping = true;
    }
    work_ready.notify_all();
    for (auto& worker : workers) worker.join();
  }

  void work() {
    const std::size_t window = slots.size();
    std::unique_lock lock(mutex);
    while (true) {
      work_ready.wait(lock, [&] {
        return stopping || claimed == positions.size() || claimed < taken + window;
      });
      if (stopping || claimed == positions.size()) return;
      const std::size_t k = claimed++;
      lock.unlock();
      Slot done;
      try {
        done.spectrum = read_scan(reader, positions[k], mode);
      } catch (...) {
        done.failure = std::current_exception();
      }
      lock.lock();
      slots[k % window] = std::move(done);
      slot_filled.notify_all();
    }
  }

  Taken next(std::chrono::milliseconds timeout) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    std::unique_lock lock(mutex);
    if (workers.empty() && !positions.empty()) {
      workers.reserve(thread_count);
      for (unsigned i = 0; i < thread_count; ++i) workers.emplace_back([this] { work(); });
    }
    // Consumers that share the iterator all wait for the next spectrum in
    // order; the first to wake takes it, the others wait for the one after.
    const auto next_ready = [&] {
      if (taken == positions.size()) return true;
      const Slot& slot = slots[taken % slots.size()];
      return slot.spectrum.has_value() || slot.failure != nullptr;
    };
    if (!slot_filled.wait_until(lock, deadline, next_ready)) return {};
    if (taken == positions.size()) return {true, std::nullopt};
    Slot& slot = slots[taken % slots.size()];
    Slot done = std::move(slot);
    slot = Slot{};
    ++taken;
    lock.unlock();
    work_ready.notify_all();
    // The others now wait for the next one, or see the end.
    slot_filled.notify_all();
    if (done.failure) std::rethrow_exception(done.failure);
    return {true, std::move(done.spectrum)};
  }

  const Reader& reader;
  std::span<const std::size_t> positions;
  const PeakMode mode;
  const unsigned thread_count;
  std::vector<Slot> slots;  // spectrum k waits in slot k % window

  std::mutex mutex;
  std::condition_variable work_ready;   // a worker may claim the next spectrum
  std::condition_variable slot_filled;  // a spectrum was decoded
  std::size_t claimed = 0;              // spectra claimed by workers
  std::size_t taken = 0;                // spectra handed to the consumer
  bool stopping = false;
  std::vector<std::thread> workers;
};

DecodeAhead::DecodeAhead(std::shared_ptr<const Reader> reader, std::vector<std::size_t> positions,
                         unsigned threads, PeakMode mode)
    : reader_(std::move(reader)),
      positions_(std::move(positions)),
      threads_(threads),
      mode_(mode),
      pid_(::getpid()),
      state_(std::make_unique<State>(*reader_, positions_, threads_, mode_)) {}

DecodeAhead::~DecodeAhead() {
  if (::getpid() != pid_) abandon();
}

DecodeAhead::Taken DecodeAhead::next(std::chrono::milliseconds timeout) {
  return state_->next(timeout);
}

std::optional<ScanSpectrum> DecodeAhead::next() {
  while (true) {
    Taken taken = state_->next(std::chrono::hours(1));
    if (taken.ready) return std::move(taken.spectrum);
  }
}

void DecodeAhead::resume_after_fork() {
  if (::getpid() == pid_) return;
  // No other thread of the child has seen this state: the count of spectra
  // handed out is what the parent had when it forked.
  const std::size_t taken = state_->taken;
  std::vector<std::size_t> rest(positions_.begin() + static_cast<std::ptrdiff_t>(taken),
                                positions_.end());
  abandon();
  positions_ = std::move(rest);
  pid_ = ::getpid();
  state_ = std::make_unique<State>(*reader_, positions_, threads_, mode_);
}

void DecodeAhead::abandon() {
  // The parent's state, with the reader and positions it refers to, stays
  // reachable from here for the life of the child: leak checkers see it in
  // use, and nothing ever waits on its locks or joins its threads.
  struct Abandoned {
    std::shared_ptr<const Reader> reader;
    std::vector<std::size_t> positions;
    std::unique_ptr<State> state;
  };
  static auto* const abandoned = new std::vector<Abandoned>();
  try {
    abandoned->push_back({reader_, std::move(positions_), std::move(state_)});
  } catch (...) {
    // No memory to keep it: forget it all the same.
    (void)state_.release();
  }
}

}  // namespace velmoran::analysis
