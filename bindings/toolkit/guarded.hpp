// guarded(body): no C++ exception reaches the interpreter.
//
//   try: return body()
//   except std::bad_alloc, std::length_error: raise MemoryError
//   except std::system_error as e: raise OSError(e.errno, strerror)
//   except std::exception as e: raise RuntimeError(e.what())
//
// Every slot and method body of both modules runs inside guarded(); the
// mapping is raise_exception() (errors.cpp), the one place that turns C++
// exceptions into Python ones.
//
// One unwind passes through untouched: a thread that takes the interpreter
// lock back while the interpreter shuts down (a daemon thread still inside
// a call at exit) is ended by the C library with a forced unwind, which
// must reach the thread's start. Caught and not rethrown, or met by a
// noexcept frame, it aborts the process. So guarded() catches only
// std::exception, which a forced unwind is not (every exception the
// library and the standard library throw is one), and neither guarded()
// nor the members that may release the lock (lock_release.hpp) or run an
// argument's Python code (__index__, an import) are noexcept.
#pragma once

#include <Python.h>

#include <exception>
#include <type_traits>

namespace velmoran::python {

// Raises the Python exception of a C++ exception (above).
void raise_exception(const std::exception& failure) noexcept;

// Runs `body`; a C++ exception becomes its Python exception and the slot's
// failure value: null or -1. A forced unwind goes on.
template <class Body>
[[nodiscard]] auto guarded(Body&& body) -> decltype(body()) {
  using Result = decltype(body());
  try {
    return body();
  } catch (const std::exception& failure) {
    raise_exception(failure);
    if constexpr (std::is_pointer_v<Result>) {
      return nullptr;
    } else {
      return Result{-1};
    }
  }
}

}  // namespace velmoran::python
