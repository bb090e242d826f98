#include <velmoran/pipeline/spectrum_pipeline.hpp>

#include <oneapi/tbb/info.h>
#include <oneapi/tbb/parallel_pipeline.h>
#include <oneapi/tbb/task_arena.h>

#include <algorithm>
#include <atomic>

namespace velmoran::pipeline {

unsigned thread_count(unsigned requested) {
  if (requested != 0) return requested;
  return static_cast<unsigned>(std::max(1, tbb::info::default_concurrency()));
}

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

  // With `slots` tokens at most that many spectra are between take and
  // emit, and emit runs in order: when spectrum k + slots is taken,
  // spectrum k, the one that held the same slot, has been emitted.
  const auto source = [&](tbb::flow_control& control) -> std::size_t {
    while (!stopped.load(std::memory_order_relaxed)) {
      auto record = spectra->next();
      if (!record) {
        ended = true;
        break;
      }
      const std::size_t slot = taken % slots;
      if (stages.take(*record, slot)) {
        ++taken;
        return slot;
      }
    }
    control.stop();
    return 0;
  };
  const auto work = [&](std::size_t slot) {
    if (stopped.load(std::memory_order_relaxed)) return slot;
    // The arena below has `threads` slots, so the index is below it.
    const int worker = tbb::this_task_arena::current_thread_index();
    stages.work(slot, static_cast<std::size_t>(worker));
    return slot;
  };
  const auto place = [&](std::size_t slot) {
    if (stages.place && !stopped.load(std::memory_order_relaxed)) stages.place(slot);
    return slot;
  };
  const auto emit = [&](std::size_t slot) {
    if (!stopped.load(std::memory_order_relaxed) && !stages.emit(slot)) {
      stopped.store(true, std::memory_order_relaxed);
    }
  };
  tbb::task_arena arena(static_cast<int>(threads));
  arena.execute([&] {
    tbb::parallel_pipeline(
        slots,
        tbb::make_filter<void, std::size_t>(tbb::filter_mode::serial_in_order, source) &
            tbb::make_filter<std::size_t, std::size_t>(tbb::filter_mode::parallel, work) &
            tbb::make_filter<std::size_t, std::size_t>(tbb::filter_mode::serial_in_order, place) &
            tbb::make_filter<std::size_t, void>(tbb::filter_mode::serial_in_order, emit));
  });
  return ended && !stopped.load();
}

}  // namespace velmoran::pipeline
