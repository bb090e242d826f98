// class Spectrum:
//     mz: list[float]                  # read-only; a new list of new floats each read
//     intensity: list[float]           # read-only; likewise
//     ms_level: int                    # read-only
//     retention_time_sec: float        # read-only
//     def __len__(self): return len(self._mz)
//     def __repr__(self): return f"Spectrum({len(self._mz)} peaks, RT {fixed2(self._rt)}s)"
//     def __new__(cls, *args, **kwargs):
//         raise TypeError("cannot create 'builtins.Spectrum' instances")
#include "spectrum.hpp"

#include <array>
#include <charconv>
#include <cmath>
#include <memory>
#include <string_view>
#include <utility>

#include "py_ref.hpp"

namespace velmoran::python {

namespace {

// The module name "builtins" and the qualified name, as __module__ and
// __qualname__ show them.
constexpr char kTypeName[] = "builtins.Spectrum";

struct SpectrumData {
  quorlith::MzArray mz;
  quorlith::IntensityArray intensity;
  std::uint32_t ms_level;
  double retention_time_sec;
};

struct SpectrumObject {
  PyObject_HEAD
  SpectrumData data;
};

const SpectrumData& data_of(PyObject* self) noexcept {
  return reinterpret_cast<SpectrumObject*>(self)->data;
}

// A list of new floats, one per element, sized once and filled in order.
template <class Array>
PyObject* float_list(const Array& values) noexcept {
  const auto count = static_cast<Py_ssize_t>(values.size());
  PyRef list = PyRef::steal(PyList_New(count));
  if (!list) return nullptr;
  const auto* element = values.data();
  for (Py_ssize_t i = 0; i < count; ++i) {
    PyObject* item = PyFloat_FromDouble(static_cast<double>(element[i]));
    if (!item) return nullptr;
    PyList_SET_ITEM(list.get(), i, item);
  }
  return list.release();
}

PyObject* get_mz(PyObject* self, void* /*closure*/) noexcept {
  return float_list(data_of(self).mz);
}

PyObject* get_intensity(PyObject* self, void* /*closure*/) noexcept {
  return float_list(data_of(self).intensity);
}

PyObject* get_ms_level(PyObject* self, void* /*closure*/) noexcept {
  return PyLong_FromUnsignedLong(data_of(self).ms_level);
}

PyObject* get_retention_time_sec(PyObject* self, void* /*closure*/) noexcept {
  return PyFloat_FromDouble(data_of(self).retention_time_sec);
}

Py_ssize_t spectrum_length(PyObject* self) noexcept {
  return static_cast<Py_ssize_t>(data_of(self).mz.size());
}

// Longest fixed text of a double with two decimals: a sign, 309 integer
// digits (DBL_MAX is about 1.8e308), the point and two digits.
constexpr std::size_t kFixedTextCapacity = 1 + 309 + 1 + 2;

// The exact value rounded to two decimals, ties to the even digit, never an
// exponent; "-0.00" for negative zero and negative values that round to
// zero; "NaN", "inf", "-inf". std::to_chars is exact and, unlike printf,
// does not depend on the locale's decimal point.
struct FixedText {
  std::array<char, kFixedTextCapacity + 1> text{};
};

FixedText fixed_two_decimals(double value) noexcept {
  FixedText out;
  std::string_view special;
  if (std::isnan(value)) {
    special = "NaN";
  } else if (std::isinf(value)) {
    special = value < 0 ? "-inf" : "inf";
  }
  if (!special.empty()) {
    special.copy(out.text.data(), special.size());
    return out;
  }
  // The capacity holds every finite double, so this cannot fail.
  std::to_chars(out.text.data(), out.text.data() + kFixedTextCapacity, value,
                std::chars_format::fixed, 2);
  return out;
}

PyObject* spectrum_repr(PyObject* self) noexcept {
  const SpectrumData& data = data_of(self);
  const FixedText rt = fixed_two_decimals(data.retention_time_sec);
  return PyUnicode_FromFormat("Spectrum(%zu peaks, RT %ss)", data.mz.size(), rt.text.data());
}

PyObject* spectrum_new(PyTypeObject* /*type*/, PyObject* /*args*/, PyObject* /*kwargs*/) noexcept {
  return PyErr_Format(PyExc_TypeError, "cannot create '%s' instances", kTypeName);
}

void spectrum_dealloc(PyObject* self) noexcept {
  PyTypeObject* type = Py_TYPE(self);
  std::destroy_at(&reinterpret_cast<SpectrumObject*>(self)->data);
  type->tp_free(self);
  Py_DECREF(type);
}

// Declared in this order: mz, intensity, ms_level, retention_time_sec.
PyGetSetDef spectrum_getset[] = {
    {"mz", get_mz, nullptr, nullptr, nullptr},
    {"intensity", get_intensity, nullptr, nullptr, nullptr},
    {"ms_level", get_ms_level, nullptr, nullptr, nullptr},
    {"retention_time_sec", get_retention_time_sec, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

PyType_Slot spectrum_slots[] = {
    {Py_tp_new, reinterpret_cast<void*>(spectrum_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(spectrum_dealloc)},
    {Py_tp_repr, reinterpret_cast<void*>(spectrum_repr)},
    {Py_tp_getset, spectrum_getset},
    {Py_mp_length, reinterpret_cast<void*>(spectrum_length)},
    {0, nullptr},  // sentinel
};

// No base-type flag (no subclasses), no dictionary, no weak references, no
// garbage-collector support: an instance holds no Python objects.
PyType_Spec spectrum_spec = {
    .name = kTypeName,
    .basicsize = static_cast<int>(sizeof(SpectrumObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = spectrum_slots,
};

}  // namespace

PyTypeObject* spectrum_type() noexcept {
  // Made once; a module executed again gets the same type object.
  static PyTypeObject* type = nullptr;
  if (!type) type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&spectrum_spec));
  return type;
}

PyObject* make_spectrum(const quorlith::SpectrumRecord& record) {
  SpectrumData data{record.mz, record.intensity, record.ms_level, record.retention_time_sec};
  PyTypeObject* type = spectrum_type();
  if (!type) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  static_assert(std::is_nothrow_move_constructible_v<SpectrumData>);
  std::construct_at(&reinterpret_cast<SpectrumObject*>(self)->data, std::move(data));
  return self;
}

}  // namespace velmoran::python
