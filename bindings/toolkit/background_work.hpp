// in_background(member, work): runs C++ work on a thread of its own while the
// calling thread waits as Ctrl-C expects, in Python terms:
//
//   stop = False
//   worker = Thread(target=lambda: work(stop)); worker.start()
//   try: wait_interruptibly(member, worker.join)       # see without_gil.hpp
//   except KeyboardInterrupt: stop = True; worker.join(); raise
//   return the work's result (or raise what it raised, guarded.hpp)
//
// The work touches no Python object and checks `stop` often (between
// scans): a stop takes effect within one scan's read.
#pragma once

#include <Python.h>

#include <atomic>
#include <chrono>
#include <future>
#include <optional>
#include <thread>
#include <type_traits>
#include <utility>

#include "without_gil.hpp"

namespace velmoran::python {

// The work's result, or nullopt with KeyboardInterrupt (or the signal
// handler's exception) set. What the work throws is thrown here, with the
// lock held, for guarded() to raise.
// Stops and joins the worker on every way out, also the forced unwind that
// ends a daemon thread taking the lock back while the interpreter shuts
// down (../guarded.hpp): the worker never outlives what it refers to.
class BackgroundThread {
 public:
  BackgroundThread(std::atomic<bool>& stop, std::thread thread) noexcept
      : stop_(stop), thread_(std::move(thread)) {}
  BackgroundThread(const BackgroundThread&) = delete;
  BackgroundThread& operator=(const BackgroundThread&) = delete;
  ~BackgroundThread() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }
  void join() { thread_.join(); }

 private:
  std::atomic<bool>& stop_;
  std::thread thread_;
};

template <class Work>
[[nodiscard]] auto in_background(LockRelease member, Work&& work)
    -> std::optional<std::invoke_result_t<Work, const std::atomic<bool>&>> {
  using Result = std::invoke_result_t<Work, const std::atomic<bool>&>;
  std::atomic<bool> stop{false};
  std::packaged_task<Result()> task([&] { return work(stop); });
  std::future<Result> result = task.get_future();
  BackgroundThread worker(stop, std::thread(std::move(task)));
  const bool done = wait_interruptibly(member, [&](std::chrono::milliseconds timeout) {
    return result.wait_for(timeout) == std::future_status::ready;
  });
  if (!done) stop = true;
  (void)without_gil(member, [&] {
    worker.join();
    return true;
  });
  if (!done) return std::nullopt;
  return result.get();
}

}  // namespace velmoran::python
