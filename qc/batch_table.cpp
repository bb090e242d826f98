#include <velmoran/qc/batch_table.hpp>

#include <algorithm>
#include <cmath>
#include <map>
#include <utility>

#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/number_text.hpp>

namespace velmoran::qc {

namespace {

// The middle value, or the mean of the two middle ones, of a non-empty list.
double median_of(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// The spread of a batch's values is never taken below 1 % of the median's
// magnitude (for a base-10 logarithm, log10(1.01): 1 % of its antilog), so
// that runs alike to a few parts in ten thousand are not told apart.
constexpr double kRelativeFloor = 0.01;

// Sets the robust z-score of every row in `group` (one element of one
// metric across the runs): Iglewicz and Hoaglin's modified z-score,
// (value - median) over the spread MAD / 0.6745, or where the MAD is 0 (most
// runs equal) 1.2533 times the mean absolute deviation from the median.
void score(std::vector<BatchRow>& rows, const std::vector<std::size_t>& group, bool logarithmic) {
  std::vector<double> values;
  for (const std::size_t i : group) {
    if (std::isfinite(rows[i].value)) values.push_back(rows[i].value);
  }
  if (values.size() < 2) return;
  const double median = median_of(values);
  std::vector<double> deviations;
  double total_deviation = 0.0;
  for (const double v : values) {
    deviations.push_back(std::abs(v - median));
    total_deviation += deviations.back();
  }
  const double mad = median_of(std::move(deviations));
  double spread =
      mad > 0.0 ? mad / 0.6745 : 1.2533 * total_deviation / static_cast<double>(values.size());
  // Every run alike: nothing to score.
  if (!(spread > 0.0) || !std::isfinite(spread)) return;
  const double floor =
      logarithmic ? std::log10(1.0 + kRelativeFloor) : kRelativeFloor * std::abs(median);
  spread = std::max(spread, floor);
  for (const std::size_t i : group) {
    if (std::isfinite(rows[i].value)) rows[i].robust_z = (rows[i].value - median) / spread;
  }
}

void append_optional_number(std::string& out, std::optional<double> value, const char* absent) {
  if (value && std::isfinite(*value)) {
    textio::append_number(out, *value);
  } else {
    out += absent;
  }
}

}  // namespace

std::vector<BatchRow> batch_rows(std::span<const RunQuality> runs) {
  std::vector<BatchRow> rows;
  // Rows of each (accession, element) of a fixed-length metric.
  std::map<std::pair<std::string_view, std::size_t>, std::vector<std::size_t>> groups;
  for (std::size_t run = 0; run < runs.size(); ++run) {
    for (const Metric& metric : runs[run].metrics) {
      const std::vector<double> elements = metric_elements(metric.value);
      const bool scalar = std::holds_alternative<std::int64_t>(metric.value) ||
                          std::holds_alternative<double>(metric.value);
      for (std::size_t e = 0; e < elements.size(); ++e) {
        if (has_fixed_length(metric.value)) {
          groups[{metric.term.accession, e}].push_back(rows.size());
        }
        rows.push_back({run, metric.term, scalar ? std::nullopt : std::optional(e), elements[e],
                        std::nullopt});
      }
    }
  }
  if (runs.size() >= 2) {
    for (const auto& [key, group] : groups) score(rows, group, is_logarithmic(key.first));
  }
  return rows;
}

std::string batch_tsv(std::span<const BatchRow> rows, std::span<const RunQuality> runs) {
  std::string out = "run\taccession\tname\telement\tvalue\trobust_z\n";
  for (const BatchRow& row : rows) {
    textio::append_delimited_field(out, textio::single_line_text(runs[row.run].name), '\t');
    out += '\t';
    out += row.term.accession;
    out += '\t';
    out += row.term.name;
    out += '\t';
    if (row.element) textio::append_number(out, *row.element);
    out += '\t';
    append_optional_number(out, row.value, "");
    out += '\t';
    append_optional_number(out, row.robust_z, "");
    out += '\n';
  }
  return out;
}

std::string batch_json(std::span<const BatchRow> rows, std::span<const RunQuality> runs) {
  std::string out = "[";
  for (std::size_t i = 0; i < rows.size(); ++i) {
    const BatchRow& row = rows[i];
    out += i == 0 ? "\n" : ",\n";
    out += "{\"run\": ";
    textio::append_json_string(out, runs[row.run].name);
    out += ", \"accession\": ";
    textio::append_json_string(out, row.term.accession);
    out += ", \"name\": ";
    textio::append_json_string(out, row.term.name);
    out += ", \"element\": ";
    if (row.element) {
      textio::append_number(out, *row.element);
    } else {
      out += "null";
    }
    out += ", \"value\": ";
    append_optional_number(out, row.value, "null");
    out += ", \"robust_z\": ";
    append_optional_number(out, row.robust_z, "null");
    out += '}';
  }
  out += "\n]\n";
  return out;
}

std::vector<std::string> outlier_lines(std::span<const BatchRow> rows,
                                       std::span<const RunQuality> runs) {
  std::vector<std::string> lines;
  const BatchRow* last = nullptr;
  for (const BatchRow& row : rows) {
    if (!row.robust_z || !(std::abs(*row.robust_z) > kOutlierZ)) continue;
    const bool same_metric =
        last != nullptr && last->run == row.run && last->term.accession == row.term.accession;
    if (!same_metric) {
      lines.push_back(textio::single_line_text(runs[row.run].name) + ": " +
                      std::string(row.term.accession) + " " + std::string(row.term.name) + ":");
    }
    std::string& line = lines.back();
    if (row.element) {
      line += " [";
      textio::append_number(line, *row.element);
      line += ']';
    }
    line += ' ';
    textio::append_number(line, row.value);
    line += " (robust z ";
    textio::append_number(line, std::round(*row.robust_z * 100.0) / 100.0);
    line += ')';
    last = &row;
  }
  return lines;
}

}  // namespace velmoran::qc
