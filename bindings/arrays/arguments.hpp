// Binding the arguments of velmoran_arrays' functions and methods, and the
// conversions every member shares, in Python terms:
//
//   def bind(member, names, required, *args, **kwargs):
//       if len(args) > len(names):
//           raise TypeError(f"{member} takes at most {len(names)} positional arguments ({len(args)} given)")
//       bound = dict(zip(names, args))
//       for key in kwargs:                       # in the order given
//           if key not in names:
//               raise TypeError(f"{member} got an unexpected keyword argument '{key}'")
//           if key in bound:
//               raise TypeError(f"{member} got multiple values for argument '{key}'")
//           bound[key] = kwargs[key]
//       for name in names[:required]:
//           if name not in bound:
//               raise TypeError(f"{member} missing required argument '{name}'")
//       return [bound.get(name) for name in names]
//
//   path:     str, bytes or os.PathLike (os.fsencode); TypeError otherwise
//   ms_level: None, an int, or a collection of ints; TypeError otherwise
//   rt:       None or (low, high) in seconds, either bound None for open
//   threads:  None (default_threads(): the CPUs this process may use) or an
//             int of at least 1
#pragma once

#include <Python.h>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "selection.hpp"

namespace velmoran::arrays {

struct Signature {
  const char* member;  // as messages show it: "Run.spectra()"
  std::span<const char* const> names;
  std::size_t required;
};

// Vectorcall form (METH_FASTCALL | METH_KEYWORDS): fills `out` (one entry
// per name) with borrowed arguments, null where none was given. False with
// TypeError set.
[[nodiscard]] bool bind_arguments(const Signature& signature, PyObject* const* args,
                                  Py_ssize_t nargs, PyObject* kwnames,
                                  std::span<PyObject*> out) noexcept;

// A path as the bytes the system takes (os.fsencode), or nullopt with
// TypeError (not a path) or ValueError (an embedded NUL) set. This and
// selection_of may run Python code (__fspath__, __iter__), which may
// release the interpreter lock: not noexcept (../guarded.hpp).
[[nodiscard]] std::optional<std::string> fs_path(PyObject* value);

// The selection of ms_level and rt (either may be null or None), or
// nullopt with TypeError set.
[[nodiscard]] std::optional<Selection> selection_of(PyObject* ms_level, PyObject* rt,
                                                    const char* member);

// The number of threads: default_threads() for null or None, else an int of at
// least 1; nullopt with TypeError or ValueError set.
[[nodiscard]] std::optional<unsigned> threads_of(PyObject* threads, const char* member) noexcept;

}  // namespace velmoran::arrays
