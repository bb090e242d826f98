// class Run:                            # made by open(path, transitions=None)
//     path: str                         # as given
//     name: str                         # the dataset's name
//     record_length: int                # 284, 220, 216, 196 or 186
//     closed: bool
//     scans: dict[str, Array]           # the scan table, one column per field
//     def scans_frame(self, totals=False) -> pandas.DataFrame
//         # ImportError without pandas; totals adds tic, base_peak_mz,
//         # base_peak_intensity, centroided (run_chromatograms.hpp)
//     def __len__(self) -> int                        # number of scans
//     def __getitem__(self, i: int) -> Spectrum       # read on demand
//     def __getitem__(self, key: slice | positions | mask) -> list[Spectrum]
//         # decoded on every CPU; positions and masks as index= takes them;
//         # i and each position as arguments.hpp's position rule: an
//         # integer or 0-d integer array, never bool, negative from the
//         # end, IndexError outside
//     def spectrum(self, i, peaks="profile") -> Spectrum   # run[i] in a peak mode
//     def __iter__(self) -> Iterator[Spectrum]        # every spectrum, as spectra()
//     def spectra(self, ms_level=None, rt=None, threads=None, index=None,
//                 peaks="profile") -> Iterator[Spectrum]
//     def peaks(self, ms_level=None, rt=None, threads=None, index=None,
//               peaks="profile") -> Peaks
//         # index: positions in the order given, kept where ms_level and rt
//         # select them (arguments.hpp); Ctrl-C stops them
//     def xic(self, mz, ppm=None, da=None, rt=None, ms_level=1, threads=None) -> Xic
//     def tic(self, ms_level=1, threads=None) -> Chromatogram
//     def bpc(self, ms_level=1, threads=None) -> Chromatogram   # run_chromatograms.hpp
//     def qc(self) -> dict                            # run_qc.hpp
//     def channels(self, threads=None), transitions(self, path)   # channels.hpp
//     def close(self); __enter__(self) -> Run; __exit__(self, *exc) -> False
//         # closing drops the reader: every later call raises
//         # ValueError("closed run"); what was handed out stays valid
//     def __reduce__(self)    # (open, (absolute path, absolute transitions)):
//                             # reopened on load, from any working directory
//     def __repr__(self) -> str                       # "Run('x.d', 1200 scans)"
// Every member but path, closed, __repr__ and close raises
// ValueError("closed run") once closed. A C++ failure raises as
// ../toolkit/guarded.hpp maps it (MemoryError, OSError of a thread that
// cannot start).
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
