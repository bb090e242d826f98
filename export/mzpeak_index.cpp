#include "mzpeak_members.hpp"

#include <optional>
#include <utility>

#include <velmoran/textio/escape.hpp>

namespace velmoran::exporting {

namespace {

// The draft's version this archive follows, and the vocabularies it names.
constexpr std::string_view kMzpeakVersion = "0.9.0";
constexpr std::string_view kPsiMsVersion = "4.1.257";
constexpr std::string_view kUoVersion = "2026-01-16";

// One parameter of the index's JSON: {"accession", "name"[, "value"]}.
void param(std::string& out, std::string_view accession, std::string_view name,
           std::optional<std::string_view> value = std::nullopt) {
  out += R"({"accession":)";
  textio::append_json_string(out, accession);
  out += R"(,"name":)";
  textio::append_json_string(out, name);
  if (value) {
    out += R"(,"value":)";
    textio::append_json_string(out, *value);
  }
  out += '}';
}

}  // namespace

std::string index_json(const std::vector<Member>& members, const IndexFacts& facts) {
  std::string out = "{\n\"files\":[";
  for (std::size_t i = 0; i < members.size(); ++i) {
    out += i ? ",\n" : "\n";
    out += R"({"name":)";
    textio::append_json_string(out, members[i].name);
    out += R"(,"entity_type":)";
    textio::append_json_string(out, members[i].entity_type);
    out += R"(,"data_kind":)";
    textio::append_json_string(out, members[i].data_kind);
    out += R"(,"column_mapping":[],"parameters":[]})";
  }
  out += "\n],\n\"metadata\":{\n\"version\":";
  textio::append_json_string(out, kMzpeakVersion);
  out += ",\n\"cv_list\":[";
  out += R"({"id":"MS","full_name":"Proteomics Standards Initiative Mass Spectrometry Ontology",)";
  out += R"("uri":"http://purl.obolibrary.org/obo/ms/)";
  out += kPsiMsVersion;
  out += R"(/psi-ms.obo","version":")";
  out += kPsiMsVersion;
  out += R"("},{"id":"UO","full_name":"Units of measurement ontology",)";
  out += R"("uri":"http://purl.obolibrary.org/obo/uo/releases/)";
  out += kUoVersion;
  out += R"(/uo.obo","version":")";
  out += kUoVersion;
  out += "\"}],\n\"file_description\":{\"contents\":[";
  std::vector<std::pair<std::string_view, std::string_view>> contents;
  if (facts.has_ms1) contents.emplace_back("MS:1000579", "MS1 spectrum");
  if (facts.has_msn) contents.emplace_back("MS:1000580", "MSn spectrum");
  contents.emplace_back("MS:1000235", "total ion current chromatogram");
  contents.emplace_back("MS:1000628", "basepeak chromatogram");
  for (std::size_t i = 0; i < contents.size(); ++i) {
    if (i) out += ',';
    param(out, contents[i].first, contents[i].second);
  }
  out += R"(],"source_files":[{"id":"RUN","name":)";
  textio::append_json_string(out, facts.run_name);
  out += R"(,"location":"file:///","parameters":[)";
  if (facts.ids == textio::IdForm::kScan) {
    param(out, "MS:1000776", "scan number only nativeID format");
  } else {
    param(out, "MS:1000774", "multiple peak list nativeID format");
  }
  out += "]}]},\n\"software_list\":[{\"id\":\"velmoran\",\"version\":";
  textio::append_json_string(out, facts.software_version);
  out += R"(,"parameters":[)";
  param(out, "MS:1000799", "custom unreleased software tool", "velmoran");
  out += "]}],\n\"data_processing_method_list\":[{\"id\":\"velmoran_conversion\",\"methods\":[";
  out += R"({"order":0,"software_reference":"velmoran","parameters":[)";
  param(out, "MS:1000530", "file format conversion");
  out += "]}";
  if (facts.peak_picking) {
    out += R"(,{"order":1,"software_reference":"velmoran","parameters":[)";
    param(out, "MS:1000035", "peak picking");
    out += "]}";
  }
  out += "]}]\n}\n}\n";
  return out;
}

}  // namespace velmoran::exporting
