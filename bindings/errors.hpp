// How failures cross into Python.
//
//   except velmoran.Error as e:  raise RuntimeError(str(e))   # raise_error
//   except MemoryError-like C++ exceptions:  raise MemoryError  # guarded
//
// Every slot and method body runs inside guarded(), so no C++ exception
// reaches the interpreter.
#pragma once

#include <Python.h>

#include <velmoran/error.hpp>

#include "guarded.hpp"

namespace velmoran::python {

// Raises RuntimeError with the error's text. Always returns null, so a call
// site reads `if (!r) return raise_error(r.error());`.
PyObject* raise_error(const velmoran::Error& error) noexcept;

}  // namespace velmoran::python
