// The batch report with its page embedded (cli/embed_report.cmake): the
// batch's figures as JSON put into the page's data block.
#include <algorithm>
#include <cmath>
#include <optional>
#include <utility>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/number_text.hpp>

#include "qc_report.hpp"

namespace velmoran::cli {

// The page, generated at build time.
std::string_view report_page();

namespace {

// The total ion currents table: drawn as the chromatograms, not as metrics.
constexpr std::string_view kTicTable = "MS:4000104";

void append_value(std::string& out, double value) {
  if (std::isfinite(value)) {
    textio::append_number(out, value);
  } else {
    out += "null";
  }
}

void append_values(std::string& out, const std::vector<double>& values) {
  out += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ',';
    append_value(out, values[i]);
  }
  out += ']';
}

// {"batch", "runs": [{"name", "rt", "tic"}], "metrics": [{"accession",
// "name", "values", "z"}]}: one value per run of each scalar and each
// tuple element.
std::string report_data(std::string_view batch, std::span<const qc::RunQuality> runs,
                        std::span<const qc::BatchRow> rows) {
  std::string out = "{\"batch\":";
  textio::append_json_string(out, batch);
  out += ",\"runs\":[";
  for (std::size_t r = 0; r < runs.size(); ++r) {
    if (r > 0) out += ',';
    out += "{\"name\":";
    textio::append_json_string(out, runs[r].name);
    const qc::TicTable* table = nullptr;
    for (const qc::Metric& metric : runs[r].metrics) {
      if (const auto* t = std::get_if<qc::TicTable>(&metric.value)) table = t;
    }
    // The chromatogram's points with a finite time (a damaged run's others
    // would leave no time axis for any run).
    std::vector<double> rt;
    std::vector<double> tic;
    for (std::size_t i = 0; table && i < table->retention_times_sec.size(); ++i) {
      if (!std::isfinite(table->retention_times_sec[i])) continue;
      rt.push_back(table->retention_times_sec[i]);
      tic.push_back(table->total_ion_currents[i]);
    }
    out += ",\"rt\":";
    append_values(out, rt);
    out += ",\"tic\":";
    append_values(out, tic);
    out += '}';
  }
  out += "],\"metrics\":[";
  // Each scalar, and each element of a quantile tuple, as its own metric.
  using Key = std::pair<std::string_view, std::optional<std::size_t>>;
  std::vector<Key> order;
  for (const qc::BatchRow& row : rows) {
    if (row.term.accession == kTicTable) continue;
    const Key key{row.term.accession, row.element};
    if (std::find(order.begin(), order.end(), key) == order.end()) order.push_back(key);
  }
  for (std::size_t m = 0; m < order.size(); ++m) {
    std::vector<double> values(runs.size(), std::nan(""));
    std::vector<double> z(runs.size(), std::nan(""));
    std::string name;
    for (const qc::BatchRow& row : rows) {
      if (Key{row.term.accession, row.element} != order[m]) continue;
      name = row.term.name;
      if (row.element) name += " [" + std::to_string(*row.element) + "]";
      values[row.run] = row.value;
      if (row.robust_z) z[row.run] = *row.robust_z;
    }
    if (m > 0) out += ',';
    out += "{\"accession\":";
    textio::append_json_string(out, order[m].first);
    out += ",\"name\":";
    textio::append_json_string(out, name);
    out += ",\"values\":";
    append_values(out, values);
    out += ",\"z\":";
    append_values(out, z);
    out += '}';
  }
  out += "]}";
  return out;
}

}  // namespace

bool report_available() { return true; }

std::string report_unavailable_reason() { return {}; }

std::string report_html(std::string_view batch, std::span<const qc::RunQuality> runs,
                        std::span<const qc::BatchRow> rows) {
  // Inside the page's script element no "<" may appear ("</script>" would
  // end it): JSON writes it as \u003c, which only a string can hold.
  std::string data;
  for (const char c : report_data(batch, runs, rows)) {
    if (c == '<') {
      data += "\\u003c";
    } else {
      data += c;
    }
  }
  const std::string_view page = report_page();
  constexpr std::string_view kMarker = "/*DATA*/";
  const std::size_t at = page.find(kMarker);
  std::string out(page.substr(0, at));
  out += data;
  out += page.substr(at + kMarker.size());
  return out;
}

}  // namespace velmoran::cli
