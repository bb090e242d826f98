// The quality metrics of one run (PSI-MS vocabulary terms MS:4000xxx, as
// mzQC holds them), computed from the figures of its spectra alone: no
// identification, no second read. The velmoran program writes them as mzQC
// and tables; the Python module returns them as a dict. Both call
// run_metrics(), so they cannot differ.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <velmoran/qc/figures.hpp>

namespace velmoran::qc {

// A term of a controlled vocabulary.
struct Term {
  std::string_view accession;
  std::string_view name;
};

// The number of spectra with a block that could not be read or decoded
// (a damaged run). No vocabulary term covers it, so the term is the
// program's own, from the local vocabulary the mzQC file names; the metric
// is present only when the count is not 0.
inline constexpr Term kUnreadableSpectra{"VELMORAN:0000001", "number of unreadable spectra"};

// Whether the metric's values are base-10 logarithms (the quantile log
// ratios), so that a relative difference of their antilogs is an absolute
// difference of theirs.
[[nodiscard]] bool is_logarithmic(std::string_view accession);

// The total ion currents table (MS:4000104): one row per spectrum of the
// TIC chromatogram.
struct TicTable {
  std::vector<std::string> native_ids;
  std::vector<double> retention_times_sec;
  std::vector<std::uint64_t> points;
  std::vector<double> total_ion_currents;
};

// Integers (counts, peak-count quantiles) stay integers; a tuple may hold
// elements that are not numbers (a log ratio of 0), written as null.
using MetricValue =
    std::variant<std::int64_t, double, std::vector<std::int64_t>, std::vector<double>, TicTable>;

struct Metric {
  Term term;
  // The unit the term states; an empty accession when it states none.
  Term unit;
  MetricValue value;
};

// The quantiles every tuple metric uses: the quartiles by the nearest-rank
// method, the smallest value with at least q of the values at or below it
// (sorted[ceil(q n) - 1]). Always one of the values, so a quantile of
// integers is an integer.
inline constexpr double kQuartiles[] = {0.25, 0.5, 0.75};

// Every metric that the run's figures define, in a fixed order; a metric
// whose input is missing (no MS2 scan for the MS2 ones, fewer than two MS1
// scans for the frequencies, no precursor for the m/z range) is left out.
[[nodiscard]] std::vector<Metric> run_metrics(std::span<const SpectrumFigures> spectra);

// The elements of a metric's value as numbers, for tables and z-scores:
// a scalar is one element, a tuple its elements, the TIC table its TICs.
[[nodiscard]] std::vector<double> metric_elements(const MetricValue& value);

// Whether the value has a fixed number of elements (a scalar or a
// quantile tuple), so that its elements compare across runs.
[[nodiscard]] bool has_fixed_length(const MetricValue& value);

}  // namespace velmoran::qc
