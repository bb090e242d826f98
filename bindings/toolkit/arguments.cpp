// The argument binder of both modules and the conversions they share
// (arguments.hpp).
#include "arguments.hpp"

#include <cstring>

#include "py_ref.hpp"

namespace velmoran::python {

namespace {

// Binds the arguments from `nargs` positional ones (`positional(i)` gives
// the i-th) and the keywords that `for_each_keyword` visits in the order
// given. Every binding message comes from here.
template <class Positional, class ForEachKeyword>
bool bind(const Signature& signature, Py_ssize_t nargs, Positional&& positional,
          ForEachKeyword&& for_each_keyword, std::span<PyObject*> out) {
  const auto count = static_cast<Py_ssize_t>(signature.names.size());
  if (nargs > count) {
    if (signature.python_wording) {
      PyErr_Format(PyExc_TypeError, "%s takes %zd positional arguments but %zd were given",
                   signature.member, count, nargs);
    } else {
      PyErr_Format(PyExc_TypeError, "%s takes at most %zd positional arguments (%zd given)",
                   signature.member, count, nargs);
    }
    return false;
  }
  for (auto& slot : out) slot = nullptr;
  for (Py_ssize_t i = 0; i < nargs; ++i) out[static_cast<std::size_t>(i)] = positional(i);
  const bool ok = for_each_keyword([&](PyObject* key, PyObject* value) {
    std::size_t found = signature.names.size();
    if (PyUnicode_Check(key)) {
      for (std::size_t i = 0; i < signature.names.size(); ++i) {
        if (PyUnicode_CompareWithASCIIString(key, signature.names[i]) == 0) found = i;
      }
    }
    if (found == signature.names.size()) {
      PyErr_Format(PyExc_TypeError, "%s got an unexpected keyword argument '%S'", signature.member,
                   key);
      return false;
    }
    if (out[found]) {
      PyErr_Format(PyExc_TypeError, "%s got multiple values for argument '%s'", signature.member,
                   signature.names[found]);
      return false;
    }
    out[found] = value;
    return true;
  });
  if (!ok) return false;
  for (std::size_t i = 0; i < signature.required; ++i) {
    if (!out[i]) {
      PyErr_Format(PyExc_TypeError,
                   signature.python_wording ? "%s missing 1 required positional argument: '%s'"
                                            : "%s missing required argument '%s'",
                   signature.member, signature.names[i]);
      return false;
    }
  }
  return true;
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

bool bind_arguments(const Signature& signature, PyObject* const* args, Py_ssize_t nargs,
                    PyObject* kwnames, std::span<PyObject*> out) noexcept {
  return bind(
      signature, nargs, [&](Py_ssize_t i) { return args[i]; },
      [&](auto&& visit) {
        const Py_ssize_t keywords = kwnames ? PyTuple_GET_SIZE(kwnames) : 0;
        for (Py_ssize_t k = 0; k < keywords; ++k) {
          if (!visit(PyTuple_GET_ITEM(kwnames, k), args[nargs + k])) return false;
        }
        return true;
      },
      out);
}

bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                    std::span<PyObject*> out) noexcept {
  return bind(
      signature, PyTuple_GET_SIZE(args), [&](Py_ssize_t i) { return PyTuple_GET_ITEM(args, i); },
      [&](auto&& visit) {
        Py_ssize_t position = 0;
        PyObject* key = nullptr;
        PyObject* value = nullptr;
        while (kwargs && PyDict_Next(kwargs, &position, &key, &value)) {
          if (!visit(key, value)) return false;
        }
        return true;
      },
      out);
}

PyObject* bind_argument(const Parameter& parameter, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept {
  const char* const names[] = {parameter.name};
  PyObject* bound[1] = {};
  const Signature signature{parameter.member, names, 1, true};
  return bind_arguments(signature, args, nargs, kwnames, bound) ? bound[0] : nullptr;
}

PyObject* bind_argument(const Parameter& parameter, PyObject* args, PyObject* kwargs) noexcept {
  const char* const names[] = {parameter.name};
  PyObject* bound[1] = {};
  const Signature signature{parameter.member, names, 1, true};
  return bind_arguments(signature, args, kwargs, bound) ? bound[0] : nullptr;
}

std::optional<std::string> fs_path(PyObject* value) {
  PyObject* encoded = nullptr;
  if (!PyUnicode_FSConverter(value, &encoded)) return std::nullopt;
  const PyRef bytes = PyRef::steal(encoded);
  return std::string(PyBytes_AS_STRING(bytes.get()),
                     static_cast<std::size_t>(PyBytes_GET_SIZE(bytes.get())));
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

bool is_bool(PyObject* value) noexcept {
  if (PyBool_Check(value)) return true;
  // numpy's bool scalars, which have __index__ (numpy.bool_; numpy.bool
  // from numpy 2 on), without importing numpy.
  const char* name = Py_TYPE(value)->tp_name;
  return std::strcmp(name, "numpy.bool_") == 0 || std::strcmp(name, "numpy.bool") == 0;
}

std::optional<std::int64_t> integer_argument(PyObject* value, const char* member,
                                             const char* name) {
  if (is_bool(value) || !PyIndex_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s: %s must be an integer, not %.200s", member, name,
                 Py_TYPE(value)->tp_name);
    return std::nullopt;
  }
  const PyRef index = PyRef::steal(PyNumber_Index(value));
  if (!index) return std::nullopt;
  int overflow = 0;
  const long long converted = PyLong_AsLongLongAndOverflow(index.get(), &overflow);
  if (overflow != 0) {
    PyErr_Format(PyExc_OverflowError, "%s: %s is out of range: %R", member, name, index.get());
    return std::nullopt;
  }
  if (converted == -1 && PyErr_Occurred()) return std::nullopt;
  return std::int64_t{converted};
}

std::optional<double> real_argument(PyObject* value, const char* member, const char* name) {
  PyNumberMethods* number = Py_TYPE(value)->tp_as_number;
  const bool numeric = PyFloat_Check(value) || PyLong_Check(value) ||
                       (number && (number->nb_float || number->nb_index));
  if (is_bool(value) || !numeric) {
    PyErr_Format(PyExc_TypeError, "%s: %s must be a number, not %.200s", member, name,
                 Py_TYPE(value)->tp_name);
    return std::nullopt;
  }
  const double converted = PyFloat_AsDouble(value);
  if (converted == -1.0 && PyErr_Occurred()) return std::nullopt;
  return converted;
}

bool is_scalar(PyObject* value) {
  if (!Py_TYPE(value)->tp_iter && !PySequence_Check(value)) return true;
  if (PyUnicode_Check(value) || PyBytes_Check(value) || PyByteArray_Check(value)) return false;
  // A 0-d array: its ndim is 0.
  const PyRef ndim = PyRef::steal(PyObject_GetAttrString(value, "ndim"));
  if (!ndim) {
    PyErr_Clear();
    return false;
  }
  return PyLong_CheckExact(ndim.get()) && PyLong_AsLong(ndim.get()) == 0;
}

PyObject* collection_argument(PyObject* value, const char* member, const char* name) {
  if (PyUnicode_Check(value) || PyBytes_Check(value) || PyByteArray_Check(value) ||
      (!Py_TYPE(value)->tp_iter && !PySequence_Check(value))) {
    return PyErr_Format(PyExc_TypeError, "%s: %s must be a collection, not %.200s", member, name,
                        Py_TYPE(value)->tp_name);
  }
  return PySequence_List(value);
}

}  // namespace velmoran::python
