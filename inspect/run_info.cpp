#include <velmoran/inspect/run_info.hpp>

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <limits>
#include <filesystem>
#include <span>
#include <utility>
#include <system_error>

#include <velmoran/inspect/table.hpp>
#include <velmoran/pipeline/spectrum_pipeline.hpp>
#include <velmoran/representation.hpp>
#include <velmoran/textio/escape.hpp>
#include <velmoran/textio/number_text.hpp>
#include <velmoran/analysis/spectrum_summary.hpp>

namespace velmoran::inspect {

using textio::append_json_string;

namespace {

std::optional<std::uint64_t> size_of(const std::filesystem::path& file) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(file, ec);
  if (ec) return std::nullopt;
  return static_cast<std::uint64_t>(size);
}

// Widens the range [low, high] (absent: empty) to hold [min, max].
void widen(std::optional<double>& low, std::optional<double>& high, double min, double max) {
  low = low ? std::min(*low, min) : min;
  high = high ? std::max(*high, max) : max;
}

// `value` rounded to `decimals` places, as a person reads it ("163.54").
// Values no run holds but a damaged table may (1e300, inf, nan) keep their
// shortest text rather than hundreds of digits.
std::string rounded(double value, int decimals) {
  if (!(std::abs(value) < 1e15)) return textio::number_text(value);
  std::array<char, 64> text;
  const auto result = std::to_chars(text.data(), text.data() + text.size(), value,
                                    std::chars_format::fixed, decimals);
  return {text.data(), result.ptr};
}

template <class T>
void append_value(std::string& out, const std::optional<T>& value) {
  if (value) {
    textio::append_number(out, *value);
  } else {
    out += "absent";
  }
}

template <class T>
void append_json_value(std::string& out, const std::optional<T>& value) {
  if (value) {
    append_json_number(out, *value);
  } else {
    out += "null";
  }
}

}  // namespace

RunInfo run_info(const Reader& reader) {
  RunInfo info;
  info.name = reader.name();
  info.path = reader.path().string();
  const raw::MSScan& table = reader.scans();
  info.record_length = table.record_stride;
  info.scans = table.records.size();
  info.scan_table_bytes = size_of(reader.peak_path().parent_path() / "MSScan.bin");
  info.peak_bytes = size_of(reader.peak_path());
  info.profile_bytes = size_of(reader.profile_path());
  info.channels = channel_summaries(table, nullptr);

  pipeline::for_each_spectrum(reader, [&](quorlith::SpectrumRecord& record) {
    ++info.scans_by_ms_level[record.ms_level];
    widen(info.rt_sec_min, info.rt_sec_max, record.retention_time_sec, record.retention_time_sec);
    const Representation representation = representation_of(reader, record);
    switch (representation) {
      case Representation::profile:
        ++info.profile_spectra;
        break;
      case Representation::centroid:
        ++info.centroid_spectra;
        break;
      case Representation::empty:
        ++info.empty_spectra;
        return true;
    }
    info.points += record.mz.size();
    // A profile's m/z axis is first + step * i, monotone in i: its ends are
    // its bounds (unless they are NaN).
    const bool profile = representation == Representation::profile;
    const double first = record.mz.front();
    const double last = record.mz.back();
    const auto [low, high] = profile && first == first && last == last
                                 ? std::pair{std::min(first, last), std::max(first, last)}
                                 : analysis::bounds(record.mz);
    if (low <= high) widen(info.mz_min, info.mz_max, low, high);
    return true;
  });
  return info;
}

std::string info_text(const RunInfo& info) {
  std::string out;
  const auto line = [&](std::string_view key, const std::string& value) {
    out += key;
    out.append(key.size() < 16 ? 16 - key.size() : 1, ' ');
    out += value;
    out += '\n';
  };
  const auto number = [](auto value) { return textio::number_text(value); };
  // Times to the hundredth of a second and m/z to 4 decimals, as a person
  // reads them; info_json keeps the exact values.
  const auto range = [](const std::optional<double>& low, const std::optional<double>& high,
                        int decimals, std::string_view unit) {
    if (!low || !high) return std::string("absent");
    return rounded(*low, decimals) + " to " + rounded(*high, decimals) + std::string(unit);
  };
  const auto bytes = [](const std::optional<std::uint64_t>& size) {
    std::string text;
    append_value(text, size);
    if (size) text += " bytes";
    return text;
  };

  line("name", info.name);
  line("path", info.path);
  line("record length", number(info.record_length) + " bytes");
  line("scans", number(info.scans));
  for (const auto& [level, count] : info.scans_by_ms_level) {
    line("  MS" + number(level), number(count));
  }
  line("spectra", number(info.profile_spectra) + " profile, " + number(info.centroid_spectra) +
                      " centroid, " + number(info.empty_spectra) + " empty");
  line("points", number(info.points));
  line("retention time", range(info.rt_sec_min, info.rt_sec_max, 2, " s"));
  line("m/z", range(info.mz_min, info.mz_max, 4, ""));
  line("MSScan.bin", bytes(info.scan_table_bytes));
  line("MSPeak.bin", bytes(info.peak_bytes));
  line("MSProfile.bin", bytes(info.profile_bytes));
  if (!info.channels.empty()) out += channels_text(info.channels);
  return out;
}

std::string info_json(const RunInfo& info) {
  std::string out = "{\"name\":";
  append_json_string(out, info.name);
  out += ",\"path\":";
  append_json_string(out, info.path);
  out += ",\"record_length\":";
  append_json_number(out, info.record_length);
  out += ",\"scans\":";
  append_json_number(out, info.scans);
  out += ",\"scans_by_ms_level\":{";
  bool first = true;
  for (const auto& [level, count] : info.scans_by_ms_level) {
    if (!first) out += ',';
    first = false;
    out += '"';
    textio::append_number(out, level);
    out += "\":";
    append_json_number(out, count);
  }
  out += "},\"profile_spectra\":";
  append_json_number(out, info.profile_spectra);
  out += ",\"centroid_spectra\":";
  append_json_number(out, info.centroid_spectra);
  out += ",\"empty_spectra\":";
  append_json_number(out, info.empty_spectra);
  out += ",\"points\":";
  append_json_number(out, info.points);
  out += ",\"rt_sec_min\":";
  append_json_value(out, info.rt_sec_min);
  out += ",\"rt_sec_max\":";
  append_json_value(out, info.rt_sec_max);
  out += ",\"mz_min\":";
  append_json_value(out, info.mz_min);
  out += ",\"mz_max\":";
  append_json_value(out, info.mz_max);
  out += ",\"file_bytes\":{\"MSScan.bin\":";
  append_json_value(out, info.scan_table_bytes);
  out += ",\"MSPeak.bin\":";
  append_json_value(out, info.peak_bytes);
  out += ",\"MSProfile.bin\":";
  append_json_value(out, info.profile_bytes);
  out += '}';
  if (!info.channels.empty()) {
    out += ",\"channels\":";
    out += channels_json(info.channels);
  }
  out += "}\n";
  return out;
}

}  // namespace velmoran::inspect
