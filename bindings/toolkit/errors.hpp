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
// Every slot and method body runs inside guarded() (guarded.hpp): a C++
// exception becomes MemoryError.
#pragma once

#include <Python.h>

#include <filesystem>

#include <velmoran/error.hpp>

#include "guarded.hpp"

namespace velmoran::python {

// Raises RuntimeError with the error's text. Always returns null, so a call
// site reads `if (!r) return raise_error(r.error());`.
PyObject* raise_error(const velmoran::Error& error) noexcept;

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
