// The argument binder of RawReader.__new__(path) and
// RawReader.read_spectrum(scan_index), and the conversions of path and
// scan_index; the messages are listed in arguments.hpp.
#include "arguments.hpp"

#include "py_ref.hpp"

namespace velmoran::python {

namespace {

// Binds one parameter from `nargs` positional arguments (the first one is
// `first_positional`) and the keywords that `for_each_keyword` visits in
// the order given. Every binding message comes from here.
template <class ForEachKeyword>
PyObject* bind(const Parameter& parameter, Py_ssize_t nargs, PyObject* first_positional,
               ForEachKeyword&& for_each_keyword) {
  if (nargs > 1) {
    return PyErr_Format(PyExc_TypeError, "%s takes 1 positional arguments but %zd were given",
                        parameter.member, nargs);
  }
  PyObject* bound = nargs == 1 ? first_positional : nullptr;
  const bool ok = for_each_keyword([&](PyObject* key, PyObject* value) {
    if (!PyUnicode_Check(key) || PyUnicode_CompareWithASCIIString(key, parameter.name) != 0) {
      PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", parameter.member,
                   key);
      return false;
    }
    if (nargs == 1) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", parameter.member,
                   parameter.name);
      return false;
    }
    bound = value;
    return true;
  });
  if (!ok) return nullptr;
  if (!bound) {
    return PyErr_Format(PyExc_TypeError, "%s missing 1 required positional argument: '%s'",
                        parameter.member, parameter.name);
  }
  return bound;
}

// Adds "while processing '{name}'" to the exception being raised, through
// the exception's own add_note where it has one; elsewhere, and if adding
// the note fails, the exception goes on unchanged.
void note_conversion_failure(const Parameter& parameter) noexcept {
  PyObject* type = nullptr;
  PyObject* value = nullptr;
  PyObject* traceback = nullptr;
  PyErr_Fetch(&type, &value, &traceback);
  PyErr_NormalizeException(&type, &value, &traceback);
  if (value) {
    const PyRef add_note = PyRef::steal(PyObject_GetAttrString(value, "add_note"));
    const PyRef note =
        add_note ? PyRef::steal(PyUnicode_FromFormat("while processing '%s'", parameter.name))
                 : PyRef();
    const PyRef result =
        note ? PyRef::steal(PyObject_CallOneArg(add_note.get(), note.get())) : PyRef();
    if (!result) PyErr_Clear();
  }
  PyErr_Restore(type, value, traceback);
}

}  // namespace

PyObject* bind_argument(const Parameter& parameter, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept {
  return bind(parameter, nargs, nargs > 0 ? args[0] : nullptr, [&](auto&& visit) {
    const Py_ssize_t count = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
    for (Py_ssize_t i = 0; i < count; ++i) {
      if (!visit(PyTuple_GET_ITEM(kwnames, i), args[nargs + i])) return false;
    }
    return true;
  });
}

PyObject* bind_argument(const Parameter& parameter, PyObject* args, PyObject* kwargs) noexcept {
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  return bind(parameter, nargs, nargs > 0 ? PyTuple_GET_ITEM(args, 0) : nullptr, [&](auto&& visit) {
    Py_ssize_t position = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (kwargs && PyDict_Next(kwargs, &position, &key, &value)) {
      if (!visit(key, value)) return false;
    }
    return true;
  });
}

std::optional<std::string_view> path_text(PyObject* value, const Parameter& parameter) noexcept {
  if (!PyUnicode_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s argument '%s' must be str, not %.200s", parameter.member,
                 parameter.name, value == Py_None ? "None" : Py_TYPE(value)->tp_name);
    note_conversion_failure(parameter);
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* utf8 = PyUnicode_AsUTF8AndSize(value, &size);
  if (!utf8) {
    note_conversion_failure(parameter);
    return std::nullopt;
  }
  // Passed on whole, a NUL included: the library reads such a path as
  // naming no dataset.
  return std::string_view(utf8, static_cast<std::size_t>(size));
}

std::optional<std::uint64_t> index_value(PyObject* value, const Parameter& parameter) noexcept {
  // An int (True included) passes unchanged; anything else through __index__.
  const PyRef index = PyRef::steal(PyNumber_Index(value));
  if (!index) {
    note_conversion_failure(parameter);
    return std::nullopt;
  }
  const unsigned long long converted = PyLong_AsUnsignedLongLong(index.get());
  if (converted == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
    note_conversion_failure(parameter);
    return std::nullopt;
  }
  return std::uint64_t{converted};
}

}  // namespace velmoran::python
