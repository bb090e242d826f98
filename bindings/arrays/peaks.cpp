// The Peaks type (peaks.hpp): the flat arrays of Run.peaks(), their
// spectra's metadata as columns, and the spectra one by one as views.
#include "peaks.hpp"

#include <cstdint>
#include <limits>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>

#include <velmoran/analysis/scan_totals.hpp>

#include "../toolkit/object.hpp"
#include "../toolkit/py_ref.hpp"
#include "../toolkit/array.hpp"
#include "../toolkit/guarded.hpp"
#include "spectrum.hpp"

namespace velmoran::python::arrays {

using python::PyRef;

namespace {

// What the spectra one by one need: the flat arrays' memory, the scan
// records of the n spectra, which are centroids, and the errors.
struct PeaksSpectra {
  std::shared_ptr<const void> mz;         // double, `points` items
  std::shared_ptr<const void> intensity;  // float
  std::vector<std::int64_t> offsets;      // n + 1
  std::vector<std::size_t> positions;
  std::vector<raw::ScanRecord> scans;
  std::vector<std::uint8_t> centroided;
  std::map<std::size_t, std::string> errors;
};

struct PeaksData {
  PyRef mz;
  PyRef intensity;
  PyRef offsets;
  PyRef index;
  PyRef errors;  // dict: scan position -> error text
  std::size_t spectra;
  std::size_t points;
  PyRef scan_id;
  PyRef ms_level;
  PyRef rt_sec;
  PyRef precursor_mz;
  PyRef mrm_channel;
  std::shared_ptr<const PeaksSpectra> each;
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

PyObject* get_scan_id(PyObject* self, void*) noexcept {
  return new_reference(data_of(self).scan_id);
}
PyObject* get_ms_level(PyObject* self, void*) noexcept {
  return new_reference(data_of(self).ms_level);
}
PyObject* get_rt_sec(PyObject* self, void*) noexcept { return new_reference(data_of(self).rt_sec); }
PyObject* get_precursor_mz(PyObject* self, void*) noexcept {
  return new_reference(data_of(self).precursor_mz);
}
PyObject* get_mrm_channel(PyObject* self, void*) noexcept {
  return new_reference(data_of(self).mrm_channel);
}

// Spectrum k (0 <= k < n) as a Spectrum whose arrays are views.
PyObject* spectrum_at(const PeaksData& data, std::size_t k) {
  const PeaksSpectra& each = *data.each;
  const auto first = static_cast<std::size_t>(each.offsets[k]);
  const std::size_t points = static_cast<std::size_t>(each.offsets[k + 1]) - first;
  const auto* mz = static_cast<const double*>(each.mz.get());
  const auto* intensity = static_cast<const float*>(each.intensity.get());
  PyRef mz_view = PyRef::steal(make_array<double>({each.mz, mz ? mz + first : nullptr, points}));
  if (!mz_view) return nullptr;
  PyRef intensity_view = PyRef::steal(
      make_array<float>({each.intensity, intensity ? intensity + first : nullptr, points}));
  if (!intensity_view) return nullptr;
  const std::size_t position = each.positions[k];
  std::optional<std::string> error;
  if (const auto found = each.errors.find(position); found != each.errors.end()) {
    error = found->second;
  }
  return make_spectrum_view(std::move(mz_view), std::move(intensity_view), points, position,
                            each.scans[k], each.centroided[k] != 0, std::move(error));
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
  const PeaksSpectra& each = *data.each;
  const auto* mz = static_cast<const double*>(each.mz.get());
  const auto* intensity = static_cast<const float*>(each.intensity.get());
  Reductions out;
  out.tic.reserve(data.spectra);
  out.base_peak_mz.reserve(data.spectra);
  out.base_peak_intensity.reserve(data.spectra);
  for (std::size_t k = 0; k < data.spectra; ++k) {
    const auto first = static_cast<std::size_t>(each.offsets[k]);
    const std::size_t n = static_cast<std::size_t>(each.offsets[k + 1]) - first;
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
PyObject* peaks_frame(PyObject* self, PyObject* /*unused*/) noexcept {
  return guarded([&]() -> PyObject* {
    const PyRef pandas = PyRef::steal(PyImport_ImportModule("pandas"));
    if (!pandas) return nullptr;
    const PyRef numpy = PyRef::steal(PyImport_ImportModule("numpy"));
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

PyGetSetDef peaks_getset[] = {
    {"mz", get_mz, nullptr, "m/z of every point (Array of 'd').", nullptr},
    {"intensity", get_intensity, nullptr, "Intensity of every point (Array of 'f').", nullptr},
    {"offsets", get_offsets, nullptr,
     "n + 1 offsets (Array of 'q'): spectrum k is mz[offsets[k]:offsets[k+1]].", nullptr},
    {"index", get_index, nullptr, "Scan positions of the n spectra (Array of 'q').", nullptr},
    {"scan_id", get_scan_id, nullptr, "Each spectrum's scan number (Array of 'q').", nullptr},
    {"ms_level", get_ms_level, nullptr, "Each spectrum's MS level (Array of 'q').", nullptr},
    {"rt_sec", get_rt_sec, nullptr, "Each spectrum's retention time in seconds (Array of 'd').",
     nullptr},
    {"precursor_mz", get_precursor_mz, nullptr,
     "Each spectrum's precursor m/z, NaN where absent (Array of 'd').", nullptr},
    {"mrm_channel", get_mrm_channel, nullptr,
     "Each spectrum's MRM channel, -1 where absent (Array of 'q').", nullptr},
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
    {nullptr, nullptr, 0, nullptr},  // sentinel
};

PyType_Slot peaks_slots[] = {
    {Py_tp_doc, const_cast<char*>("Many spectra in flat arrays; made by Run.peaks().")},
    {Py_tp_new, reinterpret_cast<void*>(refuse_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(dealloc<PeaksData>)},
    {Py_tp_repr, reinterpret_cast<void*>(peaks_repr)},
    {Py_tp_getset, peaks_getset},
    {Py_tp_methods, peaks_methods},
    {Py_sq_length, reinterpret_cast<void*>(peaks_length)},
    {Py_sq_item, reinterpret_cast<void*>(peaks_item)},
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

PyObject* make_peaks(FlatPeaks&& flat, std::vector<std::size_t>&& positions, const Reader& reader) {
  const std::size_t points = flat.points;
  const std::size_t spectra = positions.size();
  PyRef mz = PyRef::steal(make_array<double>({flat.mz, flat.mz.get(), points}));
  if (!mz) return nullptr;
  PyRef intensity = PyRef::steal(make_array<float>({flat.intensity, flat.intensity.get(), points}));
  if (!intensity) return nullptr;
  auto each = std::make_shared<PeaksSpectra>();
  each->mz = flat.mz;
  each->intensity = flat.intensity;
  each->offsets = flat.offsets;
  each->centroided = std::move(flat.centroided);
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
    each->errors.emplace(position, text);
  }

  // The scan table's columns, one value per spectrum: missing values NaN
  // (float) and -1 (integer).
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  std::vector<std::int64_t> scan_id;
  std::vector<std::int64_t> ms_level;
  std::vector<double> rt_sec;
  std::vector<double> precursor_mz;
  std::vector<std::int64_t> mrm_channel;
  each->scans.reserve(spectra);
  for (const std::size_t position : positions) {
    const raw::ScanRecord& scan = reader.scans().records[position];
    each->scans.push_back(scan);
    scan_id.push_back(scan.scan_id);
    ms_level.push_back(scan.ms_level);
    rt_sec.push_back(scan.retention_time_min * 60.0);
    precursor_mz.push_back(scan.precursor_mz.value_or(kNaN));
    mrm_channel.push_back(scan.mrm_channel ? std::int64_t{*scan.mrm_channel} : -1);
  }
  each->positions = std::move(positions);
  PyRef scan_id_array = PyRef::steal(make_array<std::int64_t>(adopt(std::move(scan_id))));
  PyRef ms_level_array = PyRef::steal(make_array<std::int64_t>(adopt(std::move(ms_level))));
  PyRef rt_sec_array = PyRef::steal(make_array<double>(adopt(std::move(rt_sec))));
  PyRef precursor_array = PyRef::steal(make_array<double>(adopt(std::move(precursor_mz))));
  PyRef channel_array = PyRef::steal(make_array<std::int64_t>(adopt(std::move(mrm_channel))));
  if (!scan_id_array || !ms_level_array || !rt_sec_array || !precursor_array || !channel_array) {
    return nullptr;
  }

  return make_object(
      peaks_type(),
      PeaksData{std::move(mz), std::move(intensity), std::move(offsets), std::move(index_array),
                std::move(errors), spectra, points, std::move(scan_id_array),
                std::move(ms_level_array), std::move(rt_sec_array), std::move(precursor_array),
                std::move(channel_array), std::move(each)});
}

}  // namespace velmoran::python::arrays
