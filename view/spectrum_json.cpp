#include "spectrum_json.hpp"

#include <cstddef>

#include <velmoran/inspect/table.hpp>
#include <velmoran/representation.hpp>
#include <velmoran/textio/escape.hpp>

namespace velmoran::view {

namespace {

template <class Values>
void append_array(std::string& out, const Values& values) {
  out += '[';
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) out += ',';
    inspect::append_json_number(out, values[i]);
  }
  out += ']';
}

}  // namespace

std::string spectrum_json(const Reader& reader, const quorlith::SpectrumRecord& record) {
  using inspect::append_json_number;
  std::string out;
  // About 24 bytes per point for the two numbers and their separators.
  out.reserve(256 + 24 * record.mz.size());
  out += "{\"index\":";
  append_json_number(out, record.index);
  out += ",\"scan_id\":";
  append_json_number(out, record.scan_id);
  out += ",\"ms_level\":";
  append_json_number(out, record.ms_level);
  out += ",\"rt_sec\":";
  append_json_number(out, record.retention_time_sec);
  out += ",\"precursor_mz\":";
  if (record.precursor && record.precursor->selected_mz) {
    append_json_number(out, *record.precursor->selected_mz);
  } else {
    out += "null";
  }
  // The scan's MRM channel, null where it has none.
  const auto& scans = reader.scans().records;
  out += ",\"mrm_channel\":";
  if (record.index < scans.size() && scans[record.index].mrm_channel) {
    append_json_number(out, *scans[record.index].mrm_channel);
  } else {
    out += "null";
  }
  out += ",\"centroided\":";
  switch (representation_of(reader, record)) {
    case Representation::profile:
      out += "false";
      break;
    case Representation::centroid:
      out += "true";
      break;
    case Representation::empty:
      out += "null";
      break;
  }
  out += ",\"mz\":";
  append_array(out, record.mz);
  out += ",\"intensity\":";
  append_array(out, record.intensity);
  out += "}\n";
  return out;
}

std::string unreadable_spectrum_json(const Reader& reader, std::size_t position,
                                     const Error& error) {
  std::string out = "{\"error\":";
  textio::append_json_string(out, "could not be read: " + error.text());
  out += ",\"index\":";
  inspect::append_json_number(out, position);
  out += ",\"scan_id\":";
  inspect::append_json_number(out, reader.scans().records[position].scan_id);
  out += "}\n";
  return out;
}

}  // namespace velmoran::view
