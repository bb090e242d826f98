// The Peaks type (peaks.hpp): the four flat arrays of Run.peaks().
#include "peaks.hpp"

#include <cstdint>
#include <memory>

#include "../toolkit/object.hpp"
#include "../toolkit/py_ref.hpp"
#include "../toolkit/array.hpp"

namespace velmoran::python::arrays {

using python::PyRef;

namespace {

struct PeaksData {
  PyRef mz;
  PyRef intensity;
  PyRef offsets;
  PyRef index;
  PyRef errors;  // dict: scan position -> error text
  std::size_t spectra;
  std::size_t points;
};

const PeaksData& data_of(PyObject* self) noexcept { return python::data_of<PeaksData>(self); }

PyObject* get_mz(PyObject* self, void*) noexcept { return new_reference(data_of(self).mz.get()); }
PyObject* get_intensity(PyObject* self, void*) noexcept {
  return new_reference(data_of(self).intensity.get());
}
PyObject* get_offsets(PyObject* self, void*) noexcept {
  return new_reference(data_of(self).offsets.get());
}
PyObject* get_index(PyObject* self, void*) noexcept {
  return new_reference(data_of(self).index.get());
}

// A new dict each time: the caller may change it without changing the
// next one.
PyObject* get_errors(PyObject* self, void*) noexcept {
  return PyDict_Copy(data_of(self).errors.get());
}

Py_ssize_t peaks_length(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(data_of(self).spectra);
}

PyObject* peaks_repr(PyObject* self) noexcept {
  const PeaksData& data = data_of(self);
  return PyUnicode_FromFormat("Peaks(%zu spectra, %zu points)", data.spectra, data.points);
}

PyGetSetDef peaks_getset[] = {
    {"mz", get_mz, nullptr, "m/z of every point (Array of 'd').", nullptr},
    {"intensity", get_intensity, nullptr, "Intensity of every point (Array of 'f').", nullptr},
    {"offsets", get_offsets, nullptr,
     "n + 1 offsets (Array of 'q'): spectrum k is mz[offsets[k]:offsets[k+1]].", nullptr},
    {"index", get_index, nullptr, "Scan positions of the n spectra (Array of 'q').", nullptr},
    {"errors", get_errors, nullptr,
     "A dict from the scan position of each spectrum whose block could not be read or decoded "
     "(it is empty) to the error's text; empty when every block was read.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

PyType_Slot peaks_slots[] = {
    {Py_tp_doc, const_cast<char*>("Many spectra in flat arrays; made by Run.peaks().")},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PeaksData>)},
    {Py_tp_repr, reinterpret_cast<void*>(peaks_repr)},
    {Py_tp_getset, peaks_getset},
    {Py_sq_length, reinterpret_cast<void*>(peaks_length)},
    {0, nullptr},  // sentinel
};

PyType_Spec peaks_spec = {
    .name = "velmoran_arrays.Peaks",
    .basicsize = static_cast<int>(sizeof(Object<PeaksData>)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = peaks_slots,
};

}  // namespace

PyTypeObject* peaks_type() noexcept {
  static PyTypeObject* type = nullptr;
  return type_of_spec(peaks_spec, type);
}

PyObject* make_peaks(FlatPeaks&& flat, std::vector<std::size_t>&& positions) {
  const std::size_t points = flat.points;
  const std::size_t spectra = positions.size();
  PyRef mz = PyRef::steal(make_array<double>({flat.mz, flat.mz.get(), points}));
  if (!mz) return nullptr;
  PyRef intensity = PyRef::steal(make_array<float>({flat.intensity, flat.intensity.get(), points}));
  if (!intensity) return nullptr;
  PyRef offsets = PyRef::steal(make_array<std::int64_t>(adopt(std::move(flat.offsets))));
  if (!offsets) return nullptr;
  std::vector<std::int64_t> index(positions.begin(), positions.end());
  PyRef index_array = PyRef::steal(make_array<std::int64_t>(adopt(std::move(index))));
  if (!index_array) return nullptr;
  PyRef errors = PyRef::steal(PyDict_New());
  if (!errors) return nullptr;
  for (const auto& [position, text] : flat.errors) {
    const PyRef key = PyRef::steal(PyLong_FromSize_t(position));
    const PyRef value = PyRef::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (!key || !value || PyDict_SetItem(errors.get(), key.get(), value.get()) < 0) return nullptr;
  }

  return make_object(peaks_type(),
                     PeaksData{std::move(mz), std::move(intensity), std::move(offsets),
                               std::move(index_array), std::move(errors), spectra, points});
}

}  // namespace velmoran::python::arrays
