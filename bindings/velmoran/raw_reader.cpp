// class RawReader:
//     """RawReader(path)\n--\n\n"""
//     def __new__(cls, path):
//         # TypeError: binding messages (arguments.hpp); path not a str
//         # UnicodeEncodeError: path holds a lone surrogate
//         reader = Reader.open(path)          # RuntimeError(error text) on failure
//         self._spectra = list(reader.iter_spectra())
//     @property
//     def scan_count(self): return len(self._spectra)
//     def read_spectrum(self, scan_index):
//         # TypeError: not an integer; OverflowError: negative or >= 2**64
//         if scan_index >= len(self._spectra):
//             raise RuntimeError(f"scan {scan_index} out of range")
//         return Spectrum(copy of self._spectra[scan_index])
//     def __repr__(self): return f"RawReader('{path}', {len(self._spectra)} scans)"
#include "raw_reader.hpp"

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include <quorlith/types.hpp>

#include "../toolkit/arguments.hpp"
#include "../toolkit/errors.hpp"
#include "../toolkit/object.hpp"
#include "../toolkit/py_ref.hpp"
#include <velmoran/reader.hpp>
#include "spectrum.hpp"

namespace velmoran::python {

namespace {

struct RawReaderData {
  velmoran::Reader dataset_reader;
  std::vector<quorlith::SpectrumRecord> spectra;
};

const RawReaderData& data_of(PyObject* self) noexcept {
  return python::data_of<RawReaderData>(self);
}

// A text-signature header and nothing else: the class's signature is "(path)".
constexpr char kDoc[] = "RawReader(path)\n--\n\n";

constexpr Parameter kPath{"RawReader.__new__()", "path"};
constexpr Parameter kScanIndex{"RawReader.read_spectrum()", "scan_index"};

// Every record of one sequence, in order. The sequence's count is exact, so
// the storage is sized once.
std::vector<quorlith::SpectrumRecord> read_all_spectra(const velmoran::Reader& reader) {
  const auto sequence = reader.iter_spectra();
  std::vector<quorlith::SpectrumRecord> spectra;
  spectra.reserve(sequence->size_hint().lower);
  while (auto record = sequence->next()) spectra.push_back(std::move(*record));
  return spectra;
}

PyObject* raw_reader_new(PyTypeObject* type, PyObject* args, PyObject* kwargs) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* path_argument = bind_argument(kPath, args, kwargs);
    if (!path_argument) return nullptr;
    const auto path = path_text(path_argument, kPath);
    if (!path) return nullptr;

    auto reader = velmoran::Reader::open(std::filesystem::path(*path));
    if (!reader) return raise_error(reader.error());
    auto spectra = read_all_spectra(*reader);

    PyObject* self = type->tp_alloc(type, 0);
    if (!self) return nullptr;
    static_assert(std::is_nothrow_move_constructible_v<RawReaderData>);
    std::construct_at(&python::data_of<RawReaderData>(self),
                      RawReaderData{std::move(reader).value(), std::move(spectra)});
    return self;
  });
}

PyObject* get_scan_count(PyObject* self, void* /*closure*/) noexcept {
  return PyLong_FromSize_t(data_of(self).spectra.size());
}

PyObject* read_spectrum(PyObject* self, PyObject* const* args, Py_ssize_t nargs,
                        PyObject* kwnames) noexcept {
  return guarded([&]() -> PyObject* {
    PyObject* index_argument = bind_argument(kScanIndex, args, nargs, kwnames);
    if (!index_argument) return nullptr;
    const auto index = index_value(index_argument, kScanIndex);
    if (!index) return nullptr;
    const auto& spectra = data_of(self).spectra;
    if (*index >= spectra.size()) {
      return PyErr_Format(PyExc_RuntimeError, "scan %llu out of range",
                          static_cast<unsigned long long>(*index));
    }
    return make_spectrum(spectra[static_cast<std::size_t>(*index)]);
  });
}

PyObject* raw_reader_repr(PyObject* self) noexcept {
  return guarded([&]() -> PyObject* {
    const RawReaderData& data = data_of(self);
    // The path as given: its text came from a str, so it is valid UTF-8.
    const std::string& path = data.dataset_reader.path().native();
    const PyRef path_text_object = PyRef::steal(
        PyUnicode_DecodeUTF8(path.data(), static_cast<Py_ssize_t>(path.size()), "replace"));
    if (!path_text_object) return nullptr;
    return PyUnicode_FromFormat("RawReader('%U', %zu scans)", path_text_object.get(),
                                data.spectra.size());
  });
}

PyGetSetDef raw_reader_getset[] = {
    {"scan_count", get_scan_count, nullptr, nullptr, nullptr},
    {nullptr, nullptr, nullptr, nullptr, nullptr},  // sentinel
};

PyMethodDef raw_reader_methods[] = {
    {"read_spectrum", as_method(read_spectrum), METH_FASTCALL | METH_KEYWORDS,
     "read_spectrum($self, scan_index)\n--\n\n"},
    {nullptr, nullptr, 0, nullptr},  // sentinel
};

// Python 3.9 keeps only the text after the signature header of a spec's
// docstring, and with it the class loses its signature; where that
// happened, the type gets the whole docstring back (allocated as the
// interpreter allocates the ones it copies, since it frees them so).
bool keep_signature_in_doc(PyTypeObject* type) noexcept {
  if (type->tp_doc && std::strcmp(type->tp_doc, kDoc) == 0) return true;
  auto* doc = static_cast<char*>(PyObject_Malloc(sizeof kDoc));
  if (!doc) {
    PyErr_NoMemory();
    return false;
  }
  std::memcpy(doc, kDoc, sizeof kDoc);
  PyObject_Free(const_cast<char*>(type->tp_doc));
  type->tp_doc = doc;
  PyType_Modified(type);
  return true;
}

}  // namespace

PyTypeObject* raw_reader_type() noexcept {
  // Made once; a module executed again gets the same type object.
  static PyTypeObject* type = nullptr;
  if (!type) {
    PyTypeObject* made = nullptr;
    auto owned = PyRef::steal(reinterpret_cast<PyObject*>(
        object_type<RawReaderData>(made, "builtins.RawReader",
                                   {{Py_tp_doc, const_cast<char*>(kDoc)},
                                    {Py_tp_new, reinterpret_cast<void*>(raw_reader_new)},
                                    {Py_tp_repr, reinterpret_cast<void*>(raw_reader_repr)},
                                    {Py_tp_getset, raw_reader_getset},
                                    {Py_tp_methods, raw_reader_methods}})));
    if (!owned || !keep_signature_in_doc(made)) return nullptr;
    type = reinterpret_cast<PyTypeObject*>(owned.release());
  }
  return type;
}

}  // namespace velmoran::python
