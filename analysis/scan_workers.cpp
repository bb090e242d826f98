#include <velmoran/analysis/scan_workers.hpp>

#include <algorithm>
#include <exception>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace velmoran::analysis {

namespace {

// Items a thread takes at a time: few enough that the threads finish
// together, enough that taking them costs nothing.
constexpr std::size_t kChunk = 8;

}  // namespace

unsigned worker_count(std::size_t count, unsigned threads) noexcept {
  const std::size_t chunks = (count + kChunk - 1) / kChunk;
  return static_cast<unsigned>(
      std::clamp<std::size_t>(threads, 1, std::max<std::size_t>(chunks, 1)));
}

void for_each_item(std::size_t count, unsigned threads, const std::atomic<bool>& stop,
                   const std::function<void(std::size_t k, std::size_t worker)>& work) {
  std::atomic<std::size_t> next{0};
  std::atomic<bool> failed{false};
  std::mutex failure_mutex;
  std::exception_ptr failure;
  const auto run = [&](std::size_t worker) {
    try {
      while (!stop.load(std::memory_order_relaxed) && !failed.load(std::memory_order_relaxed)) {
        const std::size_t first = next.fetch_add(kChunk);
        if (first >= count) return;
        const std::size_t last = std::min(count, first + kChunk);
        for (std::size_t k = first; k < last; ++k) {
          if (stop.load(std::memory_order_relaxed)) return;
          work(k, worker);
        }
      }
    } catch (...) {
      const std::lock_guard lock(failure_mutex);
      if (!failure) failure = std::current_exception();
      failed = true;
    }
  };
  const std::size_t workers = worker_count(count, threads);
  std::vector<std::thread> pool;
  pool.reserve(workers - 1);
  for (std::size_t w = 1; w < workers; ++w) {
    try {
      pool.emplace_back(run, w);
    } catch (const std::system_error&) {
      break;  // fewer threads do the same work, more slowly
    }
  }
  run(0);
  for (std::thread& thread : pool) thread.join();
  if (failure) std::rethrow_exception(failure);
}

}  // namespace velmoran::analysis
