#include <velmoran/qc/mzqc.hpp>

#include <cmath>
#include <cstdlib>
#include <ctime>
#include <map>
#include <variant>

#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/number_text.hpp>
#include <velmoran/textio/numbers.hpp>

namespace velmoran::qc {

namespace {

// The vocabularies the terms come from; the version is the data-version of
// the PSI-MS file the terms were read from.
constexpr std::string_view kPsiMsVersion = "4.1.257";
constexpr std::string_view kPsiMsUri =
    "https://github.com/HUPO-PSI/psi-ms-CV/releases/download/4.1.257/psi-ms.obo";
constexpr std::string_view kUoUri = "http://purl.obolibrary.org/obo/uo.owl";
// The program's own terms (kUnreadableSpectra), named only when used.
constexpr std::string_view kLocalUri = "urn:velmoran:qc-terms";

bool uses_local_term(std::span<const RunQuality> runs) {
  for (const RunQuality& run : runs) {
    for (const Metric& metric : run.metrics) {
      if (metric.term.accession == kUnreadableSpectra.accession) return true;
    }
  }
  return false;
}

void append_string(std::string& out, std::string_view text) {
  textio::append_json_string(out, text);
}

// A number; JSON has none for NaN or the infinities, which become null.
void append_json_number(std::string& out, double value) {
  if (std::isfinite(value)) {
    textio::append_number(out, value);
  } else {
    out += "null";
  }
}

void append_json_number(std::string& out, std::int64_t value) { textio::append_number(out, value); }
void append_json_number(std::string& out, std::uint64_t value) {
  textio::append_number(out, value);
}

template <class T>
void append_array(std::string& out, const std::vector<T>& values) {
  out += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i > 0) out += ", ";
    if constexpr (std::is_same_v<T, std::string>) {
      append_string(out, values[i]);
    } else {
      append_json_number(out, values[i]);
    }
  }
  out += ']';
}

// {"accession": ..., "name": ...}
void append_term(std::string& out, Term term) {
  out += "{\"accession\": ";
  append_string(out, term.accession);
  out += ", \"name\": ";
  append_string(out, term.name);
  out += '}';
}

void append_value(std::string& out, const MetricValue& value) {
  if (const auto* table = std::get_if<TicTable>(&value)) {
    // The table's columns keyed by their terms: native id, retention time,
    // number of peaks, total ion current.
    out += "{\n          \"MS:1000767\": ";
    append_array(out, table->native_ids);
    out += ",\n          \"MS:1000894\": ";
    append_array(out, table->retention_times_sec);
    out += ",\n          \"MS:1003059\": ";
    append_array(out, table->points);
    out += ",\n          \"MS:1000285\": ";
    append_array(out, table->total_ion_currents);
    out += "\n        }";
    return;
  }
  std::visit(
      [&](const auto& v) {
        using T = std::decay_t<decltype(v)>;
        if constexpr (std::is_same_v<T, std::int64_t> || std::is_same_v<T, double>) {
          append_json_number(out, v);
        } else if constexpr (!std::is_same_v<T, TicTable>) {
          append_array(out, v);
        }
      },
      value);
}

void append_metric(std::string& out, const Metric& metric) {
  out += "        {\"accession\": ";
  append_string(out, metric.term.accession);
  out += ", \"name\": ";
  append_string(out, metric.term.name);
  if (!metric.unit.accession.empty()) {
    out += ",\n         \"unit\": ";
    append_term(out, metric.unit);
  }
  out += ",\n         \"value\": ";
  append_value(out, metric.value);
  out += '}';
}

void append_software(std::string& out, std::string_view version) {
  out +=
      "        \"analysisSoftware\": [{\"accession\": \"MS:1000799\", "
      "\"name\": \"custom unreleased software tool\", \"value\": \"velmoran\", \"version\": ";
  append_string(out, version);
  out += "}]";
}

void append_input_file(std::string& out, const RunQuality& run) {
  out += "          {\"name\": ";
  append_string(out, run.name);
  out += ", \"location\": ";
  append_string(out, file_uri(run.location));
  out +=
      ",\n           \"fileFormat\": {\"accession\": \"MS:1000560\", "
      "\"name\": \"mass spectrometer file format\"},\n"
      "           \"fileProperties\": [{\"accession\": \"MS:1003151\", \"name\": \"SHA-256\", "
      "\"value\": ";
  append_string(out, run.scan_table_sha256);
  out += "}]}";
}

void append_metadata(std::string& out, std::string_view label, std::span<const RunQuality> runs,
                     std::string_view version) {
  out += "      \"metadata\": {\n        \"label\": ";
  append_string(out, label);
  out += ",\n        \"inputFiles\": [\n";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) out += ",\n";
    append_input_file(out, runs[i]);
  }
  out += "\n        ],\n";
  append_software(out, version);
  out += "\n      },\n";
}

void append_metrics(std::string& out, const std::vector<Metric>& metrics) {
  out += "      \"qualityMetrics\": [\n";
  for (std::size_t i = 0; i < metrics.size(); ++i) {
    if (i > 0) out += ",\n";
    append_metric(out, metrics[i]);
  }
  out += "\n      ]\n";
}

// The batch's metrics: each single-valued metric that any run has, in
// the order of the accessions (so that the order of the runs changes only
// the order of the values), with one value per run in the order of the
// input files, null where a run lacks it. Every run has MS:4000059, so the
// list is never empty.
std::vector<Metric> batch_metrics(std::span<const RunQuality> runs) {
  std::map<std::string_view, const Metric*> first_of;
  for (const RunQuality& run : runs) {
    for (const Metric& metric : run.metrics) {
      if (std::holds_alternative<std::int64_t>(metric.value) ||
          std::holds_alternative<double>(metric.value)) {
        first_of.emplace(metric.term.accession, &metric);
      }
    }
  }
  std::vector<Metric> out;
  for (const auto& [accession, first] : first_of) {
    std::vector<double> values;
    for (const RunQuality& run : runs) {
      double value = std::nan("");
      for (const Metric& metric : run.metrics) {
        if (metric.term.accession == accession) value = metric_elements(metric.value)[0];
      }
      values.push_back(value);
    }
    out.push_back({first->term, first->unit, std::move(values)});
  }
  return out;
}

}  // namespace

std::string utc_date_time(std::int64_t seconds) {
  const auto time = static_cast<std::time_t>(seconds);
  std::tm parts{};
  gmtime_r(&time, &parts);
  char text[32];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
  return {text, n};
}

std::string creation_date() {
  if (const char* pinned = std::getenv("SOURCE_DATE_EPOCH")) {
    const std::optional<double> seconds = textio::parse_finite(pinned);
    if (seconds && *seconds >= 0 && *seconds < 253402300800.0 && std::floor(*seconds) == *seconds) {
      return utc_date_time(static_cast<std::int64_t>(*seconds));
    }
  }
  return utc_date_time(static_cast<std::int64_t>(std::time(nullptr)));
}

std::string file_uri(const std::filesystem::path& absolute) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out = "file://";
  for (const char c : absolute.string()) {
    const auto byte = static_cast<unsigned char>(c);
    const bool unreserved = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                            (byte >= '0' && byte <= '9') || c == '-' || c == '.' || c == '_' ||
                            c == '~' || c == '/';
    if (unreserved) {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xF];
    }
  }
  return out;
}

std::string mzqc_document(std::span<const RunQuality> runs, std::string_view batch,
                          std::string_view date, std::string_view version) {
  std::string out = "{\n  \"mzQC\": {\n    \"version\": \"1.0.0\",\n    \"creationDate\": ";
  append_string(out, date);
  out += ",\n    \"runQualities\": [\n";
  for (std::size_t i = 0; i < runs.size(); ++i) {
    if (i > 0) out += ",\n";
    out += "    {\n";
    append_metadata(out, runs[i].name, runs.subspan(i, 1), version);
    append_metrics(out, runs[i].metrics);
    out += "    }";
  }
  out += "\n    ],\n";
  if (runs.size() > 1) {
    out += "    \"setQualities\": [\n    {\n";
    append_metadata(out, batch, runs, version);
    append_metrics(out, batch_metrics(runs));
    out += "    }\n    ],\n";
  }
  out +=
      "    \"controlledVocabularies\": [\n      {\"name\": \"Proteomics Standards Initiative "
      "Mass Spectrometry Ontology\", \"uri\": ";
  append_string(out, kPsiMsUri);
  out += ", \"version\": ";
  append_string(out, kPsiMsVersion);
  out += "},\n      {\"name\": \"Unit Ontology\", \"uri\": ";
  append_string(out, kUoUri);
  out += '}';
  if (uses_local_term(runs)) {
    out += ",\n      {\"name\": \"velmoran local terms\", \"uri\": ";
    append_string(out, kLocalUri);
    out += '}';
  }
  out += "\n    ]\n  }\n}\n";
  return out;
}

}  // namespace velmoran::qc
