// The conversions of velmoran_arrays' shared arguments (arguments.hpp).
#include "arguments.hpp"

#include <cmath>
#include <limits>

#include "../toolkit/py_ref.hpp"
#include "../toolkit/default_threads.hpp"

namespace velmoran::python::arrays {

using python::PyRef;

namespace {

// Adds the MS level `value` (an int) to `levels`; levels no scan can have
// (negative, or beyond 32 bits) select nothing and are left out.
bool add_level(PyObject* value, std::vector<std::uint32_t>& levels, const char* member) {
  if (!PyLong_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s: ms_level must be an int or a collection of ints, not %.200s",
                 member, Py_TYPE(value)->tp_name);
    return false;
  }
  int overflow = 0;
  const long long level = PyLong_AsLongLongAndOverflow(value, &overflow);
  if (level == -1 && PyErr_Occurred()) return false;
  if (overflow == 0 && level >= 0 && level <= std::numeric_limits<std::uint32_t>::max()) {
    levels.push_back(static_cast<std::uint32_t>(level));
  }
  return true;
}

// A bound of rt: None for open, else a number.
bool rt_bound(PyObject* value, double open, double& out, const char* member) {
  if (value == Py_None) {
    out = open;
    return true;
  }
  if (!PyFloat_Check(value) && !PyLong_Check(value)) {
    PyErr_Format(PyExc_TypeError, "%s: rt bounds must be numbers or None, not %.200s", member,
                 Py_TYPE(value)->tp_name);
    return false;
  }
  out = PyFloat_AsDouble(value);
  return !(out == -1.0 && PyErr_Occurred());
}

}  // namespace

std::optional<Selection> selection_of(PyObject* ms_level, PyObject* rt, const char* member) {
  try {
    Selection selection;
    if (ms_level && ms_level != Py_None) {
      std::vector<std::uint32_t> levels;
      if (PyLong_Check(ms_level)) {
        if (!add_level(ms_level, levels, member)) return std::nullopt;
      } else {
        const PyRef iterator = PyRef::steal(PyObject_GetIter(ms_level));
        if (!iterator) {
          PyErr_Format(PyExc_TypeError,
                       "%s: ms_level must be an int or a collection of ints, not %.200s", member,
                       Py_TYPE(ms_level)->tp_name);
          return std::nullopt;
        }
        while (const PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
          if (!add_level(item.get(), levels, member)) return std::nullopt;
        }
        if (PyErr_Occurred()) return std::nullopt;
      }
      selection.levels = std::move(levels);
    }
    if (rt && rt != Py_None) {
      if (!PyTuple_Check(rt) && !PyList_Check(rt)) {
        PyErr_Format(PyExc_TypeError, "%s: rt must be a (low, high) pair of seconds, not %.200s",
                     member, Py_TYPE(rt)->tp_name);
        return std::nullopt;
      }
      const PyRef items = PyRef::steal(PySequence_Fast(rt, "rt must be a pair"));
      if (!items) return std::nullopt;
      if (PySequence_Fast_GET_SIZE(items.get()) != 2) {
        PyErr_Format(PyExc_TypeError, "%s: rt must be a (low, high) pair of seconds", member);
        return std::nullopt;
      }
      PyObject** pair = PySequence_Fast_ITEMS(items.get());
      constexpr double kInfinity = std::numeric_limits<double>::infinity();
      if (!rt_bound(pair[0], -kInfinity, selection.rt_low, member) ||
          !rt_bound(pair[1], kInfinity, selection.rt_high, member)) {
        return std::nullopt;
      }
      selection.has_rt = true;
    }
    return selection;
  } catch (const std::exception&) {
    PyErr_NoMemory();
    return std::nullopt;
  }
}

std::optional<unsigned> threads_of(PyObject* threads, const char* member) noexcept {
  if (!threads || threads == Py_None) return default_threads();
  if (!PyLong_Check(threads)) {
    PyErr_Format(PyExc_TypeError, "%s: threads must be an int or None, not %.200s", member,
                 Py_TYPE(threads)->tp_name);
    return std::nullopt;
  }
  // More threads than this would only queue for the same cores.
  constexpr long kMostThreads = 1024;
  const long count = PyLong_AsLong(threads);
  if (count == -1 && PyErr_Occurred()) return std::nullopt;
  if (count < 1) {
    PyErr_Format(PyExc_ValueError, "%s: threads must be at least 1, not %ld", member, count);
    return std::nullopt;
  }
  return static_cast<unsigned>(std::min(count, kMostThreads));
}

}  // namespace velmoran::python::arrays
