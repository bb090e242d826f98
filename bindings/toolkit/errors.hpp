// How failures cross into Python: the one place where library errors
// become exceptions, for both modules.
//
// velmoran:
//   except velmoran.Error as e:  raise RuntimeError(str(e))   # raise_error
//
// velmoran_arrays:
//   class FormatError(ValueError): ...          # a scan table that is not one
//   # an Error of Reader.open(path):
//   #   a system error  -> the OSError subclass of its errno (FileNotFoundError,
//   #                      NotADirectoryError, PermissionError, ...), with
//   #                      errno and filename set
//   #   a parse error   -> FormatError(error text)
//
// C++ exceptions (guarded.hpp):
//   std::bad_alloc, std::length_error -> MemoryError
//   std::system_error                 -> the OSError subclass of its errno
//   any other std::exception          -> RuntimeError(what())
//
// raise_from(type, format, ...): `raise type(text) from <the exception set>`.
#pragma once

#include <Python.h>

#include <filesystem>

#include <velmoran/error.hpp>

#include "guarded.hpp"

namespace velmoran::python {

// Raises RuntimeError with the error's text. Always returns null, so a call
// site reads `if (!r) return raise_error(r.error());`.
PyObject* raise_error(const velmoran::Error& error) noexcept;

// Raises `type` with the text of `format` (PyUnicode_FromFormat) whose
// __cause__ is the exception set now, as `raise ... from` does. Always
// returns null.
PyObject* raise_from(PyObject* type, const char* format, ...) noexcept;

// The FormatError class, made on first use and kept for the life of the
// process (borrowed), or null with the exception set.
[[nodiscard]] PyObject* format_error_type() noexcept;

// Raises the exception of an error of opening the run at `path`. Always
// returns null, so a call site reads
// `if (!r) return raise_open_error(r.error(), path);`.
PyObject* raise_open_error(const velmoran::Error& error,
                           const std::filesystem::path& path) noexcept;

// Raises the exception of an error of reading the transition list at
// `path`: the OSError subclass of a system error (filename set), else
// FormatError with the text (file, line and column). Always returns null.
PyObject* raise_list_error(const velmoran::Error& error,
                           const std::filesystem::path& path) noexcept;

}  // namespace velmoran::python
