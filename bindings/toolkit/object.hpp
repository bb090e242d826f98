// The plumbing of the types both modules define: an object that holds one
// C++ value, made only by the module.
//
//   class T:
//       def __new__(cls, *args, **kwargs):
//           raise TypeError(f"cannot create '{module}.{name}' instances")
//       # the value lives as long as the object; its destructor runs in
//       # tp_dealloc
//
// A type from PyType_FromSpec lists refuse_new as Py_tp_new and
// dealloc<Data> as Py_tp_dealloc; make_object() builds an instance around
// a value.
#pragma once

#include <Python.h>

#include <memory>
#include <type_traits>
#include <utility>

#include "py_ref.hpp"

namespace velmoran::python {

template <class Data>
struct Object {
  PyObject_HEAD
  Data data;
};

template <class Data>
[[nodiscard]] Data& data_of(PyObject* self) noexcept {
  return reinterpret_cast<Object<Data>*>(self)->data;
}

// A new reference to `object`, for getters that hand out what the value
// holds.
[[nodiscard]] inline PyObject* new_reference(PyObject* object) noexcept {
  Py_INCREF(object);
  return object;
}

[[nodiscard]] inline PyObject* new_reference(const PyRef& object) noexcept {
  return new_reference(object.get());
}

// tp_new of a type only the module makes.
inline PyObject* refuse_new(PyTypeObject* type, PyObject* /*args*/, PyObject* /*kwargs*/) noexcept {
  return PyErr_Format(PyExc_TypeError, "cannot create '%s' instances", type->tp_name);
}

// tp_dealloc: destroys the value, frees the object and drops the reference
// every instance of a heap type holds to its type.
template <class Data>
void dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&data_of<Data>(self));
  type->tp_free(self);
  Py_DECREF(type);
}

// A new instance of `type` (null: the exception is set) holding `data`.
template <class Data>
[[nodiscard]] PyObject* make_object(PyTypeObject* type, Data&& data) {
  static_assert(std::is_nothrow_move_constructible_v<std::remove_cvref_t<Data>>);
  if (!type) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  std::construct_at(&data_of<std::remove_cvref_t<Data>>(self), std::forward<Data>(data));
  return self;
}

// The type of `spec`, made on first use and kept in `cache` for the life of
// the process (borrowed): a module executed again gets the same type
// object. Null with the exception set.
[[nodiscard]] inline PyTypeObject* type_of_spec(PyType_Spec& spec, PyTypeObject*& cache) noexcept {
  if (!cache) cache = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  return cache;
}

}  // namespace velmoran::python
