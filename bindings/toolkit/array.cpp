// The Array type: a read-only buffer over memory it owns (array.hpp shows
// it in Python terms). A view holds a reference to the Array, so the memory
// lives as long as any view of it.
#include "array.hpp"

#include <memory>

#include "guarded.hpp"

namespace velmoran::python {

namespace {

struct ArrayData {
  ArrayMemory memory;
  // What views point their shape, strides and format at: they must live as
  // long as the object, not the call.
  Py_ssize_t shape[2];
  Py_ssize_t strides[2];
  int ndim;
  Py_ssize_t itemsize;
  char format[2];
};

struct ArrayObject {
  PyObject_HEAD
  ArrayData data;
  Py_ssize_t exports;
};

ArrayObject* object_of(PyObject* self) noexcept { return reinterpret_cast<ArrayObject*>(self); }

// An empty array still hands out a valid pointer, as the buffer protocol
// asks.
const char kEmpty[1] = {0};

int array_getbuffer(PyObject* self, Py_buffer* view, int flags) noexcept {
  if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) {
    view->obj = nullptr;
    PyErr_SetString(PyExc_BufferError, "velmoran_arrays.Array is read-only");
    return -1;
  }
  ArrayObject* array = object_of(self);
  const ArrayData& data = array->data;
  view->buf = const_cast<void*>(data.memory.data ? data.memory.data : kEmpty);
  view->obj = self;
  Py_INCREF(self);
  view->len = static_cast<Py_ssize_t>(data.memory.count) * data.itemsize;
  view->itemsize = data.itemsize;
  view->readonly = 1;
  // Without PyBUF_ND the consumer sees plain bytes, one dimension.
  view->ndim = (flags & PyBUF_ND) == PyBUF_ND ? data.ndim : 1;
  view->format = (flags & PyBUF_FORMAT) == PyBUF_FORMAT ? array->data.format : nullptr;
  view->shape = (flags & PyBUF_ND) == PyBUF_ND ? array->data.shape : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? array->data.strides : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  ++array->exports;
  return 0;
}

void array_releasebuffer(PyObject* self, Py_buffer* /*view*/) noexcept {
  --object_of(self)->exports;
}

Py_ssize_t array_length(PyObject* self) noexcept { return object_of(self)->data.shape[0]; }

PyObject* array_repr(PyObject* self) noexcept {
  const ArrayData& data = object_of(self)->data;
  if (data.ndim == 2) {
    return PyUnicode_FromFormat("Array('%s', %zd x %zd items)", data.format, data.shape[0],
                                data.shape[1]);
  }
  return PyUnicode_FromFormat("Array('%s', %zd items)", data.format, data.shape[0]);
}

PyObject* get_format(PyObject* self, void* /*closure*/) noexcept {
  return PyUnicode_FromString(object_of(self)->data.format);
}

void array_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&object_of(self)->data);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* array_new(PyTypeObject* /*type*/, PyObject* /*args*/, PyObject* /*kwargs*/) noexcept {
  return PyErr_Format(PyExc_TypeError, "cannot create 'velmoran_arrays.Array' instances");
}

PyGetSetDef array_getset[] = {
    {"format", get_format, nullptr, "The buffer format character of the items.", nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

PyType_Slot array_slots[] = {
    {Py_tp_doc, const_cast<char*>("A read-only array that shares its memory through the buffer "
                                  "protocol (memoryview, numpy.asarray).")},
    {Py_tp_new, reinterpret_cast<void*>(array_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(array_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(array_repr)},
    {Py_tp_getset, array_getset},
    {Py_sq_length, reinterpret_cast<void*>(array_length)},
    {Py_bf_getbuffer, reinterpret_cast<void*>(array_getbuffer)},
    {Py_bf_releasebuffer, reinterpret_cast<void*>(array_releasebuffer)},
    {0, nullptr},  // sentinel
};

PyType_Spec array_spec = {
    .name = "velmoran_arrays.Array",
    .basicsize = static_cast<int>(sizeof(ArrayObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = array_slots,
};

}  // namespace

PyTypeObject* array_type() noexcept {
  // Made once; a module executed again gets the same type object.
  static PyTypeObject* type = nullptr;
  if (!type) type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&array_spec));
  return type;
}

PyObject* make_array(ArrayMemory memory, char format, std::size_t itemsize, int ndim,
                     std::array<std::size_t, 2> shape) {
  PyTypeObject* type = array_type();
  if (!type) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  const auto size = static_cast<Py_ssize_t>(itemsize);
  ArrayData data{std::move(memory), {static_cast<Py_ssize_t>(shape[0]), 0}, {size, 0}, 1, size,
                 {format, '\0'}};
  if (ndim == 2) {
    data.ndim = 2;
    data.shape[1] = static_cast<Py_ssize_t>(shape[1]);
    data.strides[0] = data.shape[1] * size;
    data.strides[1] = size;
  }
  std::construct_at(&object_of(self)->data, std::move(data));
  object_of(self)->exports = 0;
  return self;
}

}  // namespace velmoran::python
