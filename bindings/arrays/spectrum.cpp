// The Spectrum type of velmoran_arrays (spectrum.hpp shows it in Python
// terms): the scan's metadata from the scan table and its two arrays,
// exposed without a copy.
#include "spectrum.hpp"

#include <memory>
#include <optional>
#include <string>

#include <velmoran/representation.hpp>

#include "../toolkit/fixed_text.hpp"
#include "../toolkit/guarded.hpp"
#include "../toolkit/object.hpp"
#include "../toolkit/pickle.hpp"
#include "../toolkit/py_ref.hpp"
#include "../toolkit/array.hpp"

namespace velmoran::python::arrays {

using python::PyRef;

namespace {

struct SpectrumData {
  PyRef mz;
  PyRef intensity;
  std::size_t points;
  std::size_t index;
  std::uint32_t scan_id;
  std::uint32_t ms_level;
  double rt_sec;
  std::optional<double> precursor_mz;
  std::optional<std::uint32_t> mrm_channel;
  std::optional<double> mz_low;
  std::optional<double> mz_high;
  bool centroided;
  std::optional<std::string> error;
};

const SpectrumData& data_of(PyObject* self) noexcept { return python::data_of<SpectrumData>(self); }

PyObject* get_mz_range(PyObject* self, void*) noexcept {
  const SpectrumData& data = data_of(self);
  if (!data.mz_low || !data.mz_high) return new_reference(Py_None);
  return Py_BuildValue("(dd)", *data.mz_low, *data.mz_high);
}
Py_ssize_t spectrum_length(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(data_of(self).points);
}

PyObject* spectrum_repr(PyObject* self) noexcept {
  const SpectrumData& data = data_of(self);
  const FixedText rt = fixed_two_decimals(data.rt_sec);
  return PyUnicode_FromFormat("Spectrum(scan %lu, MS%lu, %zu points, RT %s s)",
                              static_cast<unsigned long>(data.scan_id),
                              static_cast<unsigned long>(data.ms_level), data.points, rt.c_str());
}

constexpr const char* kStateNames[] = {"mz",       "intensity",  "index",        "scan_id",
                                       "ms_level", "rt_sec",     "precursor_mz", "mrm_channel",
                                       "mz_range", "centroided", "error"};

// Pickled by value: its attributes (pickle.hpp).
PyObject* spectrum_reduce(PyObject* self, PyObject* /*unused*/) noexcept {
  return reduce_by_value(self, attributes_state(self, kStateNames));
}

// The state's `name`: None (nullopt), or a number converted by `convert`.
template <class T, class Convert>
bool optional_number(PyObject* state, const char* name, std::optional<T>& out, Convert convert) {
  PyObject* item = state_item(state, name);
  if (!item) return false;
  if (item == Py_None) return true;
  const T value = convert(item);
  if (PyErr_Occurred()) return false;
  out = value;
  return true;
}

PyObject* spectrum_from_state(PyObject* /*type*/, PyObject* given) {
  return read_state(given, [&](PyObject* state) -> PyObject* {
    PyObject* mz = state_array(state, "mz", 'd');
    PyObject* intensity = mz ? state_array(state, "intensity", 'f') : nullptr;
    if (!intensity) return nullptr;
    const auto as_size = [](PyObject* o) { return PyLong_AsSize_t(o); };
    const auto as_u32 = [](PyObject* o) {
      const unsigned long value = PyLong_AsUnsignedLong(o);
      if (value > 0xFFFFFFFFUL && !PyErr_Occurred()) {
        PyErr_SetString(PyExc_OverflowError, "not a 32-bit value");
      }
      return static_cast<std::uint32_t>(value);
    };
    const auto as_double = [](PyObject* o) { return PyFloat_AsDouble(o); };
    std::optional<std::size_t> index;
    std::optional<std::uint32_t> scan_id;
    std::optional<std::uint32_t> ms_level;
    std::optional<double> rt_sec;
    std::optional<double> precursor_mz;
    std::optional<std::uint32_t> mrm_channel;
    if (!optional_number(state, "index", index, as_size) ||
        !optional_number(state, "scan_id", scan_id, as_u32) ||
        !optional_number(state, "ms_level", ms_level, as_u32) ||
        !optional_number(state, "rt_sec", rt_sec, as_double) ||
        !optional_number(state, "precursor_mz", precursor_mz, as_double) ||
        !optional_number(state, "mrm_channel", mrm_channel, as_u32)) {
      return nullptr;
    }
    std::optional<double> mz_low;
    std::optional<double> mz_high;
    PyObject* range = state_item(state, "mz_range");
    if (!range) return nullptr;
    if (range != Py_None && !PyArg_ParseTuple(range, "dd", &mz_low.emplace(), &mz_high.emplace())) {
      return nullptr;
    }
    PyObject* centroided = state_item(state, "centroided");
    PyObject* error = centroided ? state_item(state, "error") : nullptr;
    if (!error) return nullptr;
    std::optional<std::string> error_text;
    if (error != Py_None) {
      Py_ssize_t size = 0;
      const char* text = PyUnicode_AsUTF8AndSize(error, &size);
      if (!text) return nullptr;
      error_text.emplace(text, static_cast<std::size_t>(size));
    }
    const std::size_t points = array_memory(mz).count;
    if (!index || !scan_id || !ms_level || !rt_sec || array_memory(intensity).count != points ||
        !PyBool_Check(centroided)) {
      PyErr_SetString(PyExc_ValueError, "not a pickled Spectrum");
      return nullptr;
    }
    return make_object(spectrum_type(),
                       SpectrumData{PyRef::incref(mz), PyRef::incref(intensity), points, *index,
                                    *scan_id, *ms_level, *rt_sec, precursor_mz, mrm_channel, mz_low,
                                    mz_high, centroided == Py_True, std::move(error_text)});
  });
}

PyMethodDef spectrum_methods[] = {
    {"__reduce__", spectrum_reduce, METH_NOARGS, nullptr},
    {"_from_state", spectrum_from_state, METH_O | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},  // sentinel
};

PyGetSetDef spectrum_getset[] = {
    {"mz", field_getter<&SpectrumData::mz>, nullptr, "m/z of each point (Array of 'd').", nullptr},
    {"intensity", field_getter<&SpectrumData::intensity>, nullptr,
     "Intensity of each point (Array of 'f').", nullptr},
    {"index", field_getter<&SpectrumData::index>, nullptr,
     "Position of the scan in the scan table.", nullptr},
    {"scan_id", field_getter<&SpectrumData::scan_id>, nullptr, "The scan's number.", nullptr},
    {"ms_level", field_getter<&SpectrumData::ms_level>, nullptr, "MS level.", nullptr},
    {"rt_sec", field_getter<&SpectrumData::rt_sec>, nullptr, "Retention time in seconds.", nullptr},
    {"precursor_mz", field_getter<&SpectrumData::precursor_mz>, nullptr, "Precursor m/z, or None.",
     nullptr},
    {"mrm_channel", field_getter<&SpectrumData::mrm_channel>, nullptr, "MRM channel, or None.",
     nullptr},
    {"mz_range", get_mz_range, nullptr, "(low, high) m/z of the scan, or None.", nullptr},
    {"centroided", field_getter<&SpectrumData::centroided>, nullptr,
     "True when the points came from the peak block.", nullptr},
    {"error", field_getter<&SpectrumData::error>, nullptr,
     "None, or why a block could not be read or decoded (the spectrum is then empty).", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

}  // namespace

PyTypeObject* spectrum_type() noexcept {
  static PyTypeObject* type = nullptr;
  return object_type<SpectrumData>(
      type, "velmoran_arrays.Spectrum",
      {{Py_tp_doc, const_cast<char*>("One scan's spectrum and metadata; made by Run[i] and "
                                     "Run.spectra().")},
       {Py_tp_repr, reinterpret_cast<void*>(spectrum_repr)},
       {Py_tp_getset, spectrum_getset},
       {Py_tp_methods, spectrum_methods},
       {Py_sq_length, reinterpret_cast<void*>(spectrum_length)}});
}

PyObject* make_spectrum(ScanSpectrum&& spectrum, const Reader& reader) {
  quorlith::SpectrumRecord& record = spectrum.record;
  const raw::ScanRecord& scan = reader.scans().records[static_cast<std::size_t>(record.index)];
  const std::size_t points = record.mz.size();
  const bool centroided = representation_of(reader, record) == Representation::centroid;
  std::optional<std::string> error;
  if (spectrum.error) error = spectrum.error->text();
  PyRef mz = PyRef::steal(make_array<double>(adopt(std::move(record.mz))));
  if (!mz) return nullptr;
  PyRef intensity = PyRef::steal(make_array<float>(adopt(std::move(record.intensity))));
  if (!intensity) return nullptr;

  return make_object(
      spectrum_type(),
      SpectrumData{std::move(mz), std::move(intensity), points,
                   static_cast<std::size_t>(record.index), record.scan_id, record.ms_level,
                   record.retention_time_sec, scan.precursor_mz, scan.mrm_channel,
                   scan.mz_range_low, scan.mz_range_high, centroided, std::move(error)});
}

PyObject* make_spectrum_view(PyRef mz, PyRef intensity, std::size_t points,
                             const SpectrumFields& fields) {
  return make_object(
      spectrum_type(),
      SpectrumData{std::move(mz), std::move(intensity), points, fields.index, fields.scan_id,
                   fields.ms_level, fields.rt_sec, fields.precursor_mz, fields.mrm_channel,
                   fields.mz_low, fields.mz_high, fields.centroided, fields.error});
}

}  // namespace velmoran::python::arrays
