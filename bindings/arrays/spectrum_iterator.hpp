// class SpectrumIterator:               # made by Run.spectra()
//     def __iter__(self): return self
//     def __next__(self) -> Spectrum    # waits without the interpreter lock
//                                       # for the next spectrum in order
//     # freeing it stops its workers, without the lock too
#pragma once

#include <Python.h>

#include <cstddef>
#include <memory>
#include <vector>

#include <velmoran/analysis/peak_mode.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::python::arrays {

[[nodiscard]] PyTypeObject* spectrum_iterator_type() noexcept;

// A new iterator over the spectra at `positions`, decoded ahead on
// `threads` threads in `mode`; null with the exception set.
[[nodiscard]] PyObject* make_spectrum_iterator(
    std::shared_ptr<const Reader> reader, std::vector<std::size_t> positions, unsigned threads,
    analysis::PeakMode mode = analysis::PeakMode::kProfile);

}  // namespace velmoran::python::arrays
