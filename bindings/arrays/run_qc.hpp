// Run.qc(), in Python terms:
//
//   def qc(self) -> dict:
//       """The run's quality metrics keyed by PSI-MS accession ("MS:4000059"
//       ...), with the values `velmoran qc` writes into mzQC: int, float,
//       lists of them (None where an element is not a number), and for
//       MS:4000104 a dict of columns keyed by their accessions."""
//       # raises FormatError when the run cannot be read to its end
#pragma once

#include <Python.h>

#include <velmoran/reader.hpp>

namespace velmoran::python::arrays {

// The dict of the run's metrics; null with an exception set on failure.
// Reads the run once, with the interpreter lock released.
[[nodiscard]] PyObject* run_quality_metrics(const Reader& reader);

}  // namespace velmoran::python::arrays
