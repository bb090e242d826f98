// guarded(body): no C++ exception reaches the interpreter.
//
//   try: return body()
//   except MemoryError-like C++ exceptions: raise MemoryError
//
// Every slot and method body of both modules runs inside guarded().
//
// One unwind passes through untouched: a thread that takes the interpreter
// lock back while the interpreter shuts down (a daemon thread still inside
// a call at exit) is ended by the C library with a forced unwind, which
// must reach the thread's start. Caught and not rethrown, or met by a
// noexcept frame, it aborts the process. So guarded() catches only
// std::exception, which a forced unwind is not (every exception the
// library and the standard library throw is one), and neither guarded()
// nor the slots that may release the lock are noexcept.
#pragma once

#include <Python.h>

#include <exception>
#include <type_traits>

namespace velmoran::python {

// Runs `body`; a C++ exception (in practice std::bad_alloc) becomes
// MemoryError and the slot's failure value: null or -1. A forced unwind
// goes on.
template <class Body>
[[nodiscard]] auto guarded(Body&& body) -> decltype(body()) {
  using Result = decltype(body());
  try {
    return body();
  } catch (const std::exception&) {
    PyErr_NoMemory();
    if constexpr (std::is_pointer_v<Result>) {
      return nullptr;
    } else {
      return Result{-1};
    }
  }
}

}  // namespace velmoran::python
