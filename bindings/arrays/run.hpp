// class Run:                            # made by open(path)
//     path: str                         # as given
//     name: str                         # the dataset's name
//     record_length: int                # 284, 220, 216, 196 or 186
//     scans: dict[str, Array]           # the scan table, one column per field
//     def scans_frame(self) -> pandas.DataFrame       # ImportError without pandas
//     def __len__(self) -> int                        # number of scans
//     closed: bool
//     def __getitem__(self, i: int) -> Spectrum       # read on demand; IndexError
//     def __getitem__(self, key: slice | positions | mask) -> list[Spectrum]
//         # decoded on every CPU; positions and masks as index= takes them
//     def __iter__(self) -> Iterator[Spectrum]        # every spectrum, as spectra()
//     def spectra(self, ms_level=None, rt=None, threads=None, index=None) -> Iterator[Spectrum]
//     def peaks(self, ms_level=None, rt=None, threads=None, index=None) -> Peaks
//         # index: positions in the order given, kept where ms_level and rt
//         # select them (arguments.hpp)
//     def close(self); __enter__(self) -> Run; __exit__(self, *exc) -> False
//         # closing drops the reader: every later call raises
//         # ValueError("closed run"); what was handed out stays valid
//     def __reduce__(self)    # (open, (path, transitions)): reopened on load
//     def __repr__(self) -> str                       # "Run('x.d', 1200 scans)"
//     def channels(self, threads=None), transitions(self, path)   # channels.hpp
#pragma once

#include <Python.h>

#include <memory>
#include <optional>
#include <string>

#include <velmoran/mrm/transitions.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::python::arrays {

[[nodiscard]] PyTypeObject* run_type() noexcept;

// What channels.cpp needs of a Run: its reader (null with ValueError set
// once the run is closed), and the transition list that
// open(transitions=) or Run.transitions() gave it (null: none) with the
// path it was read from, which a pickled run reads again.
[[nodiscard]] std::shared_ptr<const Reader> run_reader(PyObject* run) noexcept;
[[nodiscard]] std::shared_ptr<const mrm::TransitionList> run_transition_list(
    PyObject* run) noexcept;
void set_run_transition_list(PyObject* run, std::shared_ptr<const mrm::TransitionList> list,
                             std::optional<std::string> path);

// velmoran_arrays.open(path, transitions=None): the Run of the dataset at
// `path` (str, bytes or os.PathLike); reads the scan table only, without
// the interpreter lock (and so is not noexcept: ../guarded.hpp).
PyObject* open_run(PyObject* module, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames);

}  // namespace velmoran::python::arrays
