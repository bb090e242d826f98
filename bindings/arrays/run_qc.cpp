// Run.qc() (run_qc.hpp shows it in Python terms): the metrics of the qc
// library, read on every core the process may use while the calling thread
// waits for Ctrl-C (in_background).
#include "run_qc.hpp"

#include <cmath>
#include <string>
#include <type_traits>
#include <variant>
#include <vector>

#include <velmoran/analysis/thread_count.hpp>
#include <velmoran/qc/metrics.hpp>
#include <velmoran/qc/run_pass.hpp>

#include "../toolkit/background_work.hpp"
#include "../toolkit/guarded.hpp"
#include "../toolkit/py_ref.hpp"
#include "../toolkit/errors.hpp"
#include "../toolkit/without_gil.hpp"

namespace velmoran::python::arrays {

using python::guarded;
using python::PyRef;

namespace {

// A number as mzQC's JSON holds it: None where it is not a number.
PyObject* number(double value) noexcept {
  if (!std::isfinite(value)) Py_RETURN_NONE;
  return PyFloat_FromDouble(value);
}
PyObject* number(std::int64_t value) noexcept { return PyLong_FromLongLong(value); }
PyObject* number(std::uint64_t value) noexcept { return PyLong_FromUnsignedLongLong(value); }
PyObject* number(const std::string& text) noexcept {
  return PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace");
}

template <class T>
PyObject* list_of(const std::vector<T>& values) noexcept {
  PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  if (!list) return nullptr;
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyObject* item = number(values[i]);
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), item);  // steals item
  }
  return list.release();
}

bool set_item(PyObject* dict, const char* key, PyObject* value) noexcept {
  const PyRef owned = PyRef::steal(value);
  return owned && PyDict_SetItemString(dict, key, owned.get()) == 0;
}

PyObject* table_of(const qc::TicTable& table) noexcept {
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return nullptr;
  if (!set_item(dict.get(), "MS:1000767", list_of(table.native_ids)) ||
      !set_item(dict.get(), "MS:1000894", list_of(table.retention_times_sec)) ||
      !set_item(dict.get(), "MS:1003059", list_of(table.points)) ||
      !set_item(dict.get(), "MS:1000285", list_of(table.total_ion_currents))) {
    return nullptr;
  }
  return dict.release();
}

PyObject* value_of(const qc::MetricValue& value) noexcept {
  return std::visit(
      [](const auto& v) -> PyObject* {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, qc::TicTable>) {
          return table_of(v);
        } else if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>) {
          return number(v);
        } else {
          return list_of(v);
        }
      },
      value);
}

}  // namespace

PyObject* run_quality_metrics(const Reader& reader) {
  return guarded([&]() -> PyObject* {
    const unsigned threads = analysis::default_threads();
    auto figures = in_background("Run.qc()", [&](const std::atomic<bool>& stop) {
      return qc::read_figures_parallel(reader, threads, stop);
    });
    if (!figures) return nullptr;  // KeyboardInterrupt
    if (!*figures) {
      PyErr_SetString(format_error_type(), figures->error().text().c_str());
      return nullptr;
    }
    const std::vector<qc::Metric> metrics =
        without_gil("Run.qc()", [&] { return qc::run_metrics(**figures); });
    PyRef dict = PyRef::steal(PyDict_New());
    if (!dict) return nullptr;
    for (const qc::Metric& metric : metrics) {
      const std::string key(metric.term.accession);
      if (!set_item(dict.get(), key.c_str(), value_of(metric.value))) return nullptr;
    }
    return dict.release();
  });
}

}  // namespace velmoran::python::arrays
