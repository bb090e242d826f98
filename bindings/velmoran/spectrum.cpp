// class Spectrum:
//     mz: list[float]                  # read-only; a new list of new floats each read
//     intensity: list[float]           # read-only; likewise
//     ms_level: int                    # read-only
//     retention_time_sec: float        # read-only
//     def __len__(self): return len(self._mz)
//     def __repr__(self): return f"Spectrum({len(self._mz)} peaks, RT {fixed2(self._rt)}s)"
//     def __new__(cls, *args, **kwargs):
//         raise TypeError("cannot create 'builtins.Spectrum' instances")
#include "spectrum.hpp"

#include <memory>
#include <utility>

#include "../toolkit/fixed_text.hpp"
#include "../toolkit/object.hpp"
#include "../toolkit/py_ref.hpp"

namespace velmoran::python {

namespace {

// The module name "builtins" and the qualified name, as __module__ and
// __qualname__ show them.
constexpr char kTypeName[] = "builtins.Spectrum";

struct SpectrumData {
  quorlith::MzArray mz;
  quorlith::IntensityArray intensity;
  std::uint32_t ms_level;
  double retention_time_sec;
};

const SpectrumData& data_of(PyObject* self) noexcept { return python::data_of<SpectrumData>(self); }

// A list of new floats, one per element, sized once and filled in order.
template <class Array>
PyObject* float_list(const Array& values) noexcept {
  const auto count = static_cast<Py_ssize_t>(values.size());
  PyRef list = PyRef::steal(PyList_New(count));
  if (!list) return nullptr;
  const auto* element = values.data();
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* item = PyFloat_FromDouble(static_cast<double>(element[i]));
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), i, item);
  }
  return list.release();
}

PyObject* get_mz(PyObject* self, void* /*closure*/) noexcept {
  return float_list(data_of(self).mz);
}

PyObject* get_intensity(PyObject* self, void* /*closure*/) noexcept {
  return float_list(data_of(self).intensity);
}

Py_ssize_t spectrum_length(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(data_of(self).mz.size());
}

PyObject* spectrum_repr(PyObject* self) noexcept {
  const SpectrumData& data = data_of(self);
  const FixedText rt = fixed_two_decimals(data.retention_time_sec);
  return PyUnicode_FromFormat("Spectrum(%zu peaks, RT %ss)", data.mz.size(), rt.c_str());
}

// Declared in this order: mz, intensity, ms_level, retention_time_sec.
PyGetSetDef spectrum_getset[] = {
    {"mz", get_mz, nullptr, nullptr, nullptr},
    {"intensity", get_intensity, nullptr, nullptr, nullptr},
    {"ms_level", field_getter<&SpectrumData::ms_level>, nullptr, nullptr, nullptr},
    {"retention_time_sec", field_getter<&SpectrumData::retention_time_sec>, nullptr, nullptr,
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

}  // namespace

PyTypeObject* spectrum_type() noexcept {
  static PyTypeObject* type = nullptr;
  return object_type<SpectrumData>(type, kTypeName,
                                   {{Py_tp_repr, reinterpret_cast<void*>(spectrum_repr)},
                                    {Py_tp_getset, spectrum_getset},
                                    {Py_mp_length, reinterpret_cast<void*>(spectrum_length)}});
}

PyObject* make_spectrum(const quorlith::SpectrumRecord& record) {
  SpectrumData data{record.mz, record.intensity, record.ms_level, record.retention_time_sec};
  return make_object(spectrum_type(), std::move(data));
}

}  // namespace velmoran::python
