#include <velmoran/pipeline/spectrum_pipeline.hpp>

#include <oneapi/tbb/parallel_pipeline.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <utility>
#include <vector>

#include <velmoran/analysis/thread_count.hpp>

namespace velmoran::pipeline {

namespace {

// oneTBB runs the serial stages one call at a time, in order, hands each
// slot from stage to stage and joins its threads at the end, but it does so
// inside a library that ThreadSanitizer does not see into. The same order
// is stated here in our own code: each stage call acquires, as it starts,
// what the calls before it on its stage, its slot and its thread released
// as they ended. A few uncontended atomic operations per spectrum.
class StatedOrder {
 public:
  StatedOrder(std::size_t slots, std::size_t workers) : slots_(slots), workers_(workers) {}

  // Around the body of a stage call: its stage's point (or its thread's),
  // then its slot's.
  static void pass(std::atomic<std::uint64_t>& point) noexcept {
    point.fetch_add(1, std::memory_order_acq_rel);
  }
  std::atomic<std::uint64_t>& slot(std::size_t i) noexcept { return slots_[i]; }
  std::atomic<std::uint64_t>& worker(std::size_t i) noexcept { return workers_[i]; }
  std::atomic<std::uint64_t> source{0};
  std::atomic<std::uint64_t> place{0};
  std::atomic<std::uint64_t> emit{0};

  // After the pipeline ended, on the starting thread: every point passed.
  void join() noexcept {
    for (auto* point : {&source, &place, &emit}) pass(*point);
    for (auto& point : slots_) pass(point);
    for (auto& point : workers_) pass(point);
  }

 private:
  std::vector<std::atomic<std::uint64_t>> slots_;
  std::vector<std::atomic<std::uint64_t>> workers_;
};

// A stage's body as oneTBB copies it from thread to thread: a pointer to
// the function, only ever written and read atomically, so that a thread
// that runs the body first acquires everything the thread that made the
// copy had done (the function, and all it refers to).
template <class Fn>
class StageBody {
 public:
  explicit StageBody(const Fn* fn) noexcept { std::atomic_ref(fn_).store(fn); }
  StageBody(const StageBody& other) noexcept { std::atomic_ref(fn_).store(other.get()); }
  StageBody& operator=(const StageBody& other) noexcept {
    std::atomic_ref(fn_).store(other.get());
    return *this;
  }
  ~StageBody() = default;

  template <class... Args>
  auto operator()(Args&&... args) const {
    return (*get())(std::forward<Args>(args)...);
  }

 private:
  [[nodiscard]] const Fn* get() const noexcept {
    return std::atomic_ref(const_cast<const Fn*&>(fn_)).load();
  }
  const Fn* fn_;
};

}  // namespace

unsigned thread_count(unsigned requested) { return analysis::thread_count(requested); }

bool for_each_spectrum(const Reader& reader,
                       const std::function<bool(quorlith::SpectrumRecord&)>& visit,
                       BlockOrder order) {
  auto spectra = reader.iter_spectra(order);
  while (auto record = spectra->next()) {
    if (!visit(*record)) return false;
  }
  return true;
}

std::size_t slot_count(unsigned threads) noexcept {
  return threads <= 1 ? 1 : std::size_t{2} * threads;
}

bool run_spectrum_pipeline(const Reader& reader, unsigned threads, const SpectrumStages& stages) {
  threads = thread_count(threads);
  if (threads == 1) {
    return for_each_spectrum(
        reader,
        [&](quorlith::SpectrumRecord& record) {
          if (!stages.take(record, 0)) return true;
          stages.work(0, 0);
          if (stages.place) stages.place(0);
          return stages.emit(0);
        },
        stages.order);
  }
  const std::size_t slots = slot_count(threads);
  auto spectra = reader.iter_spectra(stages.order);
  std::size_t taken = 0;
  bool ended = false;
  // Written by the emitting stage, read by the others.
  std::atomic<bool> stopped = false;
  StatedOrder order(slots, threads);

  // With `slots` tokens at most that many spectra are between take and
  // emit, and emit runs in order: when spectrum k + slots is taken,
  // spectrum k, the one that held the same slot, has been emitted.
  const auto source = [&](tbb::flow_control& control) -> std::size_t {
    StatedOrder::pass(order.source);
    while (!stopped.load(std::memory_order_relaxed)) {
      auto record = spectra->next();
      if (!record) {
        ended = true;
        break;
      }
      const std::size_t slot = taken % slots;
      StatedOrder::pass(order.slot(slot));
      const bool wanted = stages.take(*record, slot);
      StatedOrder::pass(order.slot(slot));
      if (wanted) {
        ++taken;
        StatedOrder::pass(order.source);
        return slot;
      }
    }
    control.stop();
    StatedOrder::pass(order.source);
    return 0;
  };
  // Each call passes its points before it reads anything of this frame
  // (even a captured reference), and again after its last read.
  const auto work = [&](std::size_t slot) {
    // The arena below has `threads` slots, so the index is below it.
    const auto worker = static_cast<std::size_t>(tbb::this_task_arena::current_thread_index());
    StatedOrder::pass(order.worker(worker));
    StatedOrder::pass(order.slot(slot));
    if (!stopped.load(std::memory_order_relaxed)) stages.work(slot, worker);
    StatedOrder::pass(order.slot(slot));
    StatedOrder::pass(order.worker(worker));
    return slot;
  };
  const auto place = [&](std::size_t slot) {
    StatedOrder::pass(order.place);
    StatedOrder::pass(order.slot(slot));
    if (stages.place && !stopped.load(std::memory_order_relaxed)) stages.place(slot);
    StatedOrder::pass(order.slot(slot));
    StatedOrder::pass(order.place);
    return slot;
  };
  const auto emit = [&](std::size_t slot) {
    StatedOrder::pass(order.emit);
    StatedOrder::pass(order.slot(slot));
    if (!stopped.load(std::memory_order_relaxed) && !stages.emit(slot)) {
      stopped.store(true, std::memory_order_relaxed);
    }
    StatedOrder::pass(order.slot(slot));
    StatedOrder::pass(order.emit);
  };
  tbb::task_arena arena(static_cast<int>(threads));
  arena.execute([&] {
    tbb::parallel_pipeline(slots, tbb::make_filter<void, std::size_t>(
                                      tbb::filter_mode::serial_in_order, StageBody(&source)) &
                                      tbb::make_filter<std::size_t, std::size_t>(
                                          tbb::filter_mode::parallel, StageBody(&work)) &
                                      tbb::make_filter<std::size_t, std::size_t>(
                                          tbb::filter_mode::serial_in_order, StageBody(&place)) &
                                      tbb::make_filter<std::size_t, void>(
                                          tbb::filter_mode::serial_in_order, StageBody(&emit)));
  });
  order.join();
  return ended && !stopped.load();
}

}  // namespace velmoran::pipeline
