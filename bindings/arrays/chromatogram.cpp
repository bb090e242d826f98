// The Chromatogram type (chromatogram.hpp shows it in Python terms): one
// MRM channel's trace, or a run's TIC or BPC, its arrays owned by the Array
// objects it holds.
#include "chromatogram.hpp"

#include <cstdint>
#include <memory>
#include <optional>
#include <utility>
#include <vector>

#include "../toolkit/guarded.hpp"
#include "../toolkit/object.hpp"
#include "../toolkit/py_ref.hpp"
#include "../toolkit/array.hpp"
#include "../toolkit/pickle.hpp"

namespace velmoran::python::arrays {

using python::guarded;
using python::PyRef;

namespace {

struct ChromatogramData {
  // An MRM channel's trace, or else a TIC or BPC (`kind`).
  std::optional<std::uint32_t> channel;
  TraceKind kind = TraceKind::kChannel;
  std::size_t points = 0;
  // Arrays and numbers or None; never null once made.
  PyRef mz;
  PyRef index;
  PyRef rt_sec;
  PyRef intensity;
  PyRef q1;
  PyRef q3;
  PyRef collision_energy;
  PyRef name;
};

const ChromatogramData& data_of(PyObject* self) noexcept {
  return python::data_of<ChromatogramData>(self);
}

Py_ssize_t chromatogram_length(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(data_of(self).points);
}

PyObject* chromatogram_repr(PyObject* self) noexcept {
  return guarded([&]() -> PyObject* {
    const ChromatogramData& data = data_of(self);
    if (!data.channel) {
      return PyUnicode_FromFormat("Chromatogram(%s, %zu points)",
                                  data.kind == TraceKind::kBasePeak ? "BPC" : "TIC", data.points);
    }
    if (data.q1.get() == Py_None) {
      return PyUnicode_FromFormat("Chromatogram(channel=%lu, %zu points)",
                                  static_cast<unsigned long>(*data.channel), data.points);
    }
    return PyUnicode_FromFormat("Chromatogram(channel=%lu, %zu points, Q1=%R, Q3=%R)",
                                static_cast<unsigned long>(*data.channel), data.points,
                                data.q1.get(), data.q3.get());
  });
}

constexpr const char* kStateNames[] = {"channel", "index", "rt_sec",           "intensity", "mz",
                                       "q1",      "q3",    "collision_energy", "name"};

// Pickled by value: its attributes and what kind of trace it is
// (../toolkit/pickle.hpp).
PyObject* chromatogram_reduce(PyObject* self, PyObject* /*unused*/) noexcept {
  PyRef state = attributes_state(self, kStateNames);
  if (state) {
    const PyRef kind = PyRef::steal(PyLong_FromLong(static_cast<long>(data_of(self).kind)));
    if (!kind || PyDict_SetItemString(state.get(), "kind", kind.get()) < 0) state = PyRef();
  }
  return reduce_by_value(self, std::move(state));
}

// A number or None, as q1, q3 and collision_energy hold.
bool number_or_none_item(PyObject* value) { return value == Py_None || PyFloat_CheckExact(value); }

PyObject* chromatogram_from_state(PyObject* /*type*/, PyObject* given) {
  return read_state(given, [&](PyObject* state) -> PyObject* {
    PyObject* index = state_array(state, "index", 'q');
    PyObject* rt_sec = index ? state_array(state, "rt_sec", 'd') : nullptr;
    PyObject* intensity = rt_sec ? state_array(state, "intensity", 'd') : nullptr;
    PyObject* mz = intensity ? state_item(state, "mz") : nullptr;
    PyObject* channel = mz ? state_item(state, "channel") : nullptr;
    PyObject* kind = channel ? state_item(state, "kind") : nullptr;
    PyObject* q1 = kind ? state_item(state, "q1") : nullptr;
    PyObject* q3 = q1 ? state_item(state, "q3") : nullptr;
    PyObject* energy = q3 ? state_item(state, "collision_energy") : nullptr;
    PyObject* name = energy ? state_item(state, "name") : nullptr;
    if (!name) return nullptr;
    if (mz != Py_None && !state_array(state, "mz", 'd')) return nullptr;
    const std::size_t points = array_memory(index).count;
    const long kind_value = PyLong_Check(kind) ? PyLong_AsLong(kind) : -1;
    std::optional<std::uint32_t> channel_value;
    if (PyLong_Check(channel)) {
      const unsigned long value = PyLong_AsUnsignedLong(channel);
      if (PyErr_Occurred() || value > UINT32_MAX) {
        PyErr_Clear();
      } else {
        channel_value = static_cast<std::uint32_t>(value);
      }
    }
    const bool sizes = array_memory(rt_sec).count == points &&
                       array_memory(intensity).count == points &&
                       (mz == Py_None || array_memory(mz).count == points);
    if (!sizes || kind_value < 0 || kind_value > static_cast<long>(TraceKind::kBasePeak) ||
        (channel != Py_None && !channel_value) || !number_or_none_item(q1) ||
        !number_or_none_item(q3) || !number_or_none_item(energy) ||
        !(name == Py_None || PyUnicode_Check(name))) {
      PyErr_SetString(PyExc_ValueError, "not a pickled Chromatogram");
      return nullptr;
    }
    ChromatogramData data;
    data.channel = channel_value;
    data.kind = static_cast<TraceKind>(kind_value);
    data.points = points;
    data.mz = PyRef::incref(mz);
    data.index = PyRef::incref(index);
    data.rt_sec = PyRef::incref(rt_sec);
    data.intensity = PyRef::incref(intensity);
    data.q1 = PyRef::incref(q1);
    data.q3 = PyRef::incref(q3);
    data.collision_energy = PyRef::incref(energy);
    data.name = PyRef::incref(name);
    return make_object(chromatogram_type(), std::move(data));
  });
}

PyMethodDef chromatogram_methods[] = {
    {"__reduce__", chromatogram_reduce, METH_NOARGS, nullptr},
    {"_from_state", chromatogram_from_state, METH_O | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},  // sentinel
};

PyGetSetDef chromatogram_getset[] = {
    {"channel", field_getter<&ChromatogramData::channel>, nullptr,
     "The MRM channel, or None (a TIC or BPC).", nullptr},
    {"mz", field_getter<&ChromatogramData::mz>, nullptr,
     "A BPC's base-peak m/z per scan (Array 'd', NaN for an empty spectrum); None otherwise.",
     nullptr},
    {"index", field_getter<&ChromatogramData::index>, nullptr,
     "The scans' positions in the table (Array 'q').", nullptr},
    {"rt_sec", field_getter<&ChromatogramData::rt_sec>, nullptr,
     "The scans' retention times in seconds (Array 'd').", nullptr},
    {"intensity", field_getter<&ChromatogramData::intensity>, nullptr,
     "Per scan, the sum of its spectrum's intensities, or a BPC's base-peak intensity (Array 'd').",
     nullptr},
    {"q1", field_getter<&ChromatogramData::q1>, nullptr,
     "Precursor m/z from the transition list, or None.", nullptr},
    {"q3", field_getter<&ChromatogramData::q3>, nullptr,
     "Product m/z from the transition list, or None.", nullptr},
    {"collision_energy", field_getter<&ChromatogramData::collision_energy>, nullptr,
     "Collision energy (eV) from the transition list, or None.", nullptr},
    {"name", field_getter<&ChromatogramData::name>, nullptr,
     "Name from the transition list, or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

PyRef number_or_none(const std::optional<double>& value) {
  return value ? PyRef::steal(PyFloat_FromDouble(*value)) : PyRef::incref(Py_None);
}

}  // namespace

PyTypeObject* chromatogram_type() noexcept {
  static PyTypeObject* type = nullptr;
  return object_type<ChromatogramData>(
      type, "velmoran_arrays.Chromatogram",
      {{Py_tp_doc, const_cast<char*>("One MRM channel's chromatogram; made by Run.channels().")},
       {Py_tp_repr, reinterpret_cast<void*>(chromatogram_repr)},
       {Py_tp_getset, chromatogram_getset},
       {Py_tp_methods, chromatogram_methods},
       {Py_mp_length, reinterpret_cast<void*>(chromatogram_length)}});
}

PyObject* make_chromatogram(mrm::ChannelChromatogram&& chromatogram,
                            const mrm::Transition* transition) {
  ChromatogramData data;
  data.channel = chromatogram.channel;
  data.mz = PyRef::incref(Py_None);
  data.points = chromatogram.rt_sec.size();
  std::vector<std::int64_t> index(chromatogram.index.begin(), chromatogram.index.end());
  data.index = PyRef::steal(make_array<std::int64_t>(adopt(std::move(index))));
  if (!data.index) return nullptr;
  data.rt_sec = PyRef::steal(make_array<double>(adopt(std::move(chromatogram.rt_sec))));
  if (!data.rt_sec) return nullptr;
  data.intensity = PyRef::steal(make_array<double>(adopt(std::move(chromatogram.intensity))));
  if (!data.intensity) return nullptr;
  data.q1 = number_or_none(transition ? std::optional(transition->precursor_mz) : std::nullopt);
  if (!data.q1) return nullptr;
  data.q3 = number_or_none(transition ? std::optional(transition->product_mz) : std::nullopt);
  if (!data.q3) return nullptr;
  data.collision_energy = number_or_none(transition ? transition->collision_energy : std::nullopt);
  if (!data.collision_energy) return nullptr;
  if (transition && transition->name) {
    const std::string& name = *transition->name;
    data.name = PyRef::steal(
        PyUnicode_DecodeUTF8(name.data(), static_cast<Py_ssize_t>(name.size()), "replace"));
  } else {
    data.name = PyRef::incref(Py_None);
  }
  if (!data.name) return nullptr;

  return make_object(chromatogram_type(), std::move(data));
}

PyObject* make_trace_chromatogram(TraceKind kind, std::vector<std::size_t>&& positions,
                                  std::vector<double>&& rt_sec, std::vector<double>&& intensity,
                                  std::optional<std::vector<double>>&& mz) {
  ChromatogramData data;
  data.kind = kind;
  data.points = positions.size();
  std::vector<std::int64_t> index(positions.begin(), positions.end());
  data.index = PyRef::steal(make_array<std::int64_t>(adopt(std::move(index))));
  if (!data.index) return nullptr;
  data.rt_sec = PyRef::steal(make_array<double>(adopt(std::move(rt_sec))));
  if (!data.rt_sec) return nullptr;
  data.intensity = PyRef::steal(make_array<double>(adopt(std::move(intensity))));
  if (!data.intensity) return nullptr;
  data.mz = mz ? PyRef::steal(make_array<double>(adopt(std::move(*mz)))) : PyRef::incref(Py_None);
  if (!data.mz) return nullptr;
  for (PyRef* none : {&data.q1, &data.q3, &data.collision_energy, &data.name}) {
    *none = PyRef::incref(Py_None);
  }
  return make_object(chromatogram_type(), std::move(data));
}

namespace {}  // namespace

}  // namespace velmoran::python::arrays
