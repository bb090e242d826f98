// raise the Python exception of a library error: the one place where both
// modules turn library errors into exceptions (errors.hpp).
#include "errors.hpp"

#include <cerrno>
#include <cstdarg>
#include <new>
#include <stdexcept>
#include <string>
#include <system_error>

#include "py_ref.hpp"

namespace velmoran::python {

namespace {

PyRef decode_text(const std::string& text) noexcept {
  // The texts are ASCII apart from the system's error descriptions, which
  // a locale could render in another encoding: never fail on them.
  return PyRef::steal(
      PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
}

// The file a failure concerns, as Python shows file names: decoded with
// the file system encoding, undecodable bytes escaped.
PyRef filename_of(const std::filesystem::path& path) noexcept {
  const std::string& native = path.native();
  return PyRef::steal(
      PyUnicode_DecodeFSDefaultAndSize(native.data(), static_cast<Py_ssize_t>(native.size())));
}

}  // namespace

PyObject* raise_error(const velmoran::Error& error) noexcept {
  return guarded([&]() -> PyObject* {
    const PyRef message = decode_text(error.text());
    if (message) PyErr_SetObject(PyExc_RuntimeError, message.get());
    return nullptr;
  });
}

void raise_exception(const std::exception& failure) noexcept {
  if (dynamic_cast<const std::bad_alloc*>(&failure) ||
      dynamic_cast<const std::length_error*>(&failure)) {
    PyErr_NoMemory();
    return;
  }
  // On POSIX both the generic and the system category hold errno values.
  if (const auto* system = dynamic_cast<const std::system_error*>(&failure)) {
    errno = system->code().value();
    PyErr_SetFromErrno(PyExc_OSError);
    return;
  }
  PyErr_SetString(PyExc_RuntimeError, failure.what());
}

PyObject* raise_from(PyObject* type, const char* format, ...) noexcept {
  PyObject* cause_type = nullptr;
  PyObject* cause = nullptr;
  PyObject* cause_traceback = nullptr;
  PyErr_Fetch(&cause_type, &cause, &cause_traceback);
  PyErr_NormalizeException(&cause_type, &cause, &cause_traceback);
  if (cause && cause_traceback) PyException_SetTraceback(cause, cause_traceback);
  Py_XDECREF(cause_type);
  Py_XDECREF(cause_traceback);
  va_list arguments;
  va_start(arguments, format);
  PyObject* message = PyUnicode_FromFormatV(format, arguments);
  va_end(arguments);
  if (message) {
    PyErr_SetObject(type, message);
    Py_DECREF(message);
  }
  PyObject* raised_type = nullptr;
  PyObject* raised = nullptr;
  PyObject* raised_traceback = nullptr;
  PyErr_Fetch(&raised_type, &raised, &raised_traceback);
  PyErr_NormalizeException(&raised_type, &raised, &raised_traceback);
  if (raised && cause) {
    Py_INCREF(cause);
    PyException_SetContext(raised, cause);  // steals a reference
    PyException_SetCause(raised, cause);    // steals the other
  } else {
    Py_XDECREF(cause);
  }
  PyErr_Restore(raised_type, raised, raised_traceback);
  return nullptr;
}

PyObject* format_error_type() noexcept {
  // Made once; a module executed again gets the same class.
  static PyObject* type = nullptr;
  if (!type) {
    type = PyErr_NewExceptionWithDoc(
        "velmoran_arrays.FormatError",
        "A dataset's scan table is not one: the text is the library's message.", PyExc_ValueError,
        nullptr);
  }
  return type;
}

PyObject* raise_open_error(const velmoran::Error& error,
                           const std::filesystem::path& path) noexcept {
  return guarded([&]() -> PyObject* {
    const int errnum = error.os_error();
    if (errnum != 0) {
      // A parse error with a system reason is the check for the AcqData
      // directory; a system error of open is the scan table's.
      const std::filesystem::path failed =
          error.is_parse() ? path / "AcqData" : path / "AcqData" / "MSScan.bin";
      const PyRef filename = filename_of(failed);
      if (!filename) return nullptr;
      errno = errnum;
      return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename.get());
    }
    const PyRef message = decode_text(error.text());
    if (!message) return nullptr;
    if (error.is_io()) {
      // An I/O failure without a number: the file ended early.
      PyErr_SetObject(PyExc_OSError, message.get());
      return nullptr;
    }
    PyObject* type = format_error_type();
    if (type) PyErr_SetObject(type, message.get());
    return nullptr;
  });
}

PyObject* raise_list_error(const velmoran::Error& error,
                           const std::filesystem::path& path) noexcept {
  return guarded([&]() -> PyObject* {
    if (const int errnum = error.os_error(); errnum != 0) {
      const PyRef filename = filename_of(path);
      if (!filename) return nullptr;
      errno = errnum;
      return PyErr_SetFromErrnoWithFilenameObject(PyExc_OSError, filename.get());
    }
    const PyRef message = decode_text(error.text());
    if (!message) return nullptr;
    PyObject* type = format_error_type();
    if (type) PyErr_SetObject(type, message.get());
    return nullptr;
  });
}

}  // namespace velmoran::python
