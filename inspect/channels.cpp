#include <velmoran/inspect/channels.hpp>

#include <map>

#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/number_text.hpp>

namespace velmoran::inspect {

std::vector<ChannelSummary> channel_summaries(const raw::MSScan& table,
                                              const mrm::TransitionList* transitions) {
  std::map<std::uint32_t, std::uint64_t> counts;
  for (const raw::ScanRecord& scan : table.records) {
    if (!scan.mrm_channel) continue;
    counts[*scan.mrm_channel] += mrm::in_channel_chromatogram(scan) ? 1U : 0U;
  }
  std::vector<ChannelSummary> channels;
  channels.reserve(counts.size());
  for (const auto& [channel, scans] : counts) {
    channels.push_back({channel, scans, transitions ? transitions->find(channel) : nullptr});
  }
  return channels;
}

std::string channels_text(std::span<const ChannelSummary> channels) {
  std::string out = "channels        ";
  textio::append_number(out, channels.size());
  out += '\n';
  for (const ChannelSummary& summary : channels) {
    out += "  ";
    textio::append_number(out, summary.channel);
    out += ": ";
    textio::append_number(out, summary.scans);
    out += summary.scans == 1 ? " scan" : " scans";
    if (const mrm::Transition* t = summary.transition) {
      out += ", Q1 ";
      textio::append_number(out, t->precursor_mz);
      out += ", Q3 ";
      textio::append_number(out, t->product_mz);
      if (t->name) {
        out += ", ";
        out += textio::single_line_text(*t->name);
      }
    }
    out += '\n';
  }
  return out;
}

std::string channels_json(std::span<const ChannelSummary> channels) {
  std::string out = "[";
  for (std::size_t i = 0; i < channels.size(); ++i) {
    const ChannelSummary& summary = channels[i];
    out += i == 0 ? "{\"channel\":" : ",{\"channel\":";
    textio::append_number(out, summary.channel);
    out += ",\"scans\":";
    textio::append_number(out, summary.scans);
    const mrm::Transition* t = summary.transition;
    out += ",\"q1\":";
    if (t) {
      append_json_number(out, t->precursor_mz);
    } else {
      out += "null";
    }
    out += ",\"q3\":";
    if (t) {
      append_json_number(out, t->product_mz);
    } else {
      out += "null";
    }
    out += ",\"name\":";
    if (t && t->name) {
      textio::append_json_string(out, *t->name);
    } else {
      out += "null";
    }
    out += '}';
  }
  out += ']';
  return out;
}

Result<Done> write_channel_chromatograms(std::span<const mrm::ChannelChromatogram> chromatograms,
                                         const mrm::TransitionList* transitions, TextFormat format,
                                         textio::OutputFile& out) {
  enum Column : std::size_t { kChannel, kQ1, kQ3, kName, kIndex, kScanId, kRtSec, kIntensity };
  TableWriter writer(out, format, kChromatogramColumns);
  const TableFormat& table = writer.table();
  std::string channel_cells;
  for (const mrm::ChannelChromatogram& chromatogram : chromatograms) {
    // The channel's cells, the same on each of its rows, rendered once.
    const mrm::Transition* t = transitions ? transitions->find(chromatogram.channel) : nullptr;
    channel_cells.clear();
    table.append_number(channel_cells, kChannel, chromatogram.channel);
    table.append_optional(channel_cells, kQ1, t ? std::optional(t->precursor_mz) : std::nullopt);
    table.append_optional(channel_cells, kQ3, t ? std::optional(t->product_mz) : std::nullopt);
    if (t && t->name) {
      table.append_text(channel_cells, kName, *t->name);
    } else {
      table.append_null(channel_cells, kName);
    }
    for (std::size_t k = 0; k < chromatogram.rt_sec.size(); ++k) {
      writer.begin_row();
      std::string& row = writer.buffer();
      row += channel_cells;
      table.append_number(row, kIndex, chromatogram.index[k]);
      table.append_number(row, kScanId, chromatogram.scan_id[k]);
      table.append_number(row, kRtSec, chromatogram.rt_sec[k]);
      table.append_number(row, kIntensity, chromatogram.intensity[k]);
      if (auto r = writer.end_row(); !r) return r;
    }
  }
  return writer.finish();
}

}  // namespace velmoran::inspect
