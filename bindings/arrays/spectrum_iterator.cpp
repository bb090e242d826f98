// The iterator of Run.spectra() (spectrum_iterator.hpp): DecodeAhead's
// workers read and decode while the consumer holds the lock only to make
// each Spectrum.
#include "spectrum_iterator.hpp"

#include <chrono>
#include <optional>
#include <utility>

#include <velmoran/analysis/decode_ahead.hpp>

#include "../toolkit/guarded.hpp"
#include "../toolkit/object.hpp"
#include "spectrum.hpp"
#include "../toolkit/without_gil.hpp"

namespace velmoran::python::arrays {

using python::guarded;

namespace {

struct IteratorData {
  std::shared_ptr<const Reader> reader;
  std::unique_ptr<analysis::DecodeAhead> ahead;
};

IteratorData& data_of(PyObject* self) noexcept { return python::data_of<IteratorData>(self); }

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
  // Stopping waits for the workers to finish the spectra they decode:
  // other Python threads go on meanwhile.
  (void)without_gil("SpectrumIterator.__del__", [&] {
    data_of(self).ahead.reset();
    return true;
  });
  dealloc<IteratorData>(self);
}

}  // namespace

PyTypeObject* spectrum_iterator_type() noexcept {
  static PyTypeObject* type = nullptr;
  return object_type<IteratorData>(
      type, "velmoran_arrays.SpectrumIterator",
      {{Py_tp_doc, const_cast<char*>("Spectra in table order, decoded ahead on worker threads.")},
       {Py_tp_dealloc, reinterpret_cast<void*>(iterator_dealloc)},
       {Py_tp_iter, reinterpret_cast<void*>(iterator_iter)},
       {Py_tp_iternext, reinterpret_cast<void*>(iterator_next)}});
}

PyObject* make_spectrum_iterator(std::shared_ptr<const Reader> reader,
                                 std::vector<std::size_t> positions, unsigned threads,
                                 analysis::PeakMode mode) {
  auto ahead = std::make_unique<analysis::DecodeAhead>(reader, std::move(positions), threads, mode);
  return make_object(spectrum_iterator_type(), IteratorData{std::move(reader), std::move(ahead)});
}

}  // namespace velmoran::python::arrays
