// The Xic type (xic.hpp shows it in Python terms): the extracted ion
// chromatograms of Run.xic(), its arrays owned by the Array objects it
// holds.
#include "xic.hpp"

#include <cstdint>
#include <optional>
#include <utility>

#include "../toolkit/array.hpp"
#include "../toolkit/pickle.hpp"
#include "../toolkit/guarded.hpp"
#include "../toolkit/object.hpp"
#include "../toolkit/py_ref.hpp"

namespace velmoran::python::arrays {

namespace {

struct XicData {
  std::size_t targets = 0;
  std::size_t scans = 0;
  PyRef mz;
  PyRef index;
  PyRef rt_sec;
  PyRef intensity;
};

const XicData& data_of(PyObject* self) noexcept { return python::data_of<XicData>(self); }

Py_ssize_t xic_length(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(data_of(self).targets);
}

PyObject* xic_repr(PyObject* self) noexcept {
  const XicData& data = data_of(self);
  return PyUnicode_FromFormat("Xic(%zu targets, %zu scans)", data.targets, data.scans);
}

constexpr const char* kStateNames[] = {"mz", "index", "rt_sec", "intensity"};

// Pickled by value: its four arrays (../toolkit/pickle.hpp).
PyObject* xic_reduce(PyObject* self, PyObject* /*unused*/) noexcept {
  return reduce_by_value(self, attributes_state(self, kStateNames));
}

PyObject* xic_from_state(PyObject* /*type*/, PyObject* given) {
  return read_state(given, [&](PyObject* state) -> PyObject* {
    PyObject* mz = state_array(state, "mz", 'd');
    PyObject* index = mz ? state_array(state, "index", 'q') : nullptr;
    PyObject* rt_sec = index ? state_array(state, "rt_sec", 'd') : nullptr;
    PyObject* intensity = rt_sec ? state_array(state, "intensity", 'd', 2) : nullptr;
    if (!intensity) return nullptr;
    const std::size_t targets = array_memory(mz).count;
    const std::size_t scans = array_memory(index).count;
    const std::array<std::size_t, 2> shape = array_shape(intensity);
    if (array_memory(rt_sec).count != scans || shape[0] != targets || shape[1] != scans) {
      PyErr_SetString(PyExc_ValueError, "not a pickled Xic");
      return nullptr;
    }
    return make_object(xic_type(), XicData{targets, scans, PyRef::incref(mz), PyRef::incref(index),
                                           PyRef::incref(rt_sec), PyRef::incref(intensity)});
  });
}

PyGetSetDef xic_getset[] = {
    {"mz", field_getter<&XicData::mz>, nullptr,
     "The target m/z values, in the order given (Array 'd').", nullptr},
    {"index", field_getter<&XicData::index>, nullptr,
     "The scans' positions in the table (Array 'q').", nullptr},
    {"rt_sec", field_getter<&XicData::rt_sec>, nullptr,
     "The scans' retention times in seconds (Array 'd').", nullptr},
    {"intensity", field_getter<&XicData::intensity>, nullptr,
     "Shape (targets, scans): the sums of the intensities in each target's window (Array 'd').",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

PyMethodDef xic_methods[] = {
    {"__reduce__", xic_reduce, METH_NOARGS, nullptr},
    {"_from_state", xic_from_state, METH_O | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},  // sentinel
};

}  // namespace

PyTypeObject* xic_type() noexcept {
  static PyTypeObject* type = nullptr;
  return object_type<XicData>(
      type, "velmoran_arrays.Xic",
      {{Py_tp_doc, const_cast<char*>("Extracted ion chromatograms; made by Run.xic().")},
       {Py_tp_repr, reinterpret_cast<void*>(xic_repr)},
       {Py_tp_getset, xic_getset},
       {Py_tp_methods, xic_methods},
       {Py_mp_length, reinterpret_cast<void*>(xic_length)}});
}

PyObject* make_xic(std::vector<double>&& targets, std::vector<std::size_t>&& positions,
                   std::vector<double>&& rt_sec, std::vector<double>&& intensity) {
  XicData data;
  data.targets = targets.size();
  data.scans = positions.size();
  data.mz = PyRef::steal(make_array<double>(adopt(std::move(targets))));
  if (!data.mz) return nullptr;
  std::vector<std::int64_t> index(positions.begin(), positions.end());
  data.index = PyRef::steal(make_array<std::int64_t>(adopt(std::move(index))));
  if (!data.index) return nullptr;
  data.rt_sec = PyRef::steal(make_array<double>(adopt(std::move(rt_sec))));
  if (!data.rt_sec) return nullptr;
  data.intensity =
      PyRef::steal(make_array<double>(adopt(std::move(intensity)), data.targets, data.scans));
  if (!data.intensity) return nullptr;
  return make_object(xic_type(), std::move(data));
}

}  // namespace velmoran::python::arrays
