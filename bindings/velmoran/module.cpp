// velmoran, in Python terms:
//
//   """"""                                  # __doc__ is the empty string
//   from builtins import RawReader, Spectrum   # types named builtins.*
//   __all__ = ["RawReader", "Spectrum"]
//
// Multi-phase initialisation with one execution step, no module state and
// no module functions. The type objects live for the whole process and are
// shared by every execution of the module.
#include <Python.h>

#include "../toolkit/errors.hpp"
#include "../toolkit/py_ref.hpp"
#include "raw_reader.hpp"
#include "spectrum.hpp"

namespace velmoran::python {

namespace {

// The module's __all__ list (borrowed), made empty if there is none yet.
PyObject* all_list(PyObject* module) {
  PyObject* dict = PyModule_GetDict(module);
  const PyRef key = PyRef::steal(PyUnicode_InternFromString("__all__"));
  if (!key) return nullptr;
  PyObject* all = PyDict_GetItemWithError(dict, key.get());
  if (!all) {
    if (PyErr_Occurred()) return nullptr;
    const PyRef created = PyRef::steal(PyList_New(0));
    if (!created || PyDict_SetItem(dict, key.get(), created.get()) < 0) return nullptr;
    all = created.get();  // the module's dictionary keeps it alive
  }
  if (!PyList_Check(all)) {
    PyErr_SetString(PyExc_TypeError, "velmoran.__all__ must be a list");
    return nullptr;
  }
  return all;
}

// Lists `name` in __all__ (once, also when the module is executed again)
// and sets the module attribute of the type's own name, `name`, to it.
int add_class(PyObject* module, PyTypeObject* type, const char* name) {
  if (!type) return -1;
  PyObject* all = all_list(module);
  if (!all) return -1;
  const PyRef text = PyRef::steal(PyUnicode_FromString(name));
  if (!text) return -1;
  const int listed = PySequence_Contains(all, text.get());
  if (listed < 0) return -1;
  if (!listed && PyList_Append(all, text.get()) < 0) return -1;
  return PyModule_AddType(module, type);
}

int exec_module(PyObject* module) noexcept {
  return guarded([&]() -> int {
    if (add_class(module, raw_reader_type(), "RawReader") < 0) return -1;
    if (add_class(module, spectrum_type(), "Spectrum") < 0) return -1;
    return 0;
  });
}

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(exec_module)},  // registers the classes
    {0, nullptr},                                         // sentinel
};

PyModuleDef module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "velmoran",
    .m_doc = "",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = module_slots,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

}  // namespace

}  // namespace velmoran::python

PyMODINIT_FUNC PyInit_velmoran() { return PyModuleDef_Init(&velmoran::python::module_def); }
