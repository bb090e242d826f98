// The conversions of velmoran_arrays' shared arguments (arguments.hpp).
#include "arguments.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include <velmoran/analysis/thread_count.hpp>
#include "../toolkit/py_ref.hpp"

namespace velmoran::python::arrays {

namespace {

// Adds the MS level `value` to `levels`; levels beyond 32 bits, which no
// scan can have, select nothing and are left out.
bool add_level(PyObject* value, std::vector<analysis::LevelRange>& levels, const char* member) {
  const auto level = integer_argument(value, member, "ms_level");
  if (!level) return false;
  if (*level < 1) {
    PyErr_Format(PyExc_ValueError, "%s: ms_level must be at least 1, not %lld", member,
                 static_cast<long long>(*level));
    return false;
  }
  if (*level <= std::numeric_limits<std::uint32_t>::max()) {
    const auto exact = static_cast<std::uint32_t>(*level);
    levels.emplace_back(exact, exact);
  }
  return true;
}

// A bound of rt: None for open (nullopt), else a number that is not NaN.
bool rt_bound(PyObject* value, std::optional<double>& out, const char* member) {
  if (value == Py_None) return true;
  const auto bound = real_argument(value, member, "rt bound");
  if (!bound) return false;
  if (std::isnan(*bound)) {
    PyErr_Format(PyExc_ValueError, "%s: rt bounds must not be NaN", member);
    return false;
  }
  out = *bound;
  return true;
}

// Whether `index` is a mask: a numpy array of dtype bool, or a collection
// whose items are all bools.
bool is_mask(PyObject* index, PyObject* items) {
  const PyRef dtype = PyRef::steal(PyObject_GetAttrString(index, "dtype"));
  if (!dtype) {
    PyErr_Clear();
  } else {
    const PyRef kind = PyRef::steal(PyObject_GetAttrString(dtype.get(), "kind"));
    if (!kind) {
      PyErr_Clear();
    } else if (PyUnicode_Check(kind.get()) &&
               PyUnicode_CompareWithASCIIString(kind.get(), "b") == 0) {
      return true;
    }
  }
  const Py_ssize_t count = PyList_GET_SIZE(items);
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (!is_bool(PyList_GET_ITEM(items, i))) return false;
  }
  return count > 0;
}

}  // namespace

std::optional<analysis::ScanSelection> selection_of(PyObject* ms_level, PyObject* rt,
                                                    const char* member) {
  analysis::ScanSelection selection;
  if (ms_level && ms_level != Py_None) {
    std::vector<analysis::LevelRange> levels;
    // One level, or a collection of them (a numpy array has __index__
    // too, so whether it iterates decides).
    if (is_scalar(ms_level)) {
      if (!add_level(ms_level, levels, member)) return std::nullopt;
    } else {
      const PyRef items = PyRef::steal(collection_argument(ms_level, member, "ms_level"));
      if (!items) return std::nullopt;
      for (Py_ssize_t i = 0; i < PyList_GET_SIZE(items.get()); ++i) {
        if (!add_level(PyList_GET_ITEM(items.get(), i), levels, member)) return std::nullopt;
      }
    }
    selection.levels = std::move(levels);
  }
  if (rt && rt != Py_None) {
    const PyRef items = PyRef::steal(collection_argument(rt, member, "rt"));
    if (!items) return std::nullopt;
    if (PyList_GET_SIZE(items.get()) != 2) {
      PyErr_Format(PyExc_TypeError, "%s: rt must be a (low, high) pair of seconds, not %zd items",
                   member, PyList_GET_SIZE(items.get()));
      return std::nullopt;
    }
    std::optional<double> low;
    std::optional<double> high;
    if (!rt_bound(PyList_GET_ITEM(items.get(), 0), low, member) ||
        !rt_bound(PyList_GET_ITEM(items.get(), 1), high, member)) {
      return std::nullopt;
    }
    if (low && high && *low > *high) {
      PyErr_Format(PyExc_ValueError, "%s: rt low bound %R is above the high bound %R", member,
                   PyList_GET_ITEM(items.get(), 0), PyList_GET_ITEM(items.get(), 1));
      return std::nullopt;
    }
    // (None, None) bounds nothing: it selects what no rt selects, scans
    // without a time (NaN) included.
    if (low || high) {
      constexpr double kInfinity = std::numeric_limits<double>::infinity();
      selection.retention_time_sec = std::pair{low.value_or(-kInfinity), high.value_or(kInfinity)};
    }
  }
  return selection;
}

std::optional<std::vector<std::size_t>> positions_of(PyObject* index, std::size_t count,
                                                     const char* member) {
  const PyRef items = PyRef::steal(collection_argument(index, member, "index"));
  if (!items) return std::nullopt;
  const auto size = static_cast<std::size_t>(PyList_GET_SIZE(items.get()));
  std::vector<std::size_t> positions;
  if (is_mask(index, items.get())) {
    if (size != count) {
      PyErr_Format(PyExc_ValueError, "%s: a mask must be as long as the run (%zu), not %zu", member,
                   count, size);
      return std::nullopt;
    }
    for (std::size_t i = 0; i < size; ++i) {
      const int keep = PyObject_IsTrue(PyList_GET_ITEM(items.get(), static_cast<Py_ssize_t>(i)));
      if (keep < 0) return std::nullopt;
      if (keep == 1) positions.push_back(i);
    }
    return positions;
  }
  positions.reserve(size);
  for (std::size_t i = 0; i < size; ++i) {
    const auto position =
        position_of(PyList_GET_ITEM(items.get(), static_cast<Py_ssize_t>(i)), count, member);
    if (!position) return std::nullopt;
    positions.push_back(*position);
  }
  return positions;
}

std::optional<std::size_t> position_of(PyObject* value, std::size_t count, const char* member,
                                       const char* name) {
  const auto position = integer_argument(value, member, name);
  if (!position) {
    // Past 64 bits is outside the run too.
    if (PyErr_ExceptionMatches(PyExc_OverflowError)) {
      PyErr_Clear();
      PyErr_Format(PyExc_IndexError, "%s: %s %R is out of range for %zu scans", member, name,
                   value);
    }
    return std::nullopt;
  }
  const auto scans = static_cast<std::int64_t>(count);
  const std::int64_t at = *position < 0 ? *position + scans : *position;
  if (at < 0 || at >= scans) {
    PyErr_Format(PyExc_IndexError, "%s: %s %lld is out of range for %zu scans", member, name,
                 static_cast<long long>(*position), count);
    return std::nullopt;
  }
  return static_cast<std::size_t>(at);
}

std::optional<unsigned> threads_of(PyObject* threads, const char* member) {
  if (!threads || threads == Py_None) return analysis::default_threads();
  const auto count = integer_argument(threads, member, "threads");
  if (!count) return std::nullopt;
  // More threads than this would only queue for the same cores.
  constexpr std::int64_t kMostThreads = 1024;
  if (*count < 1) {
    PyErr_Format(PyExc_ValueError, "%s: threads must be at least 1, not %lld", member,
                 static_cast<long long>(*count));
    return std::nullopt;
  }
  return static_cast<unsigned>(std::min(*count, kMostThreads));
}

}  // namespace velmoran::python::arrays
