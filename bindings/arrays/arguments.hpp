// The arguments velmoran_arrays' members share, bound by the toolkit's
// binder (../toolkit/arguments.hpp), in Python terms:
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

#include "../toolkit/arguments.hpp"
#include "../toolkit/selection.hpp"

namespace velmoran::python::arrays {

// The selection of ms_level and rt (either may be null or None), or
// nullopt with TypeError set. May run Python code (__iter__): not noexcept.
[[nodiscard]] std::optional<Selection> selection_of(PyObject* ms_level, PyObject* rt,
                                                    const char* member);

// The number of threads: default_threads() for null or None, else an int of at
// least 1; nullopt with TypeError or ValueError set.
[[nodiscard]] std::optional<unsigned> threads_of(PyObject* threads, const char* member) noexcept;

}  // namespace velmoran::python::arrays
