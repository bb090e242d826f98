// An Array's memory as bytes and back, for types that pickle by value:
//
//   bytes_of(a)                 # bytes(memoryview(a))
//   items_of[T](b, member)      # the items of b, whole items of T;
//                               # TypeError (not bytes), ValueError (a partial item)
#pragma once

#include <Python.h>

#include <cstring>
#include <optional>
#include <vector>

#include "py_ref.hpp"

namespace velmoran::python {

// The bytes of `array`'s memory (anything with a buffer); null with the
// exception set.
[[nodiscard]] inline PyRef bytes_of(PyObject* array) {
  Py_buffer view;
  if (PyObject_GetBuffer(array, &view, PyBUF_SIMPLE) < 0) return PyRef();
  PyRef bytes =
      PyRef::steal(PyBytes_FromStringAndSize(static_cast<const char*>(view.buf), view.len));
  PyBuffer_Release(&view);
  return bytes;
}

// The items of `value`, a bytes object of whole items of T; nullopt with
// TypeError or ValueError set, naming `member`.
template <class T>
[[nodiscard]] std::optional<std::vector<T>> items_of(PyObject* value, const char* member) {
  if (!PyBytes_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s takes bytes, not %.200s", member, Py_TYPE(value)->tp_name);
    return std::nullopt;
  }
  const auto size = static_cast<std::size_t>(PyBytes_GET_SIZE(value));
  if (size % sizeof(T) != 0) {
    PyErr_Format(PyExc_ValueError, "%s: the bytes are not whole items", member);
    return std::nullopt;
  }
  std::vector<T> items(size / sizeof(T));
  if (size > 0) std::memcpy(items.data(), PyBytes_AS_STRING(value), size);
  return items;
}

}  // namespace velmoran::python
