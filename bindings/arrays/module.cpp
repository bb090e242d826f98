// velmoran_arrays, in Python terms:
//
//   """Acquisition datasets as arrays for data work."""
//   def open(path, transitions=None) -> Run   # str, bytes or os.PathLike
//   class Run, Spectrum, Peaks, Array, Chromatogram, Xic   # made only by this module
//   class FormatError(ValueError)
//   __all__ = ["open", "Run", "Spectrum", "Peaks", "Array", "FormatError", "Chromatogram", "Xic"]
//   _lock_releasing: tuple[str, ...]   # ../toolkit/lock_release.hpp
//
// Multi-phase initialisation with one execution step and no module state.
// The type objects live for the whole process and are shared by every
// execution of the module.
#include <Python.h>

#include "../toolkit/arguments.hpp"
#include "../toolkit/guarded.hpp"
#include "../toolkit/lock_release.hpp"
#include "../toolkit/py_ref.hpp"
#include "../toolkit/array.hpp"
#include "chromatogram.hpp"
#include "xic.hpp"
#include "../toolkit/errors.hpp"
#include "peaks.hpp"
#include "run.hpp"
#include "spectrum.hpp"
#include "spectrum_iterator.hpp"

namespace velmoran::python::arrays {

using python::guarded;
using python::PyRef;

namespace {

int add_type(PyObject* module, PyTypeObject* type) {
  return type ? PyModule_AddType(module, type) : -1;
}

int exec_module(PyObject* module) noexcept {
  return guarded([&]() -> int {
    if (add_type(module, run_type()) < 0) return -1;
    if (add_type(module, spectrum_type()) < 0) return -1;
    if (add_type(module, peaks_type()) < 0) return -1;
    if (add_type(module, array_type()) < 0) return -1;
    if (add_type(module, chromatogram_type()) < 0) return -1;
    if (add_type(module, xic_type()) < 0) return -1;
    // Not listed in __all__: only Run.spectra() makes one.
    if (add_type(module, spectrum_iterator_type()) < 0) return -1;
    PyObject* format_error = format_error_type();
    if (!format_error) return -1;
    Py_INCREF(format_error);
    if (PyModule_AddObject(module, "FormatError", format_error) < 0) {
      Py_DECREF(format_error);
      return -1;
    }
    // The members that may give up the interpreter lock, for the tests.
    PyRef releasing = PyRef::steal(lock_releasing_names());
    if (!releasing || PyModule_AddObject(module, "_lock_releasing", releasing.get()) < 0) {
      return -1;
    }
    (void)releasing.release();  // the module holds it now
    PyRef all = PyRef::steal(Py_BuildValue("[ssssssss]", "open", "Run", "Spectrum", "Peaks",
                                           "Array", "FormatError", "Chromatogram", "Xic"));
    if (!all || PyModule_AddObject(module, "__all__", all.get()) < 0) return -1;
    (void)all.release();  // the module holds it now
    return 0;
  });
}

PyMethodDef module_methods[] = {
    {"open", as_method(open_run), METH_FASTCALL | METH_KEYWORDS,
     "open($module, path, transitions=None)\n--\n\n"
     "Opens the dataset at path (str, bytes or os.PathLike): reads its scan table only "
     "(and the transition list, when given)."},
    {nullptr, nullptr, 0, nullptr},  // sentinel
};

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},  // registers the classes
    {0, nullptr},                                         // sentinel
};

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "velmoran_arrays",
    .m_doc =
        "Acquisition datasets as arrays for data work: zero-copy buffers, every scan's "
        "metadata, lazy and parallel reading.",
    .m_size = 0,
    .m_methods = module_methods,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

}  // namespace velmoran::python::arrays

PyMODINIT_FUNC PyInit_velmoran_arrays() {
  return PyModuleDef_Init(&velmoran::python::arrays::module_def);
}
