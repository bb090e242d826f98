// reduce_by_value() and the reading of a state (pickle.hpp).
#include "pickle.hpp"

#include "array.hpp"

namespace velmoran::python {

PyObject* reduce_by_value(PyObject* self, PyRef state) noexcept {
  if (!state) return nullptr;
  const PyRef rebuild = PyRef::steal(
      PyObject_GetAttrString(reinterpret_cast<PyObject*>(Py_TYPE(self)), "_from_state"));
  if (!rebuild) return nullptr;
  return Py_BuildValue("(O(O))", rebuild.get(), state.get());
}

PyRef attributes_state(PyObject* self, std::span<const char* const> names) noexcept {
  PyRef state = PyRef::steal(PyDict_New());
  if (!state) return state;
  for (const char* name : names) {
    const PyRef value = PyRef::steal(PyObject_GetAttrString(self, name));
    if (!value || PyDict_SetItemString(state.get(), name, value.get()) < 0) return PyRef();
  }
  return state;
}

PyRef own_state(PyObject* state) {
  if (!PyDict_CheckExact(state)) {
    PyErr_Format(PyExc_TypeError, "a pickled state must be a dict, not %.200s",
                 Py_TYPE(state)->tp_name);
    return PyRef();
  }
  PyRef copy = PyRef::steal(PyDict_Copy(state));
  if (!copy) return copy;
  Py_ssize_t position = 0;
  PyObject* key = nullptr;
  PyObject* value = nullptr;
  while (PyDict_Next(copy.get(), &position, &key, &value)) {
    if (!PyUnicode_CheckExact(key)) {
      PyErr_Format(PyExc_TypeError, "a pickled state's keys must be str, not %.200s",
                   Py_TYPE(key)->tp_name);
      return PyRef();
    }
  }
  return copy;
}

PyObject* state_item(PyObject* state, const char* name) noexcept {
  if (!PyDict_Check(state)) {
    PyErr_Format(PyExc_TypeError, "a pickled state must be a dict, not %.200s",
                 Py_TYPE(state)->tp_name);
    return nullptr;
  }
  PyObject* item = PyDict_GetItemString(state, name);
  if (!item) PyErr_Format(PyExc_ValueError, "a pickled state lacks '%s'", name);
  return item;
}

PyObject* state_array(PyObject* state, const char* name, char format, int ndim) noexcept {
  PyObject* item = state_item(state, name);
  PyTypeObject* type = array_type();
  if (!item || !type) return nullptr;
  if (!PyObject_TypeCheck(item, type) || array_format(item) != format || array_ndim(item) != ndim) {
    PyErr_Format(PyExc_TypeError, "a pickled state's '%s' must be a %d-D Array of '%c'", name, ndim,
                 format);
    return nullptr;
  }
  return item;
}

}  // namespace velmoran::python
