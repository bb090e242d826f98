// The peaks= argument of Run.spectrum(), spectra() and peaks():
//
//   peaks: "profile" (default) | "centroid" | "picked"
//       # as `velmoran convert --peaks`; another str: ValueError, another type: TypeError
#pragma once

#include <Python.h>

#include <optional>
#include <string_view>

#include <velmoran/analysis/peak_mode.hpp>

namespace velmoran::python::arrays {

// The mode `value` names (null or None: profile); nullopt with the
// exception set.
[[nodiscard]] inline std::optional<analysis::PeakMode> peak_mode_of(PyObject* value,
                                                                    const char* member) noexcept {
  if (!value || value == Py_None) return analysis::PeakMode::kProfile;
  if (!PyUnicode_Check(value)) {
    PyErr_Format(PyExc_TypeError,
                 "%s: peaks must be \"profile\", \"centroid\" or \"picked\", not %.200s", member,
                 Py_TYPE(value)->tp_name);
    return std::nullopt;
  }
  Py_ssize_t size = 0;
  const char* text = PyUnicode_AsUTF8AndSize(value, &size);
  if (!text) return std::nullopt;
  const auto mode =
      analysis::parse_peak_mode(std::string_view(text, static_cast<std::size_t>(size)));
  if (!mode) {
    PyErr_Format(PyExc_ValueError,
                 "%s: peaks must be \"profile\", \"centroid\" or \"picked\", not %R", member,
                 value);
  }
  return mode;
}

}  // namespace velmoran::python::arrays
