// class Run:   (the members of run.hpp that trace the run over time)
//     def xic(self, mz, ppm=None, da=None, rt=None, ms_level=1, threads=None) -> Xic
//         # mz: a number or an iterable of numbers (the targets, each > 0);
//         # exactly one of ppm (0 < ppm <= 1e6) and da (> 0); rt as in
//         # spectra(); ms_level: one level, at least 1. The sums of
//         # `velmoran xic` with the same arguments, from the same code.
//         # TypeError: neither or both of ppm and da, wrong types;
//         # ValueError: a target, tolerance or level out of range.
//     def tic(self, ms_level=1, threads=None) -> Chromatogram
//     def bpc(self, ms_level=1, threads=None) -> Chromatogram   # adds mz
//         # every scan of the level, in table order: the total ion current
//         # and the base peak of its spectrum (an empty one: 0, 0 and NaN)
#pragma once

#include <Python.h>

#include <optional>
#include <vector>

#include <velmoran/analysis/scan_totals.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::python::arrays {

PyObject* run_xic(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* run_tic(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);
PyObject* run_bpc(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

// scans_frame(totals=True): adds the columns tic, base_peak_mz,
// base_peak_intensity and centroided (numpy arrays) to `columns`, the
// totals of every scan read on every core the process may use. False with
// the exception set (KeyboardInterrupt).
[[nodiscard]] bool add_totals_columns(const Reader& reader, PyObject* numpy, PyObject* columns);

}  // namespace velmoran::python::arrays
