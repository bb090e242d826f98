// The Array type (array.hpp shows it in Python terms): a read-only view of
// memory that a shared owner keeps alive. Views made by indexing and
// slicing share the owner, so the memory lives as long as any of them.
#include "array.hpp"

#include <bit>
#include <cstring>
#include <memory>
#include <vector>

#include "arguments.hpp"
#include "guarded.hpp"
#include "lock_release.hpp"
#include "object.hpp"
#include "pickle.hpp"
#include "py_ref.hpp"

namespace velmoran::python {

namespace {

struct ArrayData {
  ArrayMemory memory;
  // What buffer views point their shape, strides and format at: they must
  // live as long as the object, not the call.
  Py_ssize_t shape[2];
  Py_ssize_t strides[2];
  int ndim;
  Py_ssize_t itemsize;
  char format[2];
  Py_ssize_t exports;
};

ArrayData& array_of(PyObject* self) noexcept { return data_of<ArrayData>(self); }

// An empty array still hands out a valid pointer, as the buffer protocol
// asks.
const char kEmpty[1] = {0};

const char* bytes_of(const ArrayData& data) noexcept {
  return data.memory.data ? static_cast<const char*>(data.memory.data) : kEmpty;
}

// Each item format: numpy's name of the type, its array-interface type
// string and its size. Any other format reads as bytes ('B').
struct ItemType {
  char format;
  const char* dtype;
  const char* type_string;
  std::size_t size;
};
constexpr bool kLittle = std::endian::native == std::endian::little;
constexpr ItemType kItemTypes[] = {
    {'d', "float64", kLittle ? "<f8" : ">f8", 8},
    {'f', "float32", kLittle ? "<f4" : ">f4", 4},
    {'q', "int64", kLittle ? "<i8" : ">i8", 8},
    {'B', "uint8", "|u1", 1},
};

const ItemType* find_item_type(char format) noexcept {
  for (const ItemType& type : kItemTypes) {
    if (type.format == format) return &type;
  }
  return nullptr;
}

const ItemType& item_type(char format) noexcept {
  const ItemType* type = find_item_type(format);
  return type ? *type : kItemTypes[3];
}

const char* dtype_name(char format) noexcept { return item_type(format).dtype; }

// The item of type T at `at`, which may be unaligned.
template <class T>
T load(const char* at) noexcept {
  T value;
  std::memcpy(&value, at, sizeof value);
  return value;
}

// The item at `at` as a Python float or int.
PyObject* item_object(char format, const char* at) noexcept {
  switch (format) {
    case 'd':
      return PyFloat_FromDouble(load<double>(at));
    case 'f':
      return PyFloat_FromDouble(static_cast<double>(load<float>(at)));
    case 'q':
      return PyLong_FromLongLong(load<std::int64_t>(at));
    default:
      return PyLong_FromUnsignedLong(load<std::uint8_t>(at));
  }
}

// A new Array over `count` items (rows, in 2-D) of `data` from item (row)
// `first` on: the same memory and owner.
PyObject* view_of(const ArrayData& data, Py_ssize_t first, Py_ssize_t count, int ndim) {
  const char* start = bytes_of(data) + first * data.strides[0];
  const auto columns = ndim == 2 ? static_cast<std::size_t>(data.shape[1]) : 0;
  const auto items = static_cast<std::size_t>(count) * (ndim == 2 ? columns : 1);
  return make_array({data.memory.owner, count > 0 ? start : nullptr, items}, data.format[0],
                    static_cast<std::size_t>(data.itemsize), ndim,
                    {static_cast<std::size_t>(count), columns});
}

// Row `i` of a 2-D array as a 1-D view.
PyObject* row_of(const ArrayData& data, Py_ssize_t i) {
  const auto columns = static_cast<std::size_t>(data.shape[1]);
  return make_array({data.memory.owner, bytes_of(data) + i * data.strides[0], columns},
                    data.format[0], static_cast<std::size_t>(data.itemsize), 1, {columns, 0});
}

// Item (row) `i`, already within range.
PyObject* element(const ArrayData& data, Py_ssize_t i) {
  if (data.ndim == 2) return row_of(data, i);
  return item_object(data.format[0], bytes_of(data) + i * data.itemsize);
}

int array_getbuffer(PyObject* self, Py_buffer* view, int flags) noexcept {
  if ((flags & PyBUF_WRITABLE) == PyBUF_WRITABLE) {
    view->obj = nullptr;
    PyErr_SetString(PyExc_BufferError, "velmoran_arrays.Array is read-only");
    return -1;
  }
  ArrayData& data = array_of(self);
  view->buf = const_cast<char*>(bytes_of(data));
  view->obj = self;
  Py_INCREF(self);
  view->len = static_cast<Py_ssize_t>(data.memory.count) * data.itemsize;
  view->itemsize = data.itemsize;
  view->readonly = 1;
  // Without PyBUF_ND the consumer sees plain bytes, one dimension.
  view->ndim = (flags & PyBUF_ND) == PyBUF_ND ? data.ndim : 1;
  view->format = (flags & PyBUF_FORMAT) == PyBUF_FORMAT ? data.format : nullptr;
  view->shape = (flags & PyBUF_ND) == PyBUF_ND ? data.shape : nullptr;
  view->strides = (flags & PyBUF_STRIDES) == PyBUF_STRIDES ? data.strides : nullptr;
  view->suboffsets = nullptr;
  view->internal = nullptr;
  ++data.exports;
  return 0;
}

void array_releasebuffer(PyObject* self, Py_buffer* /*view*/) noexcept { --array_of(self).exports; }

Py_ssize_t array_length(PyObject* self) noexcept { return array_of(self).shape[0]; }

// sq_item: PySequence_GetItem has added the length to a negative index;
// iteration (PySeqIter) stops at the IndexError past the end.
PyObject* array_item(PyObject* self, Py_ssize_t i) noexcept {
  return guarded([&]() -> PyObject* {
    const ArrayData& data = array_of(self);
    if (i < 0 || i >= data.shape[0]) {
      PyErr_SetString(PyExc_IndexError, "Array index out of range");
      return nullptr;
    }
    return element(data, i);
  });
}

// The items (rows) start, start + step, ... as a new Array that owns them.
PyObject* strided_copy(const ArrayData& data, Py_ssize_t start, Py_ssize_t step, Py_ssize_t count) {
  const Py_ssize_t row_bytes = data.strides[0];
  std::vector<char> bytes(static_cast<std::size_t>(count * row_bytes));
  for (Py_ssize_t k = 0; k < count; ++k) {
    std::memcpy(bytes.data() + k * row_bytes, bytes_of(data) + (start + k * step) * row_bytes,
                static_cast<std::size_t>(row_bytes));
  }
  const auto columns = data.ndim == 2 ? static_cast<std::size_t>(data.shape[1]) : 0;
  const std::size_t items = static_cast<std::size_t>(count) * (data.ndim == 2 ? columns : 1);
  auto owner = std::make_shared<const std::vector<char>>(std::move(bytes));
  return make_array({owner, owner->data(), items}, data.format[0],
                    static_cast<std::size_t>(data.itemsize), data.ndim,
                    {static_cast<std::size_t>(count), columns});
}

PyObject* array_subscript(PyObject* self, PyObject* key) {
  return guarded([&]() -> PyObject* {
    const ArrayData& data = array_of(self);
    if (PySlice_Check(key)) {
      Py_ssize_t start = 0;
      Py_ssize_t stop = 0;
      Py_ssize_t step = 0;
      if (PySlice_Unpack(key, &start, &stop, &step) < 0) return nullptr;
      const Py_ssize_t count = PySlice_AdjustIndices(data.shape[0], &start, &stop, step);
      if (step == 1) return view_of(data, start, count, data.ndim);
      return strided_copy(data, start, step, count);
    }
    if (is_bool(key) || !PyIndex_Check(key)) {
      return PyErr_Format(PyExc_TypeError, "Array indices must be integers or slices, not %.200s",
                          Py_TYPE(key)->tp_name);
    }
    Py_ssize_t i = PyNumber_AsSsize_t(key, PyExc_IndexError);
    if (i == -1 && PyErr_Occurred()) return nullptr;
    return array_item(self, i < 0 ? i + data.shape[0] : i);
  });
}

PyObject* array_iter(PyObject* self) noexcept { return PySeqIter_New(self); }

PyObject* list_of(const ArrayData& data) {
  PyRef list = PyRef::steal(PyList_New(data.shape[0]));
  if (!list) return nullptr;
  for (Py_ssize_t i = 0; i < data.shape[0]; ++i) {
    PyObject* item = nullptr;
    if (data.ndim == 2) {
      const PyRef row = PyRef::steal(row_of(data, i));
      item = row ? list_of(array_of(row.get())) : nullptr;
    } else {
      item = item_object(data.format[0], bytes_of(data) + i * data.itemsize);
    }
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), i, item);
  }
  return list.release();
}

PyObject* array_tolist(PyObject* self, PyObject* /*unused*/) noexcept {
  return guarded([&] { return list_of(array_of(self)); });
}

PyObject* shape_tuple(const ArrayData& data) noexcept {
  return data.ndim == 2 ? Py_BuildValue("(nn)", data.shape[0], data.shape[1])
                        : Py_BuildValue("(n)", data.shape[0]);
}

PyObject* array_repr(PyObject* self) noexcept {
  const ArrayData& data = array_of(self);
  if (data.ndim == 2) {
    return PyUnicode_FromFormat("Array('%s', %zd x %zd items)", dtype_name(data.format[0]),
                                data.shape[0], data.shape[1]);
  }
  return PyUnicode_FromFormat("Array('%s', %zd items)", dtype_name(data.format[0]), data.shape[0]);
}

PyObject* get_format(PyObject* self, void* /*closure*/) noexcept {
  return PyUnicode_FromString(array_of(self).format);
}

PyObject* get_dtype(PyObject* self, void* /*closure*/) noexcept {
  return PyUnicode_FromString(dtype_name(array_of(self).format[0]));
}

PyObject* get_shape(PyObject* self, void* /*closure*/) noexcept {
  return shape_tuple(array_of(self));
}

// Version 3 of numpy's array interface: the data's address, read-only,
// C-contiguous (strides None). numpy keeps the Array as the base of what
// it makes, so the memory lives as long as numpy's array.
PyObject* get_array_interface(PyObject* self, void* /*closure*/) noexcept {
  const ArrayData& data = array_of(self);
  const PyRef shape = PyRef::steal(shape_tuple(data));
  if (!shape) return nullptr;
  return Py_BuildValue("{s:i,s:O,s:s,s:(NO),s:O}", "version", 3, "shape", shape.get(), "typestr",
                       item_type(data.format[0]).type_string, "data",
                       PyLong_FromVoidPtr(const_cast<char*>(bytes_of(data))), Py_True, "strides",
                       Py_None);
}

// __array__(dtype=None, copy=None): numpy is imported here, on the first
// call, never when the module is. The result views the Array's memory
// through a memoryview unless another dtype or copy=True asks for a copy;
// copy=False with another dtype raises ValueError (numpy 2's protocol).
PyObject* array_array(PyObject* self, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  return guarded([&]() -> PyObject* {
    static const char* const kNames[] = {"dtype", "copy"};
    PyObject* bound[2];
    if (!bind_arguments({"Array.__array__()", kNames, 0}, args, nargs, kwnames, bound)) {
      return nullptr;
    }
    const PyRef numpy = PyRef::steal(import_for("Array.__array__()", "numpy"));
    if (!numpy) return nullptr;
    const PyRef view = PyRef::steal(PyMemoryView_FromObject(self));
    if (!view) return nullptr;
    PyObject* dtype = bound[0] ? bound[0] : Py_None;
    const int copy = bound[1] && bound[1] != Py_None ? PyObject_IsTrue(bound[1]) : -2;
    if (copy == -1) return nullptr;
    if (copy == 0 && dtype != Py_None) {
      const PyRef wanted = PyRef::steal(PyObject_CallMethod(numpy.get(), "dtype", "O", dtype));
      const PyRef own = wanted
                            ? PyRef::steal(PyObject_CallMethod(
                                  numpy.get(), "dtype", "s", dtype_name(array_of(self).format[0])))
                            : PyRef();
      if (!own) return nullptr;
      const int same = PyObject_RichCompareBool(wanted.get(), own.get(), Py_EQ);
      if (same < 0) return nullptr;
      if (!same) {
        return PyErr_Format(PyExc_ValueError,
                            "Array.__array__(): copy=False, but dtype %R needs a copy of %s items",
                            wanted.get(), dtype_name(array_of(self).format[0]));
      }
    }
    PyRef result =
        PyRef::steal(PyObject_CallMethod(numpy.get(), "asarray", "OO", view.get(), dtype));
    if (!result) return nullptr;
    if (copy == 1) result = PyRef::steal(PyObject_CallMethod(result.get(), "copy", nullptr));
    return result.release();
  });
}

// Pickled by value: (format, shape, the bytes).
PyObject* array_reduce(PyObject* self, PyObject* /*unused*/) noexcept {
  const ArrayData& data = array_of(self);
  const PyRef shape = PyRef::steal(shape_tuple(data));
  if (!shape) return nullptr;
  return reduce_by_value(self, PyRef::steal(Py_BuildValue(
                                   "(sOy#)", data.format, shape.get(), bytes_of(data),
                                   static_cast<Py_ssize_t>(data.memory.count) * data.itemsize)));
}

PyObject* array_from_state(PyObject* /*type*/, PyObject* state) {
  return guarded([&]() -> PyObject* {
    const char* format = nullptr;
    PyObject* shape = nullptr;
    const char* bytes = nullptr;
    Py_ssize_t size = 0;
    if (!PyArg_ParseTuple(state, "sO!y#", &format, &PyTuple_Type, &shape, &bytes, &size)) {
      return nullptr;
    }
    const ItemType* type = format[0] && !format[1] ? find_item_type(format[0]) : nullptr;
    const std::size_t itemsize = type ? type->size : 0;
    const Py_ssize_t ndim = PyTuple_GET_SIZE(shape);
    // Every dimension at least 0 and, times the item size, a size in
    // bytes (a row's stride); their product fits and equals the bytes.
    // Zero dimensions are fine: (k, 0) and (0,) are the empty arrays.
    constexpr auto kLargest = static_cast<std::size_t>(PY_SSIZE_T_MAX);
    std::array<std::size_t, 2> extent{0, 0};
    std::size_t items = 1;
    bool fits = itemsize != 0 && ndim >= 1 && ndim <= 2;
    for (Py_ssize_t k = 0; fits && k < ndim; ++k) {
      const Py_ssize_t n = PyLong_AsSsize_t(PyTuple_GET_ITEM(shape, k));
      if (n == -1 && PyErr_Occurred()) return nullptr;
      const auto extent_k = static_cast<std::size_t>(n);
      fits = n >= 0 && extent_k <= kLargest / itemsize &&
             !__builtin_mul_overflow(items, extent_k, &items);
      extent[static_cast<std::size_t>(k)] = extent_k;
    }
    if (!fits || items > kLargest / itemsize ||
        items * itemsize != static_cast<std::size_t>(size)) {
      PyErr_SetString(PyExc_ValueError, "not a pickled Array");
      return nullptr;
    }
    auto owner = std::make_shared<const std::vector<char>>(bytes, bytes + size);
    return make_array({owner, owner->data(), items}, format[0], itemsize, static_cast<int>(ndim),
                      extent);
  });
}

PyMethodDef array_methods[] = {
    {"tolist", array_tolist, METH_NOARGS,
     "tolist($self, /)\n--\n\nThe items as Python floats or ints (a list of rows in 2-D)."},
    {"__array__", as_method(array_array), METH_FASTCALL | METH_KEYWORDS,
     "__array__($self, dtype=None, copy=None)\n--\n\nA numpy array of the items."},
    {"__reduce__", array_reduce, METH_NOARGS, nullptr},
    {"_from_state", array_from_state, METH_O | METH_CLASS, nullptr},
    {nullptr, nullptr, 0, nullptr},  // sentinel
};

PyGetSetDef array_getset[] = {
    {"format", get_format, nullptr, "The buffer format character of the items.", nullptr},
    {"dtype", get_dtype, nullptr, "numpy's name of the item type ('float64', ...).", nullptr},
    {"shape", get_shape, nullptr, "(n,) or (rows, columns).", nullptr},
    {"__array_interface__", get_array_interface, nullptr, "numpy's array interface, version 3.",
     nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

}  // namespace

PyTypeObject* array_type() noexcept {
  static PyTypeObject* type = nullptr;
  return object_type<ArrayData>(
      type, "velmoran_arrays.Array",
      {{Py_tp_doc, const_cast<char*>("A read-only array that shares its memory with numpy and "
                                     "pandas (buffer protocol, __array_interface__, __array__).")},
       {Py_tp_repr, reinterpret_cast<void*>(array_repr)},
       {Py_tp_getset, array_getset},
       {Py_tp_methods, array_methods},
       {Py_tp_iter, reinterpret_cast<void*>(array_iter)},
       {Py_sq_length, reinterpret_cast<void*>(array_length)},
       {Py_sq_item, reinterpret_cast<void*>(array_item)},
       {Py_mp_length, reinterpret_cast<void*>(array_length)},
       {Py_mp_subscript, reinterpret_cast<void*>(array_subscript)},
       {Py_bf_getbuffer, reinterpret_cast<void*>(array_getbuffer)},
       {Py_bf_releasebuffer, reinterpret_cast<void*>(array_releasebuffer)}});
}

PyObject* make_array(ArrayMemory memory, char format, std::size_t itemsize, int ndim,
                     std::array<std::size_t, 2> shape) {
  const auto size = static_cast<Py_ssize_t>(itemsize);
  ArrayData data{std::move(memory),
                 {static_cast<Py_ssize_t>(shape[0]), 0},
                 {size, 0},
                 1,
                 size,
                 {format, '\0'},
                 0};
  if (ndim == 2) {
    data.ndim = 2;
    data.shape[1] = static_cast<Py_ssize_t>(shape[1]);
    data.strides[0] = data.shape[1] * size;
    data.strides[1] = size;
  }
  return make_object(array_type(), std::move(data));
}

char array_format(PyObject* array) noexcept { return array_of(array).format[0]; }

int array_ndim(PyObject* array) noexcept { return array_of(array).ndim; }

std::array<std::size_t, 2> array_shape(PyObject* array) noexcept {
  const ArrayData& data = array_of(array);
  return {static_cast<std::size_t>(data.shape[0]),
          data.ndim == 2 ? static_cast<std::size_t>(data.shape[1]) : 0};
}

ArrayMemory array_memory(PyObject* array) noexcept { return array_of(array).memory; }

}  // namespace velmoran::python
