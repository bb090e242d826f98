// import_for() and the published list of members that give up the lock
// (lock_release.hpp).
#include "lock_release.hpp"

#include <cstddef>
#include <iterator>

#include "errors.hpp"
#include "py_ref.hpp"

namespace velmoran::python {

PyObject* import_for(LockRelease member, const char* name) {
  PyObject* module = PyImport_ImportModule(name);
  if (module || !PyErr_ExceptionMatches(PyExc_ImportError)) return module;
  return raise_from(PyExc_ImportError, "%s needs %s, which is not installed", member.member(),
                    name);
}

PyObject* lock_releasing_names() {
  PyRef names = PyRef::steal(PyTuple_New(std::ssize(kLockReleasing)));
  if (!names) return nullptr;
  for (std::size_t k = 0; k < std::size(kLockReleasing); ++k) {
    const std::string_view name = kLockReleasing[k];
    PyObject* text = PyUnicode_FromStringAndSize(name.data(), std::ssize(name));
    if (!text) return nullptr;
    PyTuple_SET_ITEM(names.get(), static_cast<Py_ssize_t>(k), text);  // steals text
  }
  return names.release();
}

}  // namespace velmoran::python
