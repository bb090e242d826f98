// An MRM run's channels from Python:
//
//   Run.channels(threads=None) -> dict[int, Chromatogram]
//       # one per channel with scans of MS level 2 and up, channels in
//       # increasing order; q1, q3, name from the run's transition list
//   Run.transitions(path) -> int
//       # reads a transition list (CSV or TSV, docs/convert.md) and keeps
//       # it for channels(); returns its rows. FormatError (file:line:
//       # column in the text) for a bad list, OSError for an unreadable one
//   open(path, transitions=None)      # the same list given at open
#pragma once

#include <Python.h>

#include <memory>
#include <optional>

#include <velmoran/mrm/transitions.hpp>

#include "../toolkit/lock_release.hpp"

namespace velmoran::python::arrays {

// The list at `path` (str, bytes or os.PathLike), or nullopt with the
// exception set. Reads without the interpreter lock; like every call that
// releases it, these are not noexcept: taking the lock back while the
// interpreter shuts down ends the thread with an unwind.
[[nodiscard]] std::optional<std::shared_ptr<const mrm::TransitionList>> load_transition_list(
    LockRelease member, PyObject* path);

PyObject* run_channels(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* run_transitions(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames);

}  // namespace velmoran::python::arrays
