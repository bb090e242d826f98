// The plumbing of the types both modules define: an object that holds one
// C++ value, made only by the module.
//
//   class T:
//       def __new__(cls, *args, **kwargs):
//           raise TypeError(f"cannot create '{module}.{name}' instances")
//       # the value lives as long as the object; its destructor runs in
//       # tp_dealloc
//
// object_type<Data>() makes such a type (refuse_new, dealloc<Data> and the
// type's own slots), field_getter<&Data::field> reads one field as a Python
// value, and make_object() builds an instance around a value.
#pragma once

#include <Python.h>

#include <algorithm>
#include <array>
#include <cassert>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
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

// The Python value of a field: the object a PyRef holds, a number, a bool,
// text (UTF-8, bad bytes replaced), or None for an empty optional.
[[nodiscard]] inline PyObject* to_python(bool value) noexcept {
  return PyBool_FromLong(value ? 1 : 0);
}
[[nodiscard]] inline PyObject* to_python(double value) noexcept {
  return PyFloat_FromDouble(value);
}
[[nodiscard]] inline PyObject* to_python(std::uint32_t value) noexcept {
  return PyLong_FromUnsignedLong(value);
}
[[nodiscard]] inline PyObject* to_python(std::size_t value) noexcept {
  return PyLong_FromSize_t(value);
}
[[nodiscard]] inline PyObject* to_python(const PyRef& object) noexcept {
  return new_reference(object);
}
[[nodiscard]] inline PyObject* to_python(const std::string& text) noexcept {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}
template <class T>
[[nodiscard]] PyObject* to_python(const std::optional<T>& value) noexcept {
  return value ? to_python(*value) : new_reference(Py_None);
}

template <class Data, class T>
Data owner_of(T Data::*);

// A getter (PyGetSetDef) returning the field `Member` of the object's value.
template <auto Member>
PyObject* field_getter(PyObject* self, void* /*closure*/) noexcept {
  using Data = decltype(owner_of(Member));
  return to_python(data_of<Data>(self).*Member);
}

// The type of `spec`, made on first use and kept in `cache` for the life of
// the process (borrowed): a module executed again gets the same type
// object. Null with the exception set.
[[nodiscard]] inline PyTypeObject* type_of_spec(PyType_Spec& spec, PyTypeObject*& cache) noexcept {
  if (!cache) cache = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spec));
  return cache;
}

// The type `name` (a literal: the type points at it) of objects holding a
// Data, with `slots` (no sentinel) and, where they name none, refuse_new as
// Py_tp_new and dealloc<Data> as Py_tp_dealloc. Made on first use and kept
// in `cache` as type_of_spec() does. No garbage-collector support: the
// values hold no Python object that could lead back to them.
template <class Data>
[[nodiscard]] PyTypeObject* object_type(PyTypeObject*& cache, const char* name,
                                        std::initializer_list<PyType_Slot> slots) noexcept {
  if (cache) return cache;
  std::array<PyType_Slot, 16> all{};  // zero-filled: the rest is the sentinel
  assert(slots.size() + 3 <= all.size());
  auto end = std::copy(slots.begin(), slots.end(), all.begin());
  const auto add_unless_given = [&](int id, void* function) {
    if (std::none_of(slots.begin(), slots.end(),
                     [&](const PyType_Slot& s) { return s.slot == id; })) {
      *end++ = {id, function};
    }
  };
  add_unless_given(Py_tp_new, reinterpret_cast<void*>(refuse_new));
  add_unless_given(Py_tp_dealloc, reinterpret_cast<void*>(dealloc<Data>));
  PyType_Spec spec{name, static_cast<int>(sizeof(Object<Data>)), 0, Py_TPFLAGS_DEFAULT, all.data()};
  return type_of_spec(spec, cache);
}

}  // namespace velmoran::python
