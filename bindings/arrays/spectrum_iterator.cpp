// The iterator of Run.spectra() (spectrum_iterator.hpp): DecodeAhead's
// workers read and decode while the consumer holds the lock only to make
// each Spectrum.
#include "spectrum_iterator.hpp"

#include <chrono>
#include <optional>
#include <utility>

#include <velmoran/analysis/decode_ahead.hpp>

#include "../toolkit/guarded.hpp"
#include "spectrum.hpp"
#include "../toolkit/without_gil.hpp"

namespace velmoran::python::arrays {

using python::guarded;

namespace {

struct IteratorData {
  std::shared_ptr<const Reader> reader;
  std::unique_ptr<analysis::DecodeAhead> ahead;
};

struct IteratorObject {
  PyObject_HEAD
  IteratorData data;
};

IteratorData& data_of(PyObject* self) noexcept {
  return reinterpret_cast<IteratorObject*>(self)->data;
}

// Not noexcept, as every slot that releases the interpreter lock
// (../guarded.hpp).
PyObject* iterator_next(PyObject* self) {
  return guarded([&]() -> PyObject* {
    IteratorData& data = data_of(self);
    // Under the interpreter lock, which serializes it with other threads.
    data.ahead->resume_after_fork();
    std::optional<ScanSpectrum> spectrum;
    const bool done =
        wait_interruptibly("SpectrumIterator.__next__", [&](std::chrono::milliseconds timeout) {
          auto taken = data.ahead->next(timeout);
          if (taken.ready) spectrum = std::move(taken.spectrum);
          return taken.ready;
        });
    if (!done) return nullptr;
    // The end: null without an exception set.
    if (!spectrum) return nullptr;
    return make_spectrum(std::move(*spectrum), *data.reader);
  });
}

PyObject* iterator_iter(PyObject* self) noexcept {
  Py_INCREF(self);
  return self;
}

void iterator_dealloc(PyObject* self) {
  PyTypeObject* type = Py_TYPE(self);
  IteratorData& data = data_of(self);
  // Stopping waits for the workers to finish the spectra they decode:
  // other Python threads go on meanwhile.
  (void)without_gil("SpectrumIterator.__del__", [&] {
    data.ahead.reset();
    return true;
  });
  std::destroy_at(&data);
  type->tp_free(self);
  Py_DECREF(type);
}

PyObject* iterator_new(PyTypeObject*, PyObject*, PyObject*) noexcept {
  return PyErr_Format(PyExc_TypeError,
                      "cannot create 'velmoran_arrays.SpectrumIterator' instances");
}

PyType_Slot iterator_slots[] = {
    {Py_tp_doc, const_cast<char*>("Spectra in table order, decoded ahead on worker threads.")},
    {Py_tp_new, reinterpret_cast<void*>(iterator_new)},
    {Py_tp_dealloc, reinterpret_cast<void*>(iterator_dealloc)},
    {Py_tp_iter, reinterpret_cast<void*>(iterator_iter)},
    {Py_tp_iternext, reinterpret_cast<void*>(iterator_next)},
    {0, nullptr},  // sentinel
};

PyType_Spec iterator_spec = {
    .name = "velmoran_arrays.SpectrumIterator",
    .basicsize = static_cast<int>(sizeof(IteratorObject)),
    .itemsize = 0,
    .flags = Py_TPFLAGS_DEFAULT,
    .slots = iterator_slots,
};

}  // namespace

PyTypeObject* spectrum_iterator_type() noexcept {
  // Made once; a module executed again gets the same type object.
  static PyTypeObject* type = nullptr;
  if (!type) type = reinterpret_cast<PyTypeObject*>(PyType_FromSpec(&iterator_spec));
  return type;
}

PyObject* make_spectrum_iterator(std::shared_ptr<const Reader> reader,
                                 std::vector<std::size_t> positions, unsigned threads,
                                 analysis::PeakMode mode) {
  auto ahead = std::make_unique<analysis::DecodeAhead>(reader, std::move(positions), threads, mode);
  PyTypeObject* type = spectrum_iterator_type();
  if (!type) return nullptr;
  PyObject* self = type->tp_alloc(type, 0);
  if (!self) return nullptr;
  std::construct_at(&data_of(self), IteratorData{std::move(reader), std::move(ahead)});
  return self;
}

}  // namespace velmoran::python::arrays
