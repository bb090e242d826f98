#include <velmoran/export/mzml.hpp>

#include <cerrno>
#include <cmath>
#include <optional>
#include <span>
#include <type_traits>
#include <utility>

#include <velmoran/analysis/survey_level.hpp>
#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/number_text.hpp>

namespace velmoran::exporting {

namespace {

using analysis::summarize;
using textio::append_number;
using textio::append_xml_attribute;
using textio::xml_id_from;

constexpr std::string_view kMzUnit = R"( unitCvRef="MS" unitAccession="MS:1000040" unitName="m/z")";
constexpr std::string_view kCountsUnit =
    R"( unitCvRef="MS" unitAccession="MS:1000131" unitName="number of detector counts")";
constexpr std::string_view kSecondUnit =
    R"( unitCvRef="UO" unitAccession="UO:0000010" unitName="second")";

// <cvParam cvRef="MS" accession="A" name="N" value="V"[unit]/>
void cv_param(std::string& out, std::string_view indent, std::string_view accession,
              std::string_view name, std::string_view value = {}, std::string_view unit = {}) {
  out += indent;
  out += R"(<cvParam cvRef=")";
  out += accession.substr(0, accession.find(':'));
  out += R"(" accession=")";
  out += accession;
  out += R"(" name=")";
  out += name;
  out += '"';
  if (!value.empty()) {
    out += R"( value=")";
    out += value;
    out += '"';
  }
  out += unit;
  out += "/>\n";
}

// A parameter with a number; left out when the number is NaN or infinite,
// which XML Schema's xs:double text and most parsers refuse.
template <class T>
void cv_number(std::string& out, std::string_view indent, std::string_view accession,
               std::string_view name, T value, std::string_view unit = {}) {
  if constexpr (std::is_floating_point_v<T>) {
    if (!std::isfinite(value)) return;
  }
  std::string text;
  append_number(text, value);
  cv_param(out, indent, accession, name, text, unit);
}

struct ArrayKind {
  std::string_view accession;
  std::string_view name;
  std::string_view unit;
};

constexpr ArrayKind kMzArray{"MS:1000514", "m/z array", kMzUnit};
constexpr ArrayKind kIntensityArray{"MS:1000515", "intensity array", kCountsUnit};
constexpr ArrayKind kTimeArray{"MS:1000595", "time array", kSecondUnit};

// One <binaryDataArray>. Numpress applies to m/z (linear) and 32-bit
// intensities (short logged float) when asked for and the values allow it;
// other arrays, and values numpress cannot hold, fall back to zlib.
template <class T>
void binary_array(std::string& out, std::string_view indent, const ArrayKind& kind,
                  std::span<const T> values, Compression compression, EncodeScratch& scratch) {
  std::string_view compression_accession = "MS:1000576";
  std::string_view compression_name = "no compression";
  std::span<const std::uint8_t> payload = raw_bytes(values);
  if (!values.empty()) {
    bool numpressed = false;
    if (compression == Compression::kNumpress) {
      if constexpr (std::is_same_v<T, float>) {
        numpressed = numpress_slof(values, scratch.widened, scratch.packed);
        compression_accession = "MS:1002748";
        compression_name =
            "MS-Numpress short logged float compression followed by zlib compression";
      } else if (kind.accession == kMzArray.accession) {
        numpressed = numpress_linear(values, scratch.packed);
        compression_accession = "MS:1002746";
        compression_name = "MS-Numpress linear prediction compression followed by zlib compression";
      }
    }
    if (numpressed) {
      ZlibCompressor& zlib = std::is_same_v<T, float> ? scratch.zlib : scratch.numpress_mz_zlib;
      zlib.compress(scratch.packed, scratch.compressed);
      payload = scratch.compressed;
    } else if (compression != Compression::kNone) {
      scratch.zlib.compress(payload, scratch.compressed);
      payload = scratch.compressed;
      compression_accession = "MS:1000574";
      compression_name = "zlib compression";
    } else {
      compression_accession = "MS:1000576";
      compression_name = "no compression";
    }
  } else if (compression != Compression::kNone) {
    // An empty array has no stream at all; say zlib so that every array of
    // the file names the same compression.
    compression_accession = "MS:1000574";
    compression_name = "zlib compression";
  }

  const std::size_t encoded = values.empty() ? 0 : base64_length(payload.size());
  out += indent;
  out += R"(<binaryDataArray encodedLength=")";
  append_number(out, encoded);
  out += "\">\n";
  std::string inner(indent);
  inner += "  ";
  if constexpr (std::is_same_v<T, float>) {
    cv_param(out, inner, "MS:1000521", "32-bit float");
  } else {
    cv_param(out, inner, "MS:1000523", "64-bit float");
  }
  cv_param(out, inner, compression_accession, compression_name);
  cv_param(out, inner, kind.accession, kind.name, {}, kind.unit);
  out += inner;
  if (values.empty()) {
    out += "<binary/>\n";
  } else {
    out += "<binary>";
    append_base64(out, payload);
    out += "</binary>\n";
  }
  out += indent;
  out += "</binaryDataArray>\n";
}

struct ChromatogramKind {
  std::string_view id;
  std::string_view accession;
  std::string_view name;
};

constexpr ChromatogramKind kTicChromatogram{"TIC", "MS:1000235", "total ion current chromatogram"};
constexpr ChromatogramKind kBpcChromatogram{"BPC", "MS:1000628", "basepeak chromatogram"};

}  // namespace

SpectrumSummary append_mzml_spectrum(std::string& out, const quorlith::SpectrumRecord& record,
                                     const SpectrumPlace& place, IdForm ids,
                                     Compression compression, EncodeScratch& scratch) {
  const std::span<const double> mz(record.mz.data(), record.mz.size());
  const std::span<const float> intensity(record.intensity.data(),
                                         std::min(record.intensity.size(), record.mz.size()));
  // A profile's intensities are whole numbers by the file format.
  const SpectrumSummary summary = summarize(mz, intensity, place.profile);
  const std::span<const double> mz_points = mz.first(summary.points);

  out += R"(<spectrum index=")";
  append_number(out, place.list_index);
  out += R"(" id=")";
  textio::append_spectrum_id(out, ids, textio::id_number(ids, record));
  out += R"(" defaultArrayLength=")";
  append_number(out, summary.points);
  out += "\">\n";

  constexpr std::string_view i1 = "  ";
  cv_number(out, i1, "MS:1000511", "ms level", record.ms_level);
  if (analysis::is_survey_level(record.ms_level)) {
    cv_param(out, i1, "MS:1000579", "MS1 spectrum");
  } else {
    cv_param(out, i1, "MS:1000580", "MSn spectrum");
  }
  if (place.profile) {
    cv_param(out, i1, "MS:1000128", "profile spectrum");
  } else {
    cv_param(out, i1, "MS:1000127", "centroid spectrum");
  }
  // Each summary only when it exists and is a number: every m/z NaN leaves
  // no observed range, every intensity NaN no base peak.
  const auto optional_number = [&](std::string_view accession, std::string_view name,
                                   const std::optional<double>& value, std::string_view unit) {
    if (value) cv_number(out, i1, accession, name, *value, unit);
  };
  if (summary.points > 0) {
    cv_number(out, i1, "MS:1000285", "total ion current", summary.total_ion_current);
  }
  optional_number("MS:1000504", "base peak m/z", summary.base_peak_mz, kMzUnit);
  optional_number("MS:1000505", "base peak intensity", summary.base_peak_intensity, kCountsUnit);
  optional_number("MS:1000528", "lowest observed m/z", summary.lowest_mz, kMzUnit);
  optional_number("MS:1000527", "highest observed m/z", summary.highest_mz, kMzUnit);
  if (place.mrm_channel) {
    out += i1;
    out += R"(<userParam name="mrm channel" type="xsd:nonNegativeInteger" value=")";
    append_number(out, *place.mrm_channel);
    out += "\"/>\n";
  }

  out += "  <scanList count=\"1\">\n";
  cv_param(out, "    ", "MS:1000795", "no combination");
  out += "    <scan>\n";
  cv_number(out, "      ", "MS:1000016", "scan start time", record.retention_time_sec, kSecondUnit);
  // The window only when both limits are numbers.
  if (record.mz_range_low && record.mz_range_high && std::isfinite(*record.mz_range_low) &&
      std::isfinite(*record.mz_range_high)) {
    out += "      <scanWindowList count=\"1\">\n        <scanWindow>\n";
    cv_number(out, "          ", "MS:1000501", "scan window lower limit", *record.mz_range_low,
              kMzUnit);
    cv_number(out, "          ", "MS:1000500", "scan window upper limit", *record.mz_range_high,
              kMzUnit);
    out += "        </scanWindow>\n      </scanWindowList>\n";
  }
  out += "    </scan>\n  </scanList>\n";

  if (!analysis::is_survey_level(record.ms_level)) {
    out += "  <precursorList count=\"1\">\n    <precursor>\n";
    const std::optional<double> selected =
        record.precursor ? record.precursor->selected_mz : std::nullopt;
    if (selected && std::isfinite(*selected)) {
      out += "      <isolationWindow>\n";
      cv_number(out, "        ", "MS:1000827", "isolation window target m/z", *selected, kMzUnit);
      out += "      </isolationWindow>\n";
      out += "      <selectedIonList count=\"1\">\n        <selectedIon>\n";
      cv_number(out, "          ", "MS:1000744", "selected ion m/z", *selected, kMzUnit);
      out += "        </selectedIon>\n      </selectedIonList>\n";
    }
    out += "      <activation>\n";
    cv_param(out, "        ", "MS:1000044", "dissociation method");
    out += "      </activation>\n    </precursor>\n  </precursorList>\n";
  }

  out += "  <binaryDataArrayList count=\"2\">\n";
  binary_array(out, "    ", kMzArray, mz_points, compression, scratch);
  binary_array(out, "    ", kIntensityArray, intensity.first(summary.points), compression, scratch);
  out += "  </binaryDataArrayList>\n</spectrum>\n";
  return summary;
}

void append_cv_param(std::string& out, std::string_view indent, std::string_view accession,
                     std::string_view name, std::string_view value, std::string_view unit) {
  cv_param(out, indent, accession, name, value, unit);
}

void append_chromatogram_arrays(std::string& out, std::span<const double> time,
                                std::span<const double> intensity, Compression compression,
                                EncodeScratch& scratch) {
  const Compression exact =
      compression == Compression::kNone ? Compression::kNone : Compression::kZlib;
  binary_array(out, "    ", kTimeArray, time, exact, scratch);
  binary_array(out, "    ", kIntensityArray, intensity, exact, scratch);
}

std::string run_id_from(std::string_view dataset_name) {
  return "run_" + xml_id_from(dataset_name);
}

MzmlWriter::MzmlWriter(OutputFile& file, MzmlRun run) : out_(file), run_(std::move(run)) {
  ids_.reserve(run_.spectrum_count);
  offsets_.reserve(run_.spectrum_count);
}

Result<Done> MzmlWriter::append(std::string_view text) {
  offset_ += text.size();
  if (run_.indexed && hashing_) sha1_.update(text);
  return out_.write(text);
}

Result<Done> MzmlWriter::begin() {
  constexpr std::string_view kNamespaces =
      R"( xmlns="http://psi.hupo.org/ms/mzml" xmlns:xsi="http://www.w3.org/2001/XMLSchema-instance")";
  std::string text = "<?xml version=\"1.0\" encoding=\"utf-8\"?>\n";
  if (run_.indexed) {
    text += "<indexedmzML";
    text += kNamespaces;
    text +=
        R"( xsi:schemaLocation="http://psi.hupo.org/ms/mzml http://psidev.info/files/ms/mzML/xsd/mzML1.1.2_idx.xsd">)";
    text += "\n";
  }
  text += "<mzML";
  text += kNamespaces;
  text +=
      R"( xsi:schemaLocation="http://psi.hupo.org/ms/mzml http://psidev.info/files/ms/mzML/xsd/mzML1.1.0.xsd" version="1.1.0">)";
  text += "\n";
  text += R"(<cvList count="2">
  <cv id="MS" fullName="Proteomics Standards Initiative Mass Spectrometry Ontology" URI="https://raw.githubusercontent.com/HUPO-PSI/psi-ms-CV/master/psi-ms.obo"/>
  <cv id="UO" fullName="Unit Ontology" URI="https://raw.githubusercontent.com/bio-ontology-research-group/unit-ontology/master/unit.obo"/>
</cvList>
<fileDescription>
  <fileContent>
)";
  if (run_.has_ms1) cv_param(text, "    ", "MS:1000579", "MS1 spectrum");
  if (run_.has_msn) cv_param(text, "    ", "MS:1000580", "MSn spectrum");
  // Every file holds the two chromatograms, also one without spectra (which
  // would otherwise leave fileContent empty).
  cv_param(text, "    ", kTicChromatogram.accession, kTicChromatogram.name);
  cv_param(text, "    ", kBpcChromatogram.accession, kBpcChromatogram.name);
  if (run_.srm_chromatograms) {
    cv_param(text, "    ", "MS:1001473", "selected reaction monitoring chromatogram");
  }
  text += "  </fileContent>\n</fileDescription>\n<softwareList count=\"1\">\n";
  text += R"(  <software id="velmoran" version=")";
  append_xml_attribute(text, run_.software_version);
  text += "\">\n";
  cv_param(text, "    ", "MS:1000799", "custom unreleased software tool", "velmoran");
  text += R"(  </software>
</softwareList>
<instrumentConfigurationList count="1">
  <instrumentConfiguration id="IC1">
)";
  cv_param(text, "    ", "MS:1000031", "instrument model");
  text += R"(  </instrumentConfiguration>
</instrumentConfigurationList>
<dataProcessingList count="1">
  <dataProcessing id="velmoran_conversion">
    <processingMethod order="0" softwareRef="velmoran">
)";
  cv_param(text, "      ", "MS:1000544", "Conversion to mzML");
  text += "    </processingMethod>\n";
  if (run_.peak_picking) {
    text += R"(    <processingMethod order="1" softwareRef="velmoran">
)";
    cv_param(text, "      ", "MS:1000035", "peak picking");
    text += "    </processingMethod>\n";
  }
  text += R"(  </dataProcessing>
</dataProcessingList>
<run id=")";
  append_xml_attribute(text, run_id_from(run_.dataset_name));
  text += R"(" defaultInstrumentConfigurationRef="IC1">
<spectrumList count=")";
  append_number(text, run_.spectrum_count);
  text += R"(" defaultDataProcessingRef="velmoran_conversion">
)";
  return append(text);
}

void MzmlWriter::place_spectrum(std::string_view element, std::uint64_t id_number,
                                std::uint32_t ms_level, double time,
                                const SpectrumSummary& summary) {
  ids_.push_back(id_number);
  offsets_.push_back(offset_);
  // The chromatograms trace the survey scans; a run written without any
  // (MRM, or fragment levels only) is traced by all its spectra.
  if (analysis::is_survey_level(ms_level) || !run_.has_ms1) {
    times_.push_back(time);
    tics_.push_back(summary.total_ion_current);
    base_peaks_.push_back(summary.base_peak_intensity.value_or(0.0));
  }
  offset_ += element.size();
  if (run_.indexed) sha1_.update(element);
}

Result<Done> MzmlWriter::write_spectrum(std::string_view element) { return out_.write(element); }

Result<Done> MzmlWriter::finish(EncodeScratch& scratch, std::span<const ChromatogramElement> more) {
  if (offsets_.size() != run_.spectrum_count) {
    return Error::parse("the run yielded " + std::to_string(offsets_.size()) +
                        " spectra where its scan table announced " +
                        std::to_string(run_.spectrum_count));
  }
  std::string text = "</spectrumList>\n";
  text += R"(<chromatogramList count=")";
  append_number(text, 2 + more.size());
  text += R"(" defaultDataProcessingRef="velmoran_conversion">
)";
  if (auto r = append(text); !r) return r;
  // Numpress is lossy; the chromatograms keep their values exact with zlib.
  const Compression exact =
      run_.compression == Compression::kNone ? Compression::kNone : Compression::kZlib;
  std::uint64_t chromatogram_offsets[2] = {};
  const std::pair<const ChromatogramKind*, const std::vector<double>*> chromatograms[2] = {
      {&kTicChromatogram, &tics_}, {&kBpcChromatogram, &base_peaks_}};
  for (std::size_t i = 0; i < 2; ++i) {
    const auto& [kind, intensities] = chromatograms[i];
    chromatogram_offsets[i] = offset_;
    text.clear();
    text += R"(<chromatogram index=")";
    append_number(text, i);
    text += R"(" id=")";
    text += kind->id;
    text += R"(" defaultArrayLength=")";
    append_number(text, times_.size());
    text += "\">\n";
    cv_param(text, "  ", kind->accession, kind->name);
    text += "  <binaryDataArrayList count=\"2\">\n";
    binary_array(text, "    ", kTimeArray, std::span<const double>(times_), exact, scratch);
    binary_array(text, "    ", ArrayKind{"MS:1000515", "intensity array", kCountsUnit},
                 std::span<const double>(*intensities), exact, scratch);
    text += "  </binaryDataArrayList>\n</chromatogram>\n";
    if (auto r = append(text); !r) return r;
  }
  std::vector<std::uint64_t> more_offsets;
  more_offsets.reserve(more.size());
  for (const ChromatogramElement& element : more) {
    more_offsets.push_back(offset_);
    if (auto r = append(element.text); !r) return r;
  }
  if (auto r = append("</chromatogramList>\n</run>\n</mzML>\n"); !r) return r;

  if (run_.indexed) {
    text.clear();
    const std::uint64_t index_list_offset = offset_;
    text += offsets_.empty() ? "<indexList count=\"1\">\n" : "<indexList count=\"2\">\n";
    if (!offsets_.empty()) {
      text += "  <index name=\"spectrum\">\n";
      for (std::size_t i = 0; i < offsets_.size(); ++i) {
        text += R"(    <offset idRef=")";
        textio::append_spectrum_id(text, run_.ids, ids_[i]);
        text += "\">";
        append_number(text, offsets_[i]);
        text += "</offset>\n";
        if (text.size() >= textio::BufferedWriter::kChunkBytes) {
          if (auto r = append(text); !r) return r;
          text.clear();
        }
      }
      text += "  </index>\n";
    }
    text += "  <index name=\"chromatogram\">\n";
    for (std::size_t i = 0; i < 2; ++i) {
      text += R"(    <offset idRef=")";
      text += chromatograms[i].first->id;
      text += "\">";
      append_number(text, chromatogram_offsets[i]);
      text += "</offset>\n";
    }
    for (std::size_t i = 0; i < more.size(); ++i) {
      text += R"(    <offset idRef=")";
      text += more[i].id;
      text += "\">";
      append_number(text, more_offsets[i]);
      text += "</offset>\n";
    }
    text += "  </index>\n</indexList>\n<indexListOffset>";
    append_number(text, index_list_offset);
    text += "</indexListOffset>\n<fileChecksum>";
    if (auto r = append(text); !r) return r;
    if (auto r = out_.flush(); !r) return r;
    text = sha1_.hex_digest();
    hashing_ = false;
    text += "</fileChecksum>\n</indexedmzML>\n";
    if (auto r = append(text); !r) return r;
  }
  return out_.flush();
}

}  // namespace velmoran::exporting
