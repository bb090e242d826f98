// A batch's metrics side by side: one row per run and metric element, with
// the element's robust z-score against the batch, and the outliers.
#pragma once

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include <velmoran/qc/mzqc.hpp>

namespace velmoran::qc {

struct BatchRow {
  std::size_t run = 0;
  Term term;
  // The element's place in a tuple or table; none for a scalar.
  std::optional<std::size_t> element;
  double value = 0.0;
  // The modified z-score over the batch's runs that have the element as a
  // number (docs/qc.md: median, MAD or mean absolute deviation, relative
  // floor); none for table cells, for values that are not numbers, and
  // where every run has the same value.
  std::optional<double> robust_z;
};

// Beyond this |z| an element is an outlier.
inline constexpr double kOutlierZ = 3.5;

[[nodiscard]] std::vector<BatchRow> batch_rows(std::span<const RunQuality> runs);

// The rows as TSV (header: run, accession, name, element, value, robust_z;
// empty cells for what is absent) or as a JSON array of objects (null).
[[nodiscard]] std::string batch_tsv(std::span<const BatchRow> rows,
                                    std::span<const RunQuality> runs);
[[nodiscard]] std::string batch_json(std::span<const BatchRow> rows,
                                     std::span<const RunQuality> runs);

// One line per run and metric with an outlying element:
// "RUN: MS:4000059 number of MS1 spectra: 12 (robust z -41.2)"; for a
// tuple the elements listed as [i] value (z).
[[nodiscard]] std::vector<std::string> outlier_lines(std::span<const BatchRow> rows,
                                                     std::span<const RunQuality> runs);

}  // namespace velmoran::qc
