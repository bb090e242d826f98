// guarded(body): no C++ exception reaches the interpreter.
//
//   try: return body()
//   except MemoryError-like C++ exceptions: raise MemoryError
//
// Every slot and method body of both modules runs inside guarded().
#pragma once

#include <Python.h>

#include <type_traits>

namespace velmoran::python {

// Runs `body`; a C++ exception (in practice std::bad_alloc) becomes
// MemoryError and the slot's failure value: null or -1.
template <class Body>
[[nodiscard]] auto guarded(Body&& body) noexcept -> decltype(body()) {
  using Result = decltype(body());
  try {
    return body();
  } catch (...) {
    PyErr_NoMemory();
    if constexpr (std::is_pointer_v<Result>) {
      return nullptr;
    } else {
      return Result{-1};
    }
  }
}

}  // namespace velmoran::python
