// The Peaks type (peaks.hpp): the flat arrays of Run.peaks(), their
// spectra's metadata as columns, and the spectra one by one as views.
#include "peaks.hpp"

#include <cstdint>
#include <limits>
#include <cmath>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <velmoran/analysis/scan_totals.hpp>

#include "../toolkit/guarded.hpp"
#include "../toolkit/lock_release.hpp"
#include "../toolkit/object.hpp"
#include "../toolkit/pickle.hpp"
#include "../toolkit/py_ref.hpp"
#include "../toolkit/array.hpp"
#include "spectrum.hpp"

namespace velmoran::python::arrays {

using python::PyRef;

namespace {

// Every member is an Array (errors a dict) that the Peaks owns and pickles:
// the flat points, and one value per spectrum from the scan table and the
// reading (missing values NaN in float columns, -1 in integer ones).
struct PeaksData {
  PyRef mz;
  PyRef intensity;
  PyRef offsets;
  PyRef index;
  PyRef errors;  // dict: scan position -> error text
  std::size_t spectra;
  std::size_t points;
  PyRef scan_id;       // 'q'
  PyRef ms_level;      // 'q'
  PyRef rt_sec;        // 'd'
  PyRef precursor_mz;  // 'd'
  PyRef mrm_channel;   // 'q'
  PyRef mz_low;        // 'd'
  PyRef mz_high;       // 'd'
  PyRef centroided;    // 'B': 1 where the spectrum's points are centroids
};

const PeaksData& data_of(PyObject* self) noexcept { return python::data_of<PeaksData>(self); }

// Item k of a column Array of items of type T.
template <class T>
T item(const PyRef& column, std::size_t k) noexcept {
  return static_cast<const T*>(array_memory(column.get()).data)[k];
}

std::optional<double> unless_nan(double value) {
  return std::isnan(value) ? std::nullopt : std::optional(value);
}

// Spectrum k (0 <= k < n) as a Spectrum whose arrays are views.
PyObject* spectrum_at(const PeaksData& data, std::size_t k) {
  const auto first = static_cast<std::size_t>(item<std::int64_t>(data.offsets, k));
  const auto points = static_cast<std::size_t>(item<std::int64_t>(data.offsets, k + 1)) - first;
  const ArrayMemory mz = array_memory(data.mz.get());
  const ArrayMemory intensity = array_memory(data.intensity.get());
  const auto* mz_data = static_cast<const double*>(mz.data);
  const auto* intensity_data = static_cast<const float*>(intensity.data);
  PyRef mz_view =
      PyRef::steal(make_array<double>({mz.owner, mz_data ? mz_data + first : nullptr, points}));
  if (!mz_view) return nullptr;
  PyRef intensity_view = PyRef::steal(make_array<float>(
      {intensity.owner, intensity_data ? intensity_data + first : nullptr, points}));
  if (!intensity_view) return nullptr;
  SpectrumFields fields;
  fields.index = static_cast<std::size_t>(item<std::int64_t>(data.index, k));
  fields.scan_id = static_cast<std::uint32_t>(item<std::int64_t>(data.scan_id, k));
  fields.ms_level = static_cast<std::uint32_t>(item<std::int64_t>(data.ms_level, k));
  fields.rt_sec = item<double>(data.rt_sec, k);
  fields.precursor_mz = unless_nan(item<double>(data.precursor_mz, k));
  const std::int64_t channel = item<std::int64_t>(data.mrm_channel, k);
  if (channel >= 0) fields.mrm_channel = static_cast<std::uint32_t>(channel);
  fields.mz_low = unless_nan(item<double>(data.mz_low, k));
  fields.mz_high = unless_nan(item<double>(data.mz_high, k));
  // A range needs both ends, as Spectrum.mz_range gives it.
  if (!fields.mz_low || !fields.mz_high) fields.mz_low = fields.mz_high = std::nullopt;
  fields.centroided = item<std::uint8_t>(data.centroided, k) != 0;
  const PyRef key = PyRef::steal(PyLong_FromSize_t(fields.index));
  if (!key) return nullptr;
  if (PyObject* text = PyDict_GetItemWithError(data.errors.get(), key.get())) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text, &size);
    if (!utf8) return nullptr;
    fields.error = std::string(utf8, static_cast<std::size_t>(size));
  } else if (PyErr_Occurred()) {
    return nullptr;
  }
  return make_spectrum_view(std::move(mz_view), std::move(intensity_view), points, fields);
}

PyObject* peaks_item(PyObject* self, Py_ssize_t k) noexcept {
  return guarded([&]() -> PyObject* {
    const PeaksData& data = data_of(self);
    // Negative k arrives here with n added (sq_item).
    if (k < 0 || static_cast<std::size_t>(k) >= data.spectra) {
      PyErr_SetString(PyExc_IndexError, "Peaks index out of range");
      return nullptr;
    }
    return spectrum_at(data, static_cast<std::size_t>(k));
  });
}

// tic() and base_peak() of every spectrum, in one pass.
struct Reductions {
  std::vector<double> tic;
  std::vector<double> base_peak_mz;
  std::vector<float> base_peak_intensity;
};

Reductions reductions_of(const PeaksData& data) {
  const auto* mz = static_cast<const double*>(array_memory(data.mz.get()).data);
  const auto* intensity = static_cast<const float*>(array_memory(data.intensity.get()).data);
  Reductions out;
  out.tic.reserve(data.spectra);
  out.base_peak_mz.reserve(data.spectra);
  out.base_peak_intensity.reserve(data.spectra);
  for (std::size_t k = 0; k < data.spectra; ++k) {
    const auto first = static_cast<std::size_t>(item<std::int64_t>(data.offsets, k));
    const auto n = static_cast<std::size_t>(item<std::int64_t>(data.offsets, k + 1)) - first;
    const analysis::ScanTotals totals =
        n == 0 ? analysis::ScanTotals{}
               : analysis::point_totals({mz + first, n}, {intensity + first, n});
    out.tic.push_back(totals.total_ion_current);
    out.base_peak_mz.push_back(totals.base_peak_mz);
    out.base_peak_intensity.push_back(totals.base_peak_intensity);
  }
  return out;
}

PyObject* peaks_tic(PyObject* self, PyObject* /*unused*/) noexcept {
  return guarded([&]() -> PyObject* {
    Reductions reductions = reductions_of(data_of(self));
    return make_array<double>(adopt(std::move(reductions.tic)));
  });
}

PyObject* peaks_base_peak(PyObject* self, PyObject* /*unused*/) noexcept {
  return guarded([&]() -> PyObject* {
    Reductions reductions = reductions_of(data_of(self));
    const PyRef mz = PyRef::steal(make_array<double>(adopt(std::move(reductions.base_peak_mz))));
    if (!mz) return nullptr;
    const PyRef intensity =
        PyRef::steal(make_array<float>(adopt(std::move(reductions.base_peak_intensity))));
    if (!intensity) return nullptr;
    return PyTuple_Pack(2, mz.get(), intensity.get());
  });
}

// The long table: a column per point of its spectrum's index, scan_id and
// rt_sec (numpy.repeat), and copies of mz and intensity, so that every
// column is writable, as pandas users expect; the DataFrame takes the
// columns without copying them again (copy=False).
PyObject* peaks_frame(PyObject* self, PyObject* /*unused*/) {
  return guarded([&]() -> PyObject* {
    constexpr LockRelease kFrame("Peaks.frame()");
    const PyRef pandas = PyRef::steal(import_for(kFrame, "pandas"));
    if (!pandas) return nullptr;
    const PyRef numpy = PyRef::steal(import_for(kFrame, "numpy"));
    if (!numpy) return nullptr;
    const PeaksData& data = data_of(self);
    const PyRef offsets =
        PyRef::steal(PyObject_CallMethod(numpy.get(), "asarray", "O", data.offsets.get()));
    if (!offsets) return nullptr;
    const PyRef counts = PyRef::steal(PyObject_CallMethod(numpy.get(), "diff", "O", offsets.get()));
    if (!counts) return nullptr;
    const PyRef columns = PyRef::steal(PyDict_New());
    if (!columns) return nullptr;
    const auto repeated = [&](const char* name, PyObject* per_spectrum) {
      const PyRef values = PyRef::steal(
          PyObject_CallMethod(numpy.get(), "repeat", "OO", per_spectrum, counts.get()));
      return values && PyDict_SetItemString(columns.get(), name, values.get()) == 0;
    };
    const auto copied = [&](const char* name, PyObject* array) {
      const PyRef values = PyRef::steal(PyObject_CallMethod(numpy.get(), "array", "O", array));
      return values && PyDict_SetItemString(columns.get(), name, values.get()) == 0;
    };
    if (!repeated("index", data.index.get()) || !repeated("scan_id", data.scan_id.get()) ||
        !repeated("rt_sec", data.rt_sec.get()) || !copied("mz", data.mz.get()) ||
        !copied("intensity", data.intensity.get())) {
      return nullptr;
    }
    const PyRef frame_type = PyRef::steal(PyObject_GetAttrString(pandas.get(), "DataFrame"));
    if (!frame_type) return nullptr;
    const PyRef args = PyRef::steal(PyTuple_Pack(1, columns.get()));
    const PyRef keywords = PyRef::steal(Py_BuildValue("{s:O}", "copy", Py_False));
    if (!args || !keywords) return nullptr;
    return PyObject_Call(frame_type.get(), args.get(), keywords.get());
  });
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

constexpr const char* kStateNames[] = {
    "mz",     "intensity",    "offsets",     "index",  "errors",  "scan_id",   "ms_level",
    "rt_sec", "precursor_mz", "mrm_channel", "mz_low", "mz_high", "centroided"};

// Pickled by value: its arrays and errors (pickle.hpp).
PyObject* peaks_reduce(PyObject* self, PyObject* /*unused*/) noexcept {
  return reduce_by_value(self, attributes_state(self, kStateNames));
}

PyObject* peaks_from_state(PyObject* /*type*/, PyObject* given) {
  return read_state(given, [&](PyObject* state) -> PyObject* {
    PyObject* mz = state_array(state, "mz", 'd');
    PyObject* intensity = mz ? state_array(state, "intensity", 'f') : nullptr;
    PyObject* offsets = intensity ? state_array(state, "offsets", 'q') : nullptr;
    PyObject* index = offsets ? state_array(state, "index", 'q') : nullptr;
    PyObject* errors = index ? state_item(state, "errors") : nullptr;
    PyObject* scan_id = errors ? state_array(state, "scan_id", 'q') : nullptr;
    PyObject* ms_level = scan_id ? state_array(state, "ms_level", 'q') : nullptr;
    PyObject* rt_sec = ms_level ? state_array(state, "rt_sec", 'd') : nullptr;
    PyObject* precursor_mz = rt_sec ? state_array(state, "precursor_mz", 'd') : nullptr;
    PyObject* mrm_channel = precursor_mz ? state_array(state, "mrm_channel", 'q') : nullptr;
    PyObject* mz_low = mrm_channel ? state_array(state, "mz_low", 'd') : nullptr;
    PyObject* mz_high = mz_low ? state_array(state, "mz_high", 'd') : nullptr;
    PyObject* centroided = mz_high ? state_array(state, "centroided", 'B') : nullptr;
    if (!centroided) return nullptr;
    const std::size_t points = array_memory(mz).count;
    const std::size_t spectra = array_memory(index).count;
    // Offsets that start at 0, never go down and end at the points: what
    // every reader of the flat arrays relies on.
    const ArrayMemory bounds = array_memory(offsets);
    const auto* offset = static_cast<const std::int64_t*>(bounds.data);
    bool ordered = bounds.count == spectra + 1 && offset[0] == 0 &&
                   offset[spectra] == static_cast<std::int64_t>(points);
    for (std::size_t k = 0; ordered && k < spectra; ++k) ordered = offset[k] <= offset[k + 1];
    bool columns = true;
    for (PyObject* column :
         {scan_id, ms_level, rt_sec, precursor_mz, mrm_channel, mz_low, mz_high, centroided}) {
      columns = columns && array_memory(column).count == spectra;
    }
    if (!PyDict_Check(errors) || array_memory(intensity).count != points || !ordered || !columns) {
      PyErr_SetString(PyExc_ValueError, "not a pickled Peaks");
      return nullptr;
    }
    PyRef errors_copy = PyRef::steal(PyDict_Copy(errors));
    if (!errors_copy) return nullptr;
    return make_object(
        peaks_type(),
        PeaksData{PyRef::incref(mz), PyRef::incref(intensity), PyRef::incref(offsets),
                  PyRef::incref(index), std::move(errors_copy), spectra, points,
                  PyRef::incref(scan_id), PyRef::incref(ms_level), PyRef::incref(rt_sec),
                  PyRef::incref(precursor_mz), PyRef::incref(mrm_channel), PyRef::incref(mz_low),
                  PyRef::incref(mz_high), PyRef::incref(centroided)});
  });
}

PyGetSetDef peaks_getset[] = {
    {"mz", field_getter<&PeaksData::mz>, nullptr, "m/z of every point (Array of 'd').", nullptr},
    {"intensity", field_getter<&PeaksData::intensity>, nullptr,
     "Intensity of every point (Array of 'f').", nullptr},
    {"offsets", field_getter<&PeaksData::offsets>, nullptr,
     "n + 1 offsets (Array of 'q'): spectrum k is mz[offsets[k]:offsets[k+1]].", nullptr},
    {"index", field_getter<&PeaksData::index>, nullptr,
     "Scan positions of the n spectra (Array of 'q').", nullptr},
    {"scan_id", field_getter<&PeaksData::scan_id>, nullptr,
     "Each spectrum's scan number (Array of 'q').", nullptr},
    {"ms_level", field_getter<&PeaksData::ms_level>, nullptr,
     "Each spectrum's MS level (Array of 'q').", nullptr},
    {"rt_sec", field_getter<&PeaksData::rt_sec>, nullptr,
     "Each spectrum's retention time in seconds (Array of 'd').", nullptr},
    {"precursor_mz", field_getter<&PeaksData::precursor_mz>, nullptr,
     "Each spectrum's precursor m/z, NaN where absent (Array of 'd').", nullptr},
    {"mrm_channel", field_getter<&PeaksData::mrm_channel>, nullptr,
     "Each spectrum's MRM channel, -1 where absent (Array of 'q').", nullptr},
    {"mz_low", field_getter<&PeaksData::mz_low>, nullptr,
     "Each scan's m/z range, low end, NaN where absent (Array of 'd').", nullptr},
    {"mz_high", field_getter<&PeaksData::mz_high>, nullptr,
     "Each scan's m/z range, high end, NaN where absent (Array of 'd').", nullptr},
    {"centroided", field_getter<&PeaksData::centroided>, nullptr,
     "1 where the spectrum's points are centroids, as Spectrum.centroided (Array of 'B').",
     nullptr},
    {"errors", get_errors, nullptr,
     "A dict from the scan position of each spectrum whose block could not be read or decoded "
     "(it is empty) to the error's text; empty when every block was read.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

PyMethodDef peaks_methods[] = {
    {"tic", peaks_tic, METH_NOARGS,
     "tic($self, /)\n--\n\nEach spectrum's intensities summed in double, in point order "
     "(0 for an empty one)."},
    {"base_peak", peaks_base_peak, METH_NOARGS,
     "base_peak($self, /)\n--\n\n(mz, intensity): each spectrum's first highest point "
     "(NaN and 0 for an empty one)."},
    {"frame", peaks_frame, METH_NOARGS,
     "frame($self, /)\n--\n\nA pandas DataFrame with a row per point: index, scan_id, rt_sec, "
     "mz, intensity."},
    {"__reduce__", peaks_reduce, METH_NOARGS, nullptr},
    {"_from_state", peaks_from_state, METH_O | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},  // sentinel
};

}  // namespace

PyTypeObject* peaks_type() noexcept {
  static PyTypeObject* type = nullptr;
  return object_type<PeaksData>(
      type, "velmoran_arrays.Peaks",
      {{Py_tp_doc, const_cast<char*>("Many spectra in flat arrays; made by Run.peaks().")},
       {Py_tp_repr, reinterpret_cast<void*>(peaks_repr)},
       {Py_tp_getset, peaks_getset},
       {Py_tp_methods, peaks_methods},
       {Py_sq_length, reinterpret_cast<void*>(peaks_length)},
       {Py_sq_item, reinterpret_cast<void*>(peaks_item)}});
}

PyObject* make_peaks(analysis::FlatPeaks&& flat, std::vector<std::size_t>&& positions,
                     const Reader& reader) {
  const std::size_t points = flat.points;
  const std::size_t spectra = positions.size();
  PyRef mz = PyRef::steal(make_array<double>({flat.mz, flat.mz.get(), points}));
  if (!mz) return nullptr;
  PyRef intensity = PyRef::steal(make_array<float>({flat.intensity, flat.intensity.get(), points}));
  if (!intensity) return nullptr;
  PyRef offsets = PyRef::steal(make_array<std::int64_t>(adopt(std::move(flat.offsets))));
  if (!offsets) return nullptr;
  PyRef centroided = PyRef::steal(make_array<std::uint8_t>(adopt(std::move(flat.centroided))));
  if (!centroided) return nullptr;
  PyRef errors = PyRef::steal(PyDict_New());
  if (!errors) return nullptr;
  for (const auto& [position, text] : flat.errors) {
    const PyRef key = PyRef::steal(PyLong_FromSize_t(position));
    const PyRef value = PyRef::steal(
        PyUnicode_DecodeUTF8(text.data(), static_cast<Py_ssize_t>(text.size()), "replace"));
    if (!key || !value || PyDict_SetItem(errors.get(), key.get(), value.get()) < 0) return nullptr;
  }

  // The scan table's columns, one value per spectrum.
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::vector<std::int64_t> index(positions.begin(), positions.end());
  std::vector<std::int64_t> scan_id;
  std::vector<std::int64_t> ms_level;
  std::vector<double> rt_sec;
  std::vector<double> precursor_mz;
  std::vector<std::int64_t> mrm_channel;
  std::vector<double> mz_low;
  std::vector<double> mz_high;
  for (const std::size_t position : positions) {
    const raw::ScanRecord& scan = reader.scans().records[position];
    scan_id.push_back(scan.scan_id);
    ms_level.push_back(scan.ms_level);
    rt_sec.push_back(raw::retention_time_sec(scan));
    precursor_mz.push_back(scan.precursor_mz.value_or(kNaN));
    mrm_channel.push_back(scan.mrm_channel ? std::int64_t{*scan.mrm_channel} : -1);
    mz_low.push_back(scan.mz_range_low.value_or(kNaN));
    mz_high.push_back(scan.mz_range_high.value_or(kNaN));
  }
  PyRef columns[] = {
      PyRef::steal(make_array<std::int64_t>(adopt(std::move(index)))),
      PyRef::steal(make_array<std::int64_t>(adopt(std::move(scan_id)))),
      PyRef::steal(make_array<std::int64_t>(adopt(std::move(ms_level)))),
      PyRef::steal(make_array<double>(adopt(std::move(rt_sec)))),
      PyRef::steal(make_array<double>(adopt(std::move(precursor_mz)))),
      PyRef::steal(make_array<std::int64_t>(adopt(std::move(mrm_channel)))),
      PyRef::steal(make_array<double>(adopt(std::move(mz_low)))),
      PyRef::steal(make_array<double>(adopt(std::move(mz_high)))),
  };
  for (const PyRef& column : columns) {
    if (!column) return nullptr;
  }
  return make_object(
      peaks_type(),
      PeaksData{std::move(mz), std::move(intensity), std::move(offsets), std::move(columns[0]),
                std::move(errors), spectra, points, std::move(columns[1]), std::move(columns[2]),
                std::move(columns[3]), std::move(columns[4]), std::move(columns[5]),
                std::move(columns[6]), std::move(columns[7]), std::move(centroided)});
}

}  // namespace velmoran::python::arrays
