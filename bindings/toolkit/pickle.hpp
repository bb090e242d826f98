// Pickling by value, the same way for every type of velmoran_arrays, in
// Python terms:
//
//   class T:
//       def __reduce__(self):
//           return (T._from_state, (self._state(),))   # reduce_by_value
//       @classmethod
//       def _from_state(cls, state): ...               # rebuilds the value
//
// The state is a tuple (Array) or an exact dict with str keys (the rest:
// TypeError) of plain values, Arrays (which pickle
// themselves) and None, so a result comes back whole from another process
// (multiprocessing.Pool). A type adds
//   {"__reduce__", reduce, METH_NOARGS, nullptr},
//   {"_from_state", from_state, METH_O | METH_CLASS, nullptr},
// to its methods; reduce returns reduce_by_value(self, state), and
// from_state returns read_state(given, read): `read` gets its own copy of
// the state (own_state) and reads it back with state_item() / state_array(). The copy is what makes the borrowed
// items safe: a number's __float__ run while reading cannot reach it.
#pragma once

#include <Python.h>

#include <optional>
#include <span>

#include "guarded.hpp"
#include "py_ref.hpp"

namespace velmoran::python {

// (type(self)._from_state, (state,)); takes over `state` (null: the
// exception is set and null returned).
[[nodiscard]] PyObject* reduce_by_value(PyObject* self, PyRef state) noexcept;

// The state most types pickle: a dict of the attributes `names` of `self`,
// as getattr gives them. Null with the exception set.
[[nodiscard]] PyRef attributes_state(PyObject* self, std::span<const char* const> names) noexcept;

// A copy of `state`, which must be a dict whose keys are all str (exactly:
// looking one up then runs no Python code); null with TypeError set.
[[nodiscard]] PyRef own_state(PyObject* state);

// The item `name` of the state dict (borrowed), or null with ValueError
// naming it when the dict does not have it.
[[nodiscard]] PyObject* state_item(PyObject* state, const char* name) noexcept;

// The item `name` when it is an Array of the format `format` ('d', 'f',
// 'q') with `ndim` dimensions, or null with TypeError set.
[[nodiscard]] PyObject* state_array(PyObject* state, const char* name, char format,
                                    int ndim = 1) noexcept;

// A _from_state method's result: `read(state)` on a copy of the state
// `given`, under guarded().
template <class Read>
[[nodiscard]] PyObject* read_state(PyObject* given, Read&& read) {
  return guarded([&]() -> PyObject* {
    const PyRef owned = own_state(given);
    return owned ? read(owned.get()) : nullptr;
  });
}

}  // namespace velmoran::python
