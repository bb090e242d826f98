// The arguments velmoran_arrays' members share, bound by the toolkit's
// binder and converted by its number and collection rules
// (../toolkit/arguments.hpp), in Python terms:
//
//   path:     str, bytes or os.PathLike (os.fsencode); TypeError otherwise
//   ms_level: None, an integer or a collection of integers, each >= 1
//             (ValueError otherwise)
//   rt:       None or a (low, high) pair of seconds, either bound None for
//             open; ValueError for a NaN bound or low > high. (None, None)
//             selects what None does, scans with a NaN time included
//   position: an integer (never bool), negative from the end; IndexError
//             out of range: run[i], Run.spectrum(i) and each of index's
//   index:    None or scan positions, a collection of positions in the
//             order given, or
//             a mask: a collection of bools (a list, a numpy bool array)
//             exactly as long as the run (ValueError otherwise)
//   threads:  None (default_threads(): the CPUs this process may use) or an
//             integer of at least 1
#pragma once

#include <Python.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "../toolkit/arguments.hpp"
#include <velmoran/analysis/scan_selection.hpp>

namespace velmoran::python::arrays {

// The selection of ms_level and rt (either may be null or None), or
// nullopt with the exception set. May run Python code (__iter__): not
// noexcept.
[[nodiscard]] std::optional<analysis::ScanSelection> selection_of(PyObject* ms_level, PyObject* rt,
                                                                  const char* member);

// The position `value` names in a run of `count` scans (above), or nullopt
// with the exception set.
[[nodiscard]] std::optional<std::size_t> position_of(PyObject* value, std::size_t count,
                                                     const char* member,
                                                     const char* name = "index");

// The positions `index` names in a run of `count` scans (see above), or
// nullopt with the exception set.
[[nodiscard]] std::optional<std::vector<std::size_t>> positions_of(PyObject* index,
                                                                   std::size_t count,
                                                                   const char* member);

// The number of threads: default_threads() for null or None, else an
// integer of at least 1; nullopt with TypeError or ValueError set.
[[nodiscard]] std::optional<unsigned> threads_of(PyObject* threads, const char* member);

}  // namespace velmoran::python::arrays
