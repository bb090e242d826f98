// raise RuntimeError(error.text())   -- the one place library errors become
//                                       Python exceptions
#include "errors.hpp"

#include <string>

#include "py_ref.hpp"

namespace velmoran::python {

PyObject* raise_error(const velmoran::Error& error) noexcept {
  return guarded([&]() -> PyObject* {
    const std::string text = error.text();
    // The texts are ASCII apart from the system's error descriptions, which
    // a locale could render in another encoding: never fail on them.
    const PyRef message = PyRef::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (message) PyErr_SetObject(PyExc_RuntimeError, message.get());
    return nullptr;
  });
}

}  // namespace velmoran::python
