// without_gil(work): runs C++ work with the interpreter lock released.
//
//   lock.release(); try: return work() finally: lock.acquire()
//
// The work touches no Python object. A C++ exception thrown inside comes
// out after the lock is taken back, for guarded() to turn into MemoryError.
#pragma once

#include <Python.h>

#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

namespace velmoran::arrays {

template <class Work>
[[nodiscard]] auto without_gil(Work&& work) -> std::invoke_result_t<Work> {
  using Result = std::invoke_result_t<Work>;
  std::optional<Result> result;
  std::exception_ptr failure;
  Py_BEGIN_ALLOW_THREADS try { result.emplace(work()); } catch (...) {
    failure = std::current_exception();
  }
  Py_END_ALLOW_THREADS if (failure) std::rethrow_exception(failure);
  return std::move(*result);
}

}  // namespace velmoran::arrays
