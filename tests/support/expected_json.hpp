// The expected spectra of a synthetic run as JSON, for test suites outside
// C++: {"scans":[{"scan_id":1,"ms_level":1,"retention_time_sec":...,
// "precursor_mz":... (when present), "mrm_channel":... (when present),
// "mz":[...],"intensity":[...], "peak_mz":[...],"peak_intensity":[...]
// (the instrument's centroids of a scan that has a profile too)}, ...]}. Every number that is a double, or
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

// The true peaks of each scan, for measuring peak pickers:
// {"noise_sd":...,"scans":[{"scan_id":1,"true_mz":[...],"true_height":[...],
// "true_fwhm":[...]}, ...]}.
void write_truth_json(std::ostream& out, std::span<const ExpectedSpectrum> spectra,
                      double noise_sd);

}  // namespace velmoran::testkit
