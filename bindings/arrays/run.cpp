// The Run type and open() (run.hpp shows them in Python terms). A Run owns
// the opened Reader through a shared pointer, which iterators and worker
// threads share: it lives while any of them needs it.
#include "run.hpp"

#include <chrono>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <velmoran/analysis/gather_peaks.hpp>
#include <velmoran/reader.hpp>

#include <velmoran/analysis/thread_count.hpp>
#include "../toolkit/object.hpp"
#include "../toolkit/py_ref.hpp"
#include "arguments.hpp"
#include "../toolkit/array.hpp"
#include "channels.hpp"
#include "../toolkit/errors.hpp"
#include "peaks.hpp"
#include "run_qc.hpp"
#include "spectrum.hpp"
#include "peak_mode_argument.hpp"
#include "run_chromatograms.hpp"
#include "spectrum_iterator.hpp"
#include "../toolkit/lock_release.hpp"
#include "../toolkit/without_gil.hpp"

namespace velmoran::python::arrays {

using python::guarded;
using python::PyRef;

namespace {

struct RunData {
  std::shared_ptr<const Reader> reader;  // null once closed
  PyRef columns;                         // the dict of scan table columns, made on first use
  std::shared_ptr<const mrm::TransitionList> transitions;
  // As given (run.path), as the system takes it.
  std::string path;
  // Absolute, made so when given: what a pickled run reopens, whatever the
  // working directory of the process that loads it.
  std::string absolute_path;
  std::optional<std::string> transitions_path;
};

// `path` made absolute against the working directory now (a failure to
// read it is an OSError, guarded.hpp).
std::string absolute_text(const std::string& path) {
  return std::filesystem::absolute(std::filesystem::path(path)).native();
}

RunData& data_of(PyObject* self) noexcept { return python::data_of<RunData>(self); }

// The run's reader, shared so that closing the run on another thread
// while this one reads without the lock leaves it alive; null with
// ValueError("closed run") once closed.
std::shared_ptr<const Reader> open_reader(PyObject* self) noexcept {
  std::shared_ptr<const Reader> reader = data_of(self).reader;
  if (!reader) PyErr_SetString(PyExc_ValueError, "closed run");
  return reader;
}

PyObject* native_text(const std::string& native) noexcept {
  return PyUnicode_DecodeFSDefaultAndSize(native.data(), static_cast<Py_ssize_t>(native.size()));
}

// One column of the scan table: `field(scan)` for every scan, in order.
template <class T, class Field>
bool add_column(PyObject* dict, const char* name, const raw::MSScan& table, Field&& field) {
  std::vector<T> values;
  values.reserve(table.records.size());
  for (const auto& scan : table.records) values.push_back(field(scan));
  const PyRef array = PyRef::steal(make_array<T>(adopt(std::move(values))));
  return array && PyDict_SetItemString(dict, name, array.get()) == 0;
}

PyRef make_columns(const raw::MSScan& table) {
  constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
  PyRef dict = PyRef::steal(PyDict_New());
  if (!dict) return dict;
  using Scan = raw::ScanRecord;
  const auto points = [](const std::optional<raw::BlockRef>& block) -> std::int64_t {
    return block ? std::int64_t{block->point_count} : 0;
  };
  PyObject* d = dict.get();
  const bool made =
      add_column<std::int64_t>(d, "scan_id", table,
                               [](const Scan& s) { return std::int64_t{s.scan_id}; }) &&
      add_column<std::int64_t>(d, "ms_level", table,
                               [](const Scan& s) { return std::int64_t{s.ms_level}; }) &&
      add_column<double>(d, "rt_sec", table,
                         [](const Scan& s) { return raw::retention_time_sec(s); }) &&
      add_column<double>(d, "precursor_mz", table,
                         [&](const Scan& s) { return s.precursor_mz.value_or(kNaN); }) &&
      add_column<std::int64_t>(d, "mrm_channel", table,
                               [](const Scan& s) -> std::int64_t {
                                 return s.mrm_channel ? std::int64_t{*s.mrm_channel} : -1;
                               }) &&
      add_column<double>(d, "mz_low", table,
                         [&](const Scan& s) { return s.mz_range_low.value_or(kNaN); }) &&
      add_column<double>(d, "mz_high", table,
                         [&](const Scan& s) { return s.mz_range_high.value_or(kNaN); }) &&
      add_column<std::int64_t>(d, "profile_points", table,
                               [&](const Scan& s) { return points(s.profile_block); }) &&
      add_column<std::int64_t>(d, "peak_points", table,
                               [&](const Scan& s) { return points(s.peak_block); });
  return made ? std::move(dict) : PyRef();
}

// The cached columns (borrowed), made on first use.
PyObject* columns_of(PyObject* self) {
  const auto reader = open_reader(self);
  if (!reader) return nullptr;
  RunData& data = data_of(self);
  if (!data.columns) {
    PyRef made = make_columns(reader->scans());
    if (!made) return nullptr;
    // Making the columns may have let another thread in: keep the first.
    if (!data.columns) data.columns = std::move(made);
  }
  return data.columns.get();
}

// A new dict each time, of the same read-only columns: the caller may
// change its dict without changing the next one.
PyObject* get_scans(PyObject* self, void*) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* columns = columns_of(self);
    return columns ? PyDict_Copy(columns) : nullptr;
  });
}

// The path stays readable once the run is closed, as a file's name does.
PyObject* get_path(PyObject* self, void*) noexcept { return native_text(data_of(self).path); }

PyObject* get_closed(PyObject* self, void*) noexcept {
  return PyBool_FromLong(data_of(self).reader ? 0 : 1);
}

PyObject* get_name(PyObject* self, void*) noexcept {
  return guarded([&]() -> PyObject* {
    const auto reader = open_reader(self);
    return reader ? native_text(reader->name()) : nullptr;
  });
}

PyObject* get_record_length(PyObject* self, void*) noexcept {
  return guarded([&]() -> PyObject* {
    const auto reader = open_reader(self);
    return reader ? PyLong_FromUnsignedLong(reader->scans().record_stride) : nullptr;
  });
}

Py_ssize_t run_length(PyObject* self) noexcept {
  return guarded([&]() -> Py_ssize_t {
    const auto reader = open_reader(self);
    return reader ? static_cast<Py_ssize_t>(reader->scans().records.size()) : -1;
  });
}

// The spectra at `positions`, in that order, as a list, decoded ahead on
// every CPU this process may use.
// The iterator is dropped here, not by a PyRef: freeing it gives up the
// interpreter lock ("SpectrumIterator.__del__"), which no noexcept frame,
// such as a destructor, may do (../toolkit/lock_release.hpp).
PyObject* spectrum_list(std::shared_ptr<const Reader> reader, std::vector<std::size_t> positions) {
  PyObject* iterator =
      make_spectrum_iterator(std::move(reader), std::move(positions), analysis::default_threads());
  if (!iterator) return nullptr;
  PyObject* list = PySequence_List(iterator);
  Py_DECREF(iterator);
  return list;
}

// The slots that release the interpreter lock are not noexcept
// (../guarded.hpp).
PyObject* run_subscript(PyObject* self, PyObject* key) {
  return guarded([&]() -> PyObject* {
    const auto reader = open_reader(self);
    if (!reader) return nullptr;
    const std::size_t scans = reader->scans().records.size();
    if (PySlice_Check(key)) {
      Py_ssize_t start = 0;
      Py_ssize_t stop = 0;
      Py_ssize_t step = 0;
      if (PySlice_Unpack(key, &start, &stop, &step) < 0) return nullptr;
      const Py_ssize_t count =
          PySlice_AdjustIndices(static_cast<Py_ssize_t>(scans), &start, &stop, step);
      std::vector<std::size_t> positions;
      positions.reserve(static_cast<std::size_t>(count));
      for (Py_ssize_t k = 0; k < count; ++k) {
        positions.push_back(static_cast<std::size_t>(start + k * step));
      }
      return spectrum_list(reader, std::move(positions));
    }
    if (!is_scalar(key)) {
      auto positions = positions_of(key, scans, "Run[]");
      if (!positions) return nullptr;
      return spectrum_list(reader, std::move(*positions));
    }
    const auto at = position_of(key, scans, "Run[]");
    if (!at) return nullptr;
    const std::size_t position = *at;
    auto spectrum = without_gil("Run.__getitem__", [&] { return reader->read_spectrum(position); });
    return make_spectrum(std::move(spectrum), *reader);
  });
}

constexpr const char* kSpectrumNames[] = {"i", "peaks"};

// Run.spectrum(i, peaks="profile"): run[i] in a peak mode.
PyObject* run_spectrum(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    constexpr const char* kMember = "Run.spectrum()";
    PyObject* bound[2];
    if (!bind_arguments({kMember, kSpectrumNames, 1}, args, nargs, kwnames, bound)) return nullptr;
    const auto mode = peak_mode_of(bound[1], kMember);
    if (!mode) return nullptr;
    const auto reader = open_reader(self);
    if (!reader) return nullptr;
    const auto at = position_of(bound[0], reader->scans().records.size(), kMember, "i");
    if (!at) return nullptr;
    const std::size_t position = *at;
    auto spectrum = without_gil("Run.spectrum()",
                                [&] { return analysis::read_scan(*reader, position, *mode); });
    return make_spectrum(std::move(spectrum), *reader);
  });
}

// The bound arguments of spectra() and peaks(): the reader, the scans, the
// threads and the peak mode.
struct Request {
  std::shared_ptr<const Reader> reader;
  std::vector<std::size_t> positions;
  unsigned threads;
  analysis::PeakMode mode;
};

constexpr const char* kSelectionNames[] = {"ms_level", "rt", "threads", "index", "peaks"};

std::optional<Request> bind_request(PyObject* self, const char* member, PyObject* const* args,
                                    Py_ssize_t nargs, PyObject* kwnames) {
  PyObject* bound[5];
  if (!bind_arguments({member, kSelectionNames, 0}, args, nargs, kwnames, bound)) {
    return std::nullopt;
  }
  auto reader = open_reader(self);
  if (!reader) return std::nullopt;
  const auto selection = selection_of(bound[0], bound[1], member);
  if (!selection) return std::nullopt;
  const auto threads = threads_of(bound[2], member);
  if (!threads) return std::nullopt;
  const auto mode = peak_mode_of(bound[4], member);
  if (!mode) return std::nullopt;
  std::vector<std::size_t> selected = analysis::select_positions(reader->scans(), *selection);
  if (bound[3] && bound[3] != Py_None) {
    // The positions given, in their order, that the selection keeps.
    auto index = positions_of(bound[3], reader->scans().records.size(), member);
    if (!index) return std::nullopt;
    std::vector<bool> kept(reader->scans().records.size(), false);
    for (const std::size_t position : selected) kept[position] = true;
    std::erase_if(*index, [&](std::size_t position) { return !kept[position]; });
    selected = std::move(*index);
  }
  return Request{std::move(reader), std::move(selected), *threads, *mode};
}

PyObject* run_spectra(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    auto request = bind_request(self, "Run.spectra()", args, nargs, kwnames);
    if (!request) return nullptr;
    return make_spectrum_iterator(std::move(request->reader), std::move(request->positions),
                                  request->threads, request->mode);
  });
}

PyObject* run_peaks(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    auto request = bind_request(self, "Run.peaks()", args, nargs, kwnames);
    if (!request) return nullptr;
    const auto reader = request->reader;
    constexpr LockRelease kPeaks("Run.peaks()");
    auto gathering = without_gil(kPeaks, [&] {
      return std::make_unique<analysis::PeakGathering>(*reader, request->positions,
                                                       request->threads, request->mode);
    });
    const bool done = wait_interruptibly(
        kPeaks, [&](std::chrono::milliseconds timeout) { return gathering->wait_for(timeout); });
    if (!done) {
      // The workers stop within one scan's read each.
      gathering->cancel();
      (void)without_gil(kPeaks, [&] {
        gathering.reset();
        return true;
      });
      return nullptr;
    }
    auto flat = without_gil(kPeaks, [&] { return gathering->finish(); });
    return make_peaks(std::move(flat), std::move(request->positions), *reader);
  });
}

constexpr const char* kScansFrameNames[] = {"totals"};

PyObject* run_scans_frame(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                          PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[1];
    if (!bind_arguments({"Run.scans_frame()", kScansFrameNames, 0}, args, nargs, kwnames, bound)) {
      return nullptr;
    }
    const int totals = bound[0] ? PyObject_IsTrue(bound[0]) : 0;
    if (totals < 0) return nullptr;
    const auto reader = open_reader(self);
    if (!reader) return nullptr;
    constexpr LockRelease kScansFrame("Run.scans_frame()");
    const PyRef pandas = PyRef::steal(import_for(kScansFrame, "pandas"));
    if (!pandas) return nullptr;
    const PyRef numpy = PyRef::steal(import_for(kScansFrame, "numpy"));
    if (!numpy) return nullptr;
    PyObject* columns = columns_of(self);
    if (!columns) return nullptr;
    const PyRef frame_columns = PyRef::steal(PyDict_New());
    if (!frame_columns) return nullptr;
    Py_ssize_t position = 0;
    PyObject* name = nullptr;
    PyObject* column = nullptr;
    while (PyDict_Next(columns, &position, &name, &column)) {
      const PyRef values = PyRef::steal(PyObject_CallMethod(numpy.get(), "asarray", "O", column));
      if (!values || PyDict_SetItem(frame_columns.get(), name, values.get()) < 0) return nullptr;
    }
    if (totals && !add_totals_columns(*reader, numpy.get(), frame_columns.get())) {
      return nullptr;
    }
    return PyObject_CallMethod(pandas.get(), "DataFrame", "O", frame_columns.get());
  });
}

PyObject* run_repr(PyObject* self) noexcept {
  return guarded([&]() -> PyObject* {
    const RunData& data = data_of(self);
    const PyRef path = PyRef::steal(native_text(data.path));
    if (!path) return nullptr;
    if (!data.reader) return PyUnicode_FromFormat("Run(%R, closed)", path.get());
    return PyUnicode_FromFormat("Run(%R, %zu scans)", path.get(),
                                data.reader->scans().records.size());
  });
}

// close(): drops the run's reader. Spectra, arrays and iterators handed out
// keep what they need; the run itself raises ValueError from then on.
void close_run(LockRelease member, PyObject* self) {
  RunData& data = data_of(self);
  // Dropped outside the struct: the last reference may run a destructor
  // that takes time, and the run must already read as closed.
  std::shared_ptr<const Reader> reader = std::move(data.reader);
  (void)without_gil(member, [&] {
    reader.reset();
    return true;
  });
}

PyObject* run_close(PyObject* self, PyObject* /*unused*/) {
  return guarded([&]() -> PyObject* {
    close_run("Run.close()", self);
    Py_RETURN_NONE;
  });
}

PyObject* run_enter(PyObject* self, PyObject* /*unused*/) noexcept {
  return guarded([&]() -> PyObject* {
    if (!open_reader(self)) return nullptr;
    return new_reference(self);
  });
}

PyObject* run_exit(PyObject* self, PyObject* const* /*args*/, Py_ssize_t /*nargs*/) {
  return guarded([&]() -> PyObject* {
    close_run("Run.__exit__()", self);
    Py_RETURN_FALSE;
  });
}

// iter(run): every spectrum in order, as spectra() gives them.
PyObject* run_iter(PyObject* self) noexcept {
  return guarded([&]() -> PyObject* {
    auto reader = open_reader(self);
    if (!reader) return nullptr;
    std::vector<std::size_t> positions(reader->scans().records.size());
    for (std::size_t i = 0; i < positions.size(); ++i) positions[i] = i;
    return make_spectrum_iterator(std::move(reader), std::move(positions),
                                  analysis::default_threads());
  });
}

// Pickled as open(path, transitions): the process that loads it opens the
// dataset again. A closed run does not pickle.
PyObject* run_reduce(PyObject* self, PyObject* /*unused*/) {
  return guarded([&]() -> PyObject* {
    if (!open_reader(self)) return nullptr;
    const RunData& data = data_of(self);
    const PyRef module = PyRef::steal(PyImport_ImportModule("velmoran_arrays"));
    const PyRef open =
        module ? PyRef::steal(PyObject_GetAttrString(module.get(), "open")) : PyRef();
    if (!open) return nullptr;
    const PyRef path = PyRef::steal(native_text(data.absolute_path));
    if (!path) return nullptr;
    const PyRef transitions = data.transitions_path
                                  ? PyRef::steal(native_text(*data.transitions_path))
                                  : PyRef::incref(Py_None);
    if (!transitions) return nullptr;
    return Py_BuildValue("(O(OO))", open.get(), path.get(), transitions.get());
  });
}

PyObject* run_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
  return PyErr_Format(PyExc_TypeError,
                      "cannot create 'velmoran_arrays.Run' instances; use velmoran_arrays.open()");
}

PyGetSetDef run_getset[] = {
    {"path", get_path, nullptr, "The path given to open().", nullptr},
    {"closed", get_closed, nullptr, "True once close() (or leaving a with block) closed it.",
     nullptr},
    {"name", get_name, nullptr, "The dataset's name.", nullptr},
    {"record_length", get_record_length, nullptr, "Bytes per scan table record.", nullptr},
    {"scans", get_scans, nullptr, "The scan table: a dict of equal-length Array columns.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

PyObject* run_qc(PyObject* self, PyObject*) {
  return guarded([&]() -> PyObject* {
    const auto reader = open_reader(self);
    return reader ? run_quality_metrics(*reader) : nullptr;
  });
}

PyMethodDef run_methods[] = {
    {"spectra", as_method(run_spectra), METH_FASTCALL | METH_KEYWORDS,
     "spectra($self, ms_level=None, rt=None, threads=None, index=None, peaks='profile')\n--\n\n"
     "Spectra of the selected scans in table order, decoded ahead on worker threads."},
    {"peaks", as_method(run_peaks), METH_FASTCALL | METH_KEYWORDS,
     "peaks($self, ms_level=None, rt=None, threads=None, index=None, peaks='profile')\n--\n\n"
     "Every selected spectrum at once, in flat arrays (a Peaks)."},
    {"qc", run_qc, METH_NOARGS,
     "qc($self, /)\n--\n\nThe run's quality metrics, keyed by PSI-MS accession (docs/qc.md)."},
    {"channels", as_method(run_channels), METH_FASTCALL | METH_KEYWORDS,
     "channels($self, threads=None)\n--\n\n"
     "An MRM run's chromatograms: a dict from channel to Chromatogram."},
    {"transitions", as_method(run_transitions), METH_FASTCALL | METH_KEYWORDS,
     "transitions($self, path)\n--\n\n"
     "Reads a transition list (CSV or TSV) for channels(); returns its number of rows."},
    {"scans_frame", as_method(run_scans_frame), METH_FASTCALL | METH_KEYWORDS,
     "scans_frame($self, totals=False)\n--\n\n"
     "The scan table as a pandas DataFrame; totals=True adds tic, base_peak_mz, "
     "base_peak_intensity and centroided, computed on every core."},
    {"spectrum", as_method(run_spectrum), METH_FASTCALL | METH_KEYWORDS,
     "spectrum($self, i, peaks='profile')\n--\n\n"
     "The spectrum of scan i (as run[i]) in a peak mode: profile, centroid or picked."},
    {"xic", as_method(run_xic), METH_FASTCALL | METH_KEYWORDS,
     "xic($self, mz, ppm=None, da=None, rt=None, ms_level=1, threads=None)\n--\n\n"
     "Extracted ion chromatograms of the targets mz: the sums of velmoran xic (an Xic)."},
    {"tic", as_method(run_tic), METH_FASTCALL | METH_KEYWORDS,
     "tic($self, ms_level=1, threads=None)\n--\n\n"
     "The total ion current of every scan of the level (a Chromatogram)."},
    {"bpc", as_method(run_bpc), METH_FASTCALL | METH_KEYWORDS,
     "bpc($self, ms_level=1, threads=None)\n--\n\n"
     "The base peak of every scan of the level (a Chromatogram with mz)."},
    {"close", run_close, METH_NOARGS,
     "close($self, /)\n--\n\nCloses the run; what it handed out stays valid."},
    {"__enter__", run_enter, METH_NOARGS, nullptr},
    {"__exit__", as_method(run_exit), METH_FASTCALL, nullptr},
    {"__reduce__", run_reduce, METH_NOARGS, nullptr},
    {nullptr, nullptr, 0, nullptr},  // sentinel
};

constexpr const char* kOpenNames[] = {"path", "transitions"};

}  // namespace

PyTypeObject* run_type() noexcept {
  static PyTypeObject* type = nullptr;
  return object_type<RunData>(
      type, "velmoran_arrays.Run",
      {{Py_tp_doc, const_cast<char*>("An opened dataset; made by velmoran_arrays.open(path).")},
       {Py_tp_new, reinterpret_cast<void*>(run_new)},
       {Py_tp_iter, reinterpret_cast<void*>(run_iter)},
       {Py_tp_repr, reinterpret_cast<void*>(run_repr)},
       {Py_tp_getset, run_getset},
       {Py_tp_methods, run_methods},
       {Py_mp_length, reinterpret_cast<void*>(run_length)},
       {Py_mp_subscript, reinterpret_cast<void*>(run_subscript)}});
}

PyObject* open_run(PyObject* /*module*/, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    PyObject* bound[2];
    if (!bind_arguments({"open()", kOpenNames, 1}, args, nargs, kwnames, bound)) return nullptr;
    std::shared_ptr<const mrm::TransitionList> transitions;
    std::optional<std::string> transitions_path;
    if (bound[1] && bound[1] != Py_None) {
      auto list = load_transition_list("open(transitions=)", bound[1]);
      if (!list) return nullptr;
      transitions = std::move(*list);
      transitions_path = fs_path(bound[1]);
      if (!transitions_path) return nullptr;
      transitions_path = absolute_text(*transitions_path);
    }
    const auto text = fs_path(bound[0]);
    if (!text) return nullptr;
    const std::filesystem::path path(*text);
    auto reader = without_gil("open()", [&] { return Reader::open(path); });
    if (!reader) return raise_open_error(reader.error(), path);
    auto shared = std::make_shared<const Reader>(std::move(reader).value());
    std::string absolute = absolute_text(*text);
    return make_object(run_type(),
                       RunData{std::move(shared), PyRef(), std::move(transitions), std::move(*text),
                               std::move(absolute), std::move(transitions_path)});
  });
}

std::shared_ptr<const Reader> run_reader(PyObject* run) noexcept { return open_reader(run); }

std::shared_ptr<const mrm::TransitionList> run_transition_list(PyObject* run) noexcept {
  return data_of(run).transitions;
}

void set_run_transition_list(PyObject* run, std::shared_ptr<const mrm::TransitionList> list,
                             std::optional<std::string> path) {
  data_of(run).transitions = std::move(list);
  data_of(run).transitions_path = path ? std::optional(absolute_text(*path)) : std::nullopt;
}

}  // namespace velmoran::python::arrays
