// The expected spectra of a synthetic run as JSON, for test suites outside
// C++: {"scans":[{"scan_id":1,"ms_level":1,"retention_time_sec":...,
// "precursor_mz":... (when present), "mrm_channel":... (when present),
// "mz":[...],"intensity":[...]}, ...]}. Every number that is a double, or
// a float widened to double, is written with 17 significant digits and a
// decimal point or exponent, so a JSON reader gets back the very same
// double, as a floating-point value.
#pragma once

#include <iosfwd>
#include <span>
#include <string>

#include "synthetic_run.hpp"

namespace velmoran::testkit {

// Appends `value` as a JSON number that parses back to exactly `value`.
// Finite values only.
void append_json_double(std::string& out, double value);

void write_expected_json(std::ostream& out, std::span<const ExpectedSpectrum> spectra);

}  // namespace velmoran::testkit
