#include <velmoran/export/mzml_chromatograms.hpp>

#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/number_text.hpp>

namespace velmoran::exporting {

namespace {

using textio::append_number;

constexpr std::string_view kMzUnit = R"( unitCvRef="MS" unitAccession="MS:1000040" unitName="m/z")";
constexpr std::string_view kElectronvoltUnit =
    R"( unitCvRef="UO" unitAccession="UO:0000266" unitName="electronvolt")";

void isolation_window(std::string& out, std::string_view indent, double mz) {
  out += indent;
  out += "<isolationWindow>\n";
  std::string value;
  append_number(value, mz);
  append_cv_param(out, std::string(indent) + "  ", "MS:1000827", "isolation window target m/z",
                  value, kMzUnit);
  out += indent;
  out += "</isolationWindow>\n";
}

}  // namespace

std::string channel_chromatogram_id(std::uint32_t channel, const mrm::Transition* transition) {
  std::string id;
  if (transition) {
    id += "SRM SIC Q1=";
    append_number(id, transition->precursor_mz);
    id += " Q3=";
    append_number(id, transition->product_mz);
    id += ' ';
  }
  id += "channel=";
  append_number(id, channel);
  if (transition && transition->name) {
    id += " name=";
    textio::append_xml_attribute(id, *transition->name);
  }
  return id;
}

ChromatogramElement channel_chromatogram_element(std::size_t list_index,
                                                 const mrm::ChannelChromatogram& chromatogram,
                                                 const mrm::Transition* transition,
                                                 Compression compression, EncodeScratch& scratch) {
  ChromatogramElement element;
  element.id = channel_chromatogram_id(chromatogram.channel, transition);
  std::string& out = element.text;
  out += R"(<chromatogram index=")";
  append_number(out, list_index);
  out += R"(" id=")";
  out += element.id;
  out += R"(" defaultArrayLength=")";
  append_number(out, chromatogram.rt_sec.size());
  out += "\">\n";
  if (transition) {
    append_cv_param(out, "  ", "MS:1001473", "selected reaction monitoring chromatogram");
  } else {
    append_cv_param(out, "  ", "MS:1000810", "ion current chromatogram");
  }
  out += R"(  <userParam name="mrm channel" type="xsd:nonNegativeInteger" value=")";
  append_number(out, chromatogram.channel);
  out += "\"/>\n";
  if (transition) {
    out += "  <precursor>\n";
    isolation_window(out, "    ", transition->precursor_mz);
    out += "    <activation>\n";
    append_cv_param(out, "      ", "MS:1000133", "collision-induced dissociation");
    if (transition->collision_energy) {
      std::string value;
      append_number(value, *transition->collision_energy);
      append_cv_param(out, "      ", "MS:1000045", "collision energy", value, kElectronvoltUnit);
    }
    out += "    </activation>\n  </precursor>\n  <product>\n";
    isolation_window(out, "    ", transition->product_mz);
    out += "  </product>\n";
  }
  out += "  <binaryDataArrayList count=\"2\">\n";
  append_chromatogram_arrays(out, chromatogram.rt_sec, chromatogram.intensity, compression,
                             scratch);
  out += "  </binaryDataArrayList>\n</chromatogram>\n";
  return element;
}

std::vector<ChromatogramElement> channel_chromatogram_elements(
    std::span<const mrm::ChannelChromatogram> chromatograms, const mrm::TransitionList* transitions,
    Compression compression, EncodeScratch& scratch) {
  std::vector<ChromatogramElement> elements;
  elements.reserve(chromatograms.size());
  for (std::size_t i = 0; i < chromatograms.size(); ++i) {
    const mrm::Transition* transition =
        transitions ? transitions->find(chromatograms[i].channel) : nullptr;
    elements.push_back(
        channel_chromatogram_element(2 + i, chromatograms[i], transition, compression, scratch));
  }
  return elements;
}

}  // namespace velmoran::exporting
