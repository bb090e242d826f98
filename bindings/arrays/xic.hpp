// class Xic:                           # made by Run.xic()
//     mz: Array                         # 'd', the targets, in the order given
//     index: Array                      # 'q', the n scans' positions in the table
//     rt_sec: Array                     # 'd', their retention times in seconds
//     intensity: Array                  # 'd', shape (targets, n): row t is target t's trace
//     def __len__(self) -> int          # the number of targets
//     def __repr__(self) -> str         # "Xic(20 targets, 1200 scans)"
//     def __reduce__(self)              # by value (../toolkit/pickle.hpp)
//     @classmethod
//     def _from_state(cls, state)       # ValueError unless intensity's shape
//                                       # is (len(mz), len(index))
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

}  // namespace velmoran::python::arrays
