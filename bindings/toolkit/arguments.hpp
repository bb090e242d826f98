// The argument binder both modules share, and the conversions more than one
// member uses, in Python terms:
//
//   def bind(member, names, required, *args, **kwargs):
//       if len(args) > len(names):
//           raise TypeError(TOO_MANY)
//       bound = dict(zip(names, args))
//       for key in kwargs:                       # in the order given
//           if key not in names:
//               raise TypeError(f"{member} got an unexpected keyword argument '{key}'")
//           if key in bound:
//               raise TypeError(f"{member} got multiple values for argument '{key}'")
//           bound[key] = kwargs[key]
//       for name in names[:required]:
//           if name not in bound:
//               raise TypeError(MISSING)
//       return [bound.get(name) for name in names]
//
// velmoran_arrays words TOO_MANY and MISSING as
//   f"{member} takes at most {len(names)} positional arguments ({len(args)} given)"
//   f"{member} missing required argument '{name}'"
// and velmoran, whose members take one argument each, as a function
// written in Python does:
//   f"{member} takes 1 positional arguments but {len(args)} were given"
//   f"{member} missing 1 required positional argument: '{name}'"
//
// A conversion of velmoran's that fails keeps its exception and, where
// exceptions have add_note (3.11+), gets the note f"while processing '{name}'".
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

namespace velmoran::python {

struct Signature {
  const char* member;  // as messages show it: "Run.spectra()"
  std::span<const char* const> names;
  std::size_t required;
  // The messages of a function written in Python (velmoran's members).
  bool python_wording = false;
};

// Vectorcall form (METH_FASTCALL | METH_KEYWORDS): fills `out` (one entry
// per name) with borrowed arguments, null where none was given. False with
// TypeError set.
[[nodiscard]] bool bind_arguments(const Signature& signature, PyObject* const* args,
                                  Py_ssize_t nargs, PyObject* kwnames,
                                  std::span<PyObject*> out) noexcept;
// Tuple and dictionary form (tp_new).
[[nodiscard]] bool bind_arguments(const Signature& signature, PyObject* args, PyObject* kwargs,
                                  std::span<PyObject*> out) noexcept;

// The one parameter of a velmoran member: the member's full name as
// messages show it ("RawReader.__new__()") and the parameter's name.
struct Parameter {
  const char* member;
  const char* name;
};

// The one argument of a velmoran member (borrowed), or null with TypeError
// set; both forms.
[[nodiscard]] PyObject* bind_argument(const Parameter& parameter, PyObject* const* args,
                                      Py_ssize_t nargs, PyObject* kwnames) noexcept;
[[nodiscard]] PyObject* bind_argument(const Parameter& parameter, PyObject* args,
                                      PyObject* kwargs) noexcept;

// A str as its UTF-8 text, viewing the string's own cached encoding (valid
// while `value` lives), an embedded NUL included. TypeError for anything
// but a str, UnicodeEncodeError for a lone surrogate.
[[nodiscard]] std::optional<std::string_view> path_text(PyObject* value,
                                                        const Parameter& parameter) noexcept;

// An int, or an object with __index__, as an unsigned 64-bit value:
// TypeError for non-integers, OverflowError below 0 or from 2**64 on.
[[nodiscard]] std::optional<std::uint64_t> index_value(PyObject* value,
                                                       const Parameter& parameter) noexcept;

// A path as the bytes the system takes (os.fsencode), or nullopt with
// TypeError (not a path) or ValueError (an embedded NUL) set. May run
// Python code (__fspath__), which may release the interpreter lock: not
// noexcept (guarded.hpp).
[[nodiscard]] std::optional<std::string> fs_path(PyObject* value);

// Numbers and collections as every velmoran_arrays member takes them, so
// that the module's own values and numpy's pass:
//   integer:    an int or any object with __index__ (numpy integers), never
//               bool: TypeError naming the argument, OverflowError past 64 bits
//   real:       a float, an int or any object with __float__ or __index__
//               (numpy floats), never bool or str: TypeError naming it
//   collection: any iterable (list, tuple, 1-D array, generator), not str
//               or bytes: its items as a new list
//   scalar:     what is not a collection, and a 0-d numpy array
//               (numpy.array(3)), which iterates not but converts as its item
// `member` and `name` are as messages show them ("Run.peaks()", "ms_level").
// Whether `value` is a bool: Python's, or one of numpy's bool scalars.
[[nodiscard]] bool is_bool(PyObject* value) noexcept;
[[nodiscard]] std::optional<std::int64_t> integer_argument(PyObject* value, const char* member,
                                                           const char* name);
[[nodiscard]] std::optional<double> real_argument(PyObject* value, const char* member,
                                                  const char* name);
[[nodiscard]] PyObject* collection_argument(PyObject* value, const char* member, const char* name);
[[nodiscard]] bool is_scalar(PyObject* value);

// A fast-call function (METH_FASTCALL) for the PyCFunction field of a
// PyMethodDef; the cast through void(*)() says so to the compiler.
template <class Function>
[[nodiscard]] PyCFunction as_method(Function function) noexcept {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(function));
}

}  // namespace velmoran::python
