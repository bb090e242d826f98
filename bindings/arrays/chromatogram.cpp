// The Chromatogram type (chromatogram.hpp shows it in Python terms): one
// MRM channel's trace, its arrays owned by the Array objects it holds.
#include "chromatogram.hpp"

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

#include "../toolkit/guarded.hpp"
#include "../toolkit/object.hpp"
#include "../toolkit/py_ref.hpp"
#include "../toolkit/array.hpp"

namespace velmoran::python::arrays {

using python::guarded;
using python::PyRef;

namespace {

struct ChromatogramData {
  std::uint32_t channel = 0;
  std::size_t points = 0;
  // Arrays and numbers or None; never null once made.
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

PyObject* get_channel(PyObject* self, void*) noexcept {
  return PyLong_FromUnsignedLong(data_of(self).channel);
}
PyObject* get_index(PyObject* self, void*) noexcept { return new_reference(data_of(self).index); }
PyObject* get_rt_sec(PyObject* self, void*) noexcept { return new_reference(data_of(self).rt_sec); }
PyObject* get_intensity(PyObject* self, void*) noexcept {
  return new_reference(data_of(self).intensity);
}
PyObject* get_q1(PyObject* self, void*) noexcept { return new_reference(data_of(self).q1); }
PyObject* get_q3(PyObject* self, void*) noexcept { return new_reference(data_of(self).q3); }
PyObject* get_collision_energy(PyObject* self, void*) noexcept {
  return new_reference(data_of(self).collision_energy);
}
PyObject* get_name(PyObject* self, void*) noexcept { return new_reference(data_of(self).name); }

Py_ssize_t chromatogram_length(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(data_of(self).points);
}

PyObject* chromatogram_repr(PyObject* self) noexcept {
  return guarded([&]() -> PyObject* {
    const ChromatogramData& data = data_of(self);
    if (data.q1.get() == Py_None) {
      return PyUnicode_FromFormat("Chromatogram(channel=%lu, %zu points)",
                                  static_cast<unsigned long>(data.channel), data.points);
    }
    return PyUnicode_FromFormat("Chromatogram(channel=%lu, %zu points, Q1=%R, Q3=%R)",
                                static_cast<unsigned long>(data.channel), data.points,
                                data.q1.get(), data.q3.get());
  });
}

PyGetSetDef chromatogram_getset[] = {
    {"channel", get_channel, nullptr, "The MRM channel.", nullptr},
    {"index", get_index, nullptr, "The scans' positions in the table (Array 'q').", nullptr},
    {"rt_sec", get_rt_sec, nullptr, "The scans' retention times in seconds (Array 'd').", nullptr},
    {"intensity", get_intensity, nullptr,
     "The sum of each scan's spectrum intensities (Array 'd').", nullptr},
    {"q1", get_q1, nullptr, "Precursor m/z from the transition list, or None.", nullptr},
    {"q3", get_q3, nullptr, "Product m/z from the transition list, or None.", nullptr},
    {"collision_energy", get_collision_energy, nullptr,
     "Collision energy (eV) from the transition list, or None.", nullptr},
    {"name", get_name, nullptr, "Name from the transition list, or None.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

PyType_Slot chromatogram_slots[] = {
    {Py_tp_doc, const_cast<char*>("One MRM channel's chromatogram; made by Run.channels().")},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<ChromatogramData>)},
    {Py_tp_repr, reinterpret_cast<void*>(chromatogram_repr)},
    {Py_tp_getset, chromatogram_getset},
    {Py_mp_length, reinterpret_cast<void*>(chromatogram_length)},
    {0, nullptr},  // sentinel
};

// No garbage-collector support: it holds Arrays, numbers and text, none of
// which can lead back to it.
PyType_Spec chromatogram_spec = {
    .name = "velmoran_arrays.Chromatogram",
    .basicsize = static_cast<int>(sizeof(Object<ChromatogramData>)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = chromatogram_slots,
};

PyRef number_or_none(const std::optional<double>& value) {
  return value ? PyRef::steal(PyFloat_FromDouble(*value)) : PyRef::incref(Py_None);
}

}  // namespace

PyTypeObject* chromatogram_type() noexcept {
  static PyTypeObject* type = nullptr;
  return type_of_spec(chromatogram_spec, type);
}

PyObject* make_chromatogram(mrm::ChannelChromatogram&& chromatogram,
                            const mrm::Transition* transition) {
  ChromatogramData data;
  data.channel = chromatogram.channel;
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

}  // namespace velmoran::python::arrays
