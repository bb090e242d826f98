// class Xic:                           # made by Run.xic()
//     mz: Array                         # 'd', the targets, in the order given
//     index: Array                      # 'q', the n scans' positions in the table
//     rt_sec: Array                     # 'd', their retention times in seconds
//     intensity: Array                  # 'd', shape (targets, n): row t is target t's trace
//     def __len__(self) -> int          # the number of targets
//     def __repr__(self) -> str         # "Xic(20 targets, 1200 scans)"
//     def __reduce__(self)              # by value: (_xic, (mz, index, rt_sec, intensity) as bytes)
//
// def _xic(mz: bytes, index: bytes, rt_sec: bytes, intensity: bytes) -> Xic   # what pickle calls
#pragma once

#include <Python.h>

#include <cstddef>
#include <vector>

namespace velmoran::python::arrays {

[[nodiscard]] PyTypeObject* xic_type() noexcept;

// A new Xic of `targets` over the scans at `positions`, with their times
// and the targets × scans sums (row by target); null with the exception
// set.
[[nodiscard]] PyObject* make_xic(std::vector<double>&& targets,
                                 std::vector<std::size_t>&& positions, std::vector<double>&& rt_sec,
                                 std::vector<double>&& intensity);

// velmoran_arrays._xic(mz, index, rt_sec, intensity): an Xic from the
// bytes of its arrays, as __reduce__ gives them; ValueError when their
// sizes do not fit together.
PyObject* xic_from_bytes(PyObject* module, PyObject* const* args, Py_ssize_t nargs);

}  // namespace velmoran::python::arrays
