// How failures cross into Python.
//
//   except velmoran.Error as e:  raise RuntimeError(str(e))   # raise_error
//   except MemoryError-like C++ exceptions:  raise MemoryError  # guarded
//
// Every slot and method body runs inside guarded(), so no C++ exception
// reaches the interpreter.
#pragma once

#include <Python.h>

#include <type_traits>

#include <velmoran/error.hpp>

namespace velmoran::python {

// Raises RuntimeError with the error's text. Always returns null, so a call
// site reads `if (!r) return raise_error(r.error());`.
PyObject* raise_error(const velmoran::Error& error) noexcept;

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
