// Run.xic(), Run.tic() and Run.bpc() (run_chromatograms.hpp shows them in
// Python terms): the sums come from the analysis library's functions that
// the xic and scans commands use, read on worker threads without the lock.
#include "run_chromatograms.hpp"

#include <cmath>
#include <cstdint>
#include <limits>
#include <numeric>
#include <optional>
#include <utility>
#include <vector>

#include <velmoran/analysis/window_sums.hpp>
#include <velmoran/analysis/xic_matrix.hpp>
#include <velmoran/representation.hpp>

#include "../toolkit/array.hpp"
#include "../toolkit/guarded.hpp"
#include "../toolkit/py_ref.hpp"
#include "arguments.hpp"
#include "../toolkit/background_work.hpp"
#include "chromatogram.hpp"
#include <velmoran/analysis/thread_count.hpp>
#include "run.hpp"
#include "xic.hpp"

namespace velmoran::python::arrays {

namespace {

// The targets: one number or a collection of them (the toolkit's rules),
// each finite and above 0; nullopt with the exception set.
std::optional<std::vector<double>> targets_of(PyObject* value, const char* member) {
  std::vector<double> targets;
  const auto add = [&](PyObject* item) {
    const auto mz = real_argument(item, member, "mz");
    if (!mz) return false;
    if (!std::isfinite(*mz) || !(*mz > 0.0)) {
      PyErr_Format(PyExc_ValueError, "%s: mz must be positive finite numbers, not %R", member,
                   item);
      return false;
    }
    targets.push_back(*mz);
    return true;
  };
  // A scalar (a float, an int, a numpy scalar or 0-d array) is one target.
  if (is_scalar(value)) {
    if (!add(value)) return std::nullopt;
    return targets;
  }
  const PyRef items = PyRef::steal(collection_argument(value, member, "mz"));
  if (!items) return std::nullopt;
  const Py_ssize_t count = PyList_GET_SIZE(items.get());
  targets.reserve(static_cast<std::size_t>(count));
  for (Py_ssize_t i = 0; i < count; ++i) {
    if (!add(PyList_GET_ITEM(items.get(), i))) return std::nullopt;
  }
  return targets;
}

// One MS level: an integer (the toolkit's rules) of at least 1.
std::optional<std::uint32_t> level_of(PyObject* value, const char* member) {
  if (!value || value == Py_None) return 1;
  const auto level = integer_argument(value, member, "ms_level");
  if (!level) return std::nullopt;
  if (*level < 1 || *level > std::numeric_limits<std::uint32_t>::max()) {
    PyErr_Format(PyExc_ValueError, "%s: ms_level must be at least 1 (and below 2**32), not %R",
                 member, value);
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(*level);
}

// The scans of one level within rt (as spectra() reads rt).
std::optional<analysis::ScanSelection> scans_of(PyObject* ms_level, PyObject* rt,
                                                const char* member) {
  const auto level = level_of(ms_level, member);
  if (!level) return std::nullopt;
  auto selection = selection_of(nullptr, rt, member);
  if (!selection) return std::nullopt;
  selection->levels = std::vector<analysis::LevelRange>{{*level, *level}};
  return selection;
}

constexpr const char* kXicNames[] = {"mz", "ppm", "da", "rt", "ms_level", "threads"};

}  // namespace

PyObject* run_xic(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    constexpr const char* kMember = "Run.xic()";
    PyObject* bound[6];
    if (!bind_arguments({kMember, kXicNames, 1}, args, nargs, kwnames, bound)) return nullptr;
    auto targets = targets_of(bound[0], kMember);
    if (!targets) return nullptr;
    const bool has_ppm = bound[1] && bound[1] != Py_None;
    const bool has_da = bound[2] && bound[2] != Py_None;
    if (has_ppm == has_da) {
      PyErr_Format(PyExc_TypeError, "%s: give the m/z tolerance as ppm= or as da=, %s", kMember,
                   has_ppm ? "not both" : "neither was given");
      return nullptr;
    }
    const analysis::ToleranceUnit unit =
        has_ppm ? analysis::ToleranceUnit::ppm : analysis::ToleranceUnit::da;
    const auto tolerance =
        real_argument(has_ppm ? bound[1] : bound[2], kMember, has_ppm ? "ppm" : "da");
    if (!tolerance) return nullptr;
    if (!analysis::valid_tolerance(unit, *tolerance)) {
      return PyErr_Format(PyExc_ValueError,
                          has_ppm ? "%s: ppm must be a number above 0 and at most 1e6, not %R"
                                  : "%s: da must be a positive finite number, not %R",
                          kMember, has_ppm ? bound[1] : bound[2]);
    }
    const auto scans = scans_of(bound[4], bound[3], kMember);
    if (!scans) return nullptr;
    const auto threads = threads_of(bound[5], kMember);
    if (!threads) return nullptr;
    auto windows = analysis::target_windows(*targets, unit, *tolerance);
    if (windows.unbounded) {
      return PyErr_Format(PyExc_ValueError,
                          "%s: the window around m/z %R reaches past the largest number", kMember,
                          PyRef::steal(PyFloat_FromDouble((*targets)[*windows.unbounded])).get());
    }

    const std::shared_ptr<const Reader> reader = run_reader(self);
    if (!reader) return nullptr;  // a closed run
    std::vector<std::size_t> positions = analysis::select_positions(reader->scans(), *scans);
    const analysis::WindowSums window_sums(windows.windows);
    auto matrix = in_background("Run.xic()", [&](const std::atomic<bool>& stop) {
      return analysis::xic_matrix(*reader, window_sums, positions, *threads, stop);
    });
    if (!matrix) return nullptr;
    return make_xic(std::move(*targets), std::move(positions), std::move(matrix->rt_sec),
                    std::move(matrix->intensity));
  });
}

namespace {

constexpr const char* kTraceNames[] = {"ms_level", "threads"};

// Run.tic() and Run.bpc(): the totals of every scan of the level.
PyObject* trace(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                bool base_peak) {
  const char* const member = base_peak ? "Run.bpc()" : "Run.tic()";
  PyObject* bound[2];
  if (!bind_arguments({member, kTraceNames, 0}, args, nargs, kwnames, bound)) return nullptr;
  const auto scans = scans_of(bound[0], nullptr, member);
  if (!scans) return nullptr;
  const auto threads = threads_of(bound[1], member);
  if (!threads) return nullptr;
  const std::shared_ptr<const Reader> reader = run_reader(self);
  if (!reader) return nullptr;  // a closed run
  std::vector<std::size_t> positions = analysis::select_positions(reader->scans(), *scans);
  const LockRelease releasing = base_peak ? LockRelease("Run.bpc()") : LockRelease("Run.tic()");
  auto totals = in_background(releasing, [&](const std::atomic<bool>& stop) {
    return analysis::scan_totals(*reader, positions, *threads, stop);
  });
  if (!totals) return nullptr;
  std::vector<double> rt_sec;
  std::vector<double> intensity;
  std::vector<double> mz;
  rt_sec.reserve(positions.size());
  intensity.reserve(positions.size());
  if (base_peak) mz.reserve(positions.size());
  for (std::size_t k = 0; k < positions.size(); ++k) {
    rt_sec.push_back(raw::retention_time_sec(reader->scans().records[positions[k]]));
    const analysis::ScanTotals& scan = (*totals)[k];
    if (base_peak) {
      intensity.push_back(static_cast<double>(scan.base_peak_intensity));
      mz.push_back(scan.base_peak_mz);
    } else {
      intensity.push_back(scan.total_ion_current);
    }
  }
  return make_trace_chromatogram(base_peak ? TraceKind::kBasePeak : TraceKind::kTotalIonCurrent,
                                 std::move(positions), std::move(rt_sec), std::move(intensity),
                                 base_peak ? std::optional(std::move(mz)) : std::nullopt);
}

}  // namespace

PyObject* run_tic(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] { return trace(self, args, nargs, kwnames, false); });
}

PyObject* run_bpc(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&] { return trace(self, args, nargs, kwnames, true); });
}

bool add_totals_columns(const Reader& reader, PyObject* numpy, PyObject* columns) {
  std::vector<std::size_t> positions(reader.scans().records.size());
  std::iota(positions.begin(), positions.end(), std::size_t{0});
  const unsigned threads = analysis::default_threads();
  auto totals = in_background("Run.scans_frame()", [&](const std::atomic<bool>& stop) {
    return analysis::scan_totals(reader, positions, threads, stop);
  });
  if (!totals) return false;
  std::vector<double> tic;
  std::vector<double> base_peak_mz;
  std::vector<float> base_peak_intensity;
  std::vector<std::uint8_t> centroided;
  for (const analysis::ScanTotals& scan : *totals) {
    tic.push_back(scan.total_ion_current);
    base_peak_mz.push_back(scan.base_peak_mz);
    base_peak_intensity.push_back(scan.base_peak_intensity);
    centroided.push_back(scan.representation == Representation::centroid ? 1 : 0);
  }
  const auto add = [&](const char* name, PyObject* array, const char* dtype) {
    const PyRef owned = PyRef::steal(array);
    if (!owned) return false;
    const PyRef values =
        PyRef::steal(PyObject_CallMethod(numpy, "asarray", "Os", owned.get(), dtype));
    return values && PyDict_SetItemString(columns, name, values.get()) == 0;
  };
  return add("tic", make_array<double>(adopt(std::move(tic))), "float64") &&
         add("base_peak_mz", make_array<double>(adopt(std::move(base_peak_mz))), "float64") &&
         add("base_peak_intensity", make_array<float>(adopt(std::move(base_peak_intensity))),
             "float32") &&
         add("centroided", make_array<std::uint8_t>(adopt(std::move(centroided))), "bool");
}

}  // namespace velmoran::python::arrays
