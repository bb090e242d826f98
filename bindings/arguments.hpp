// Binding and converting the single argument of RawReader.__new__ and
// RawReader.read_spectrum, in Python terms:
//
//   def bind(member, name, *args, **kwargs):
//       if len(args) > 1:
//           raise TypeError(f"{member} takes 1 positional arguments but {len(args)} were given")
//       value = args[0] if args else MISSING
//       for key in kwargs:                       # in the order given
//           if key != name:
//               raise TypeError(f"{member} got an unexpected keyword argument '{key}'")
//           if args:
//               raise TypeError(f"{member} got multiple values for argument '{name}'")
//           value = kwargs[key]
//       if value is MISSING:
//           raise TypeError(f"{member} missing 1 required positional argument: '{name}'")
//       return value
//
// A conversion that fails keeps its exception and, where exceptions have
// add_note (3.11+), gets the note f"while processing '{name}'".
#pragma once

#include <Python.h>

#include <cstdint>
#include <optional>
#include <string_view>

namespace velmoran::python {

// The one parameter of a member: the member's full name as messages show
// it ("RawReader.__new__()") and the parameter's name.
struct Parameter {
  const char* member;
  const char* name;
};

// Vectorcall form (METH_FASTCALL | METH_KEYWORDS). Returns the bound
// argument (borrowed), or null with TypeError set.
[[nodiscard]] PyObject* bind_argument(const Parameter& parameter, PyObject* const* args,
                                      Py_ssize_t nargs, PyObject* kwnames) noexcept;
// Tuple and dictionary form (tp_new).
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

}  // namespace velmoran::python
