// without_gil(member, work): runs C++ work with the interpreter lock
// released, on behalf of `member` (lock_release.hpp).
//
//   lock.release(); try: return work() finally: lock.acquire()
//
// wait_interruptibly(member, wait): waits for work done on other threads, as
// Ctrl-C expects:
//
//   while True:
//       check_signals()                   # KeyboardInterrupt: return False
//       lock.release(); done = wait(kSignalPoll); lock.acquire()
//       if done: return True
//
// The work touches no Python object. A C++ exception thrown inside comes
// out after the lock is taken back, for guarded() to raise. Taking the lock
// back while the interpreter shuts down ends the thread with a forced
// unwind (guarded.hpp), which nothing here catches.
#pragma once

#include <Python.h>

#include <chrono>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "lock_release.hpp"

namespace velmoran::python {

template <class Work>
[[nodiscard]] auto without_gil(LockRelease /*member*/, Work&& work) -> std::invoke_result_t<Work> {
  using Result = std::invoke_result_t<Work>;
  std::optional<Result> result;
  std::exception_ptr failure;
  PyThreadState* const state = PyEval_SaveThread();
  try {
    result.emplace(work());
  } catch (const std::exception&) {
    failure = std::current_exception();
  }
  PyEval_RestoreThread(state);
  if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

// How long a wait goes without the interpreter lock before signal handlers
// run: well inside the 0.2 s in which Ctrl-C is expected to act.
inline constexpr std::chrono::milliseconds kSignalPoll{50};

// Calls `wait(kSignalPoll)` without the lock until it returns true (the
// work is done), running the signal handlers before each call. False with
// the handler's exception set (KeyboardInterrupt): the caller then stops
// the work.
template <class Wait>
[[nodiscard]] bool wait_interruptibly(LockRelease member, Wait&& wait) {
  while (true) {
    if (PyErr_CheckSignals() < 0) return false;
    if (without_gil(member, [&] { return wait(kSignalPoll); })) return true;
  }
}

}  // namespace velmoran::python
