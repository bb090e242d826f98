// The Xic type (xic.hpp shows it in Python terms): the extracted ion
// chromatograms of Run.xic(), its arrays owned by the Array objects it
// holds.
#include "xic.hpp"

#include <cstdint>
#include <memory>
#include <utility>

#include "../guarded.hpp"
#include "../py_ref.hpp"
#include "array.hpp"

namespace velmoran::arrays {

using python::guarded;
using python::PyRef;

namespace {

struct XicData {
  std::size_t targets = 0;
  std::size_t scans = 0;
  PyRef mz;
  PyRef index;
  PyRef rt_sec;
  PyRef intensity;
};

struct XicObject {
  PyObject_HEAD
  XicData data;
};

XicData& data_of(PyObject* self) noexcept { return reinterpret_cast<XicObject*>(self)->data; }

PyObject* new_reference(const PyRef& ref) noexcept { return PyRef::incref(ref.get()).release(); }

PyObject* get_mz(PyObject* self, void*) noexcept { return new_reference(data_of(self).mz); }
PyObject* get_index(PyObject* self, void*) noexcept { return new_reference(data_of(self).index); }
PyObject* get_rt_sec(PyObject* self, void*) noexcept { return new_reference(data_of(self).rt_sec); }
PyObject* get_intensity(PyObject* self, void*) noexcept {
  return new_reference(data_of(self).intensity);
}

Py_ssize_t xic_length(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(data_of(self).targets);
}

PyObject* xic_repr(PyObject* self) noexcept {
  const XicData& data = data_of(self);
  return PyUnicode_FromFormat("Xic(%zu targets, %zu scans)", data.targets, data.scans);
}

void xic_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&data_of(self));
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* xic_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
  return PyErr_Format(PyExc_TypeError,
                      "cannot create 'velmoran_arrays.Xic' instances; use Run.xic()");
}

PyGetSetDef xic_getset[] = {
    {"mz", get_mz, nullptr, "The target m/z values, in the order given (Array 'd').", nullptr},
    {"index", get_index, nullptr, "The scans' positions in the table (Array 'q').", nullptr},
    {"rt_sec", get_rt_sec, nullptr, "The scans' retention times in seconds (Array 'd').", nullptr},
    {"intensity", get_intensity, nullptr,
     "targets x scans sums of the intensities in each target's window (Array 'd').", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

PyType_Slot xic_slots[] = {
    {Py_tp_doc, const_cast<char*>("Extracted ion chromatograms; made by Run.xic().")},
    {Py_tp_new, reinterpret_cast<void*>(xic_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(xic_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(xic_repr)},
    {Py_tp_getset, xic_getset},
    {Py_mp_length, reinterpret_cast<void*>(xic_length)},
    {0, nullptr},  // sentinel
};

// No garbage-collector support: it holds Arrays only, which cannot lead
// back to it.
PyType_Spec xic_spec = {
    .name = "velmoran_arrays.Xic",
    .basicsize = static_cast<int>(sizeof(XicObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = xic_slots,
};

}  // namespace

PyTypeObject* xic_type() noexcept {
  // Made once; a module executed again gets the same type object.
  static PyTypeObject* type = nullptr;
  if (!type) type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&xic_spec));
  return type;
}

PyObject* make_xic(std::vector<double>&& targets, std::vector<std::size_t>&& positions,
                   std::vector<double>&& rt_sec, std::vector<double>&& intensity) {
  XicData data;
  data.targets = targets.size();
  data.scans = positions.size();
  data.mz = PyRef::steal(make_array<double>(adopt(std::move(targets))));
  if (!data.mz) return nullptr;
  std::vector<std::int64_t> index(positions.begin(), positions.end());
  data.index = PyRef::steal(make_array<std::int64_t>(adopt(std::move(index))));
  if (!data.index) return nullptr;
  data.rt_sec = PyRef::steal(make_array<double>(adopt(std::move(rt_sec))));
  if (!data.rt_sec) return nullptr;
  data.intensity = PyRef::steal(make_array<double>(adopt(std::move(intensity))));
  if (!data.intensity) return nullptr;

  PyTypeObject* type = xic_type();
  if (!type) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  std::construct_at(&data_of(self), std::move(data));
  return self;
}

}  // namespace velmoran::arrays
