#include "expected_json.hpp"

#include <charconv>
#include <cmath>
#include <ostream>
#include <stdexcept>
#include <string_view>

namespace velmoran::testkit {

namespace {

// Output is gathered in a buffer and written in pieces of about this size.
constexpr std::size_t kFlushBytes = std::size_t{1} << 20;

void append_unsigned(std::string& out, std::uint64_t value) {
  char text[24];
  const auto [end, ec] = std::to_chars(text, text + sizeof text, value);
  out.append(text, end);
}

template <class T>
void append_array(std::string& out, std::ostream& sink, std::string_view key,
                  const std::vector<T>& values) {
  out += ",\"";
  out += key;
  out += "\":[";
  for (std::size_t i = 0; i < values.size(); ++i) {
    if (i != 0) out += ',';
    append_json_double(out, static_cast<double>(values[i]));
    if (out.size() >= kFlushBytes) {
      sink.write(out.data(), static_cast<std::streamsize>(out.size()));
      out.clear();
    }
  }
  out += ']';
}

}  // namespace

void append_json_double(std::string& out, double value) {
  if (!std::isfinite(value)) throw std::invalid_argument("JSON has no NaN or infinity");
  char text[32];
  const auto [end, ec] =
      std::to_chars(text, text + sizeof text, value, std::chars_format::general, 17);
  if (ec != std::errc{}) throw std::runtime_error("cannot format a number");
  out.append(text, end);
  // "3" would read back as an integer; "3.0" is the same double, as a float.
  if (std::string_view(text, end).find_first_of(".e") == std::string_view::npos) out += ".0";
}

void write_expected_json(std::ostream& sink, std::span<const ExpectedSpectrum> spectra) {
  std::string out = "{\"scans\":[";
  for (std::size_t i = 0; i < spectra.size(); ++i) {
    const ExpectedSpectrum& s = spectra[i];
    if (i != 0) out += ',';
    out += "\n{\"scan_id\":";
    append_unsigned(out, s.scan_id);
    out += ",\"ms_level\":";
    append_unsigned(out, s.ms_level);
    out += ",\"retention_time_sec\":";
    append_json_double(out, s.retention_time_sec);
    if (s.precursor_mz) {
      out += ",\"precursor_mz\":";
      append_json_double(out, *s.precursor_mz);
    }
    if (s.mrm_channel) {
      out += ",\"mrm_channel\":";
      append_unsigned(out, *s.mrm_channel);
    }
    if (s.mz_range_low && s.mz_range_high) {
      out += ",\"mz_range\":[";
      append_json_double(out, *s.mz_range_low);
      out += ',';
      append_json_double(out, *s.mz_range_high);
      out += ']';
    }
    out += s.from_profile ? ",\"from_profile\":true" : ",\"from_profile\":false";
    append_array(out, sink, "mz", s.mz);
    append_array(out, sink, "intensity", s.intensity);
    if (!s.peak_mz.empty()) {
      append_array(out, sink, "peak_mz", s.peak_mz);
      append_array(out, sink, "peak_intensity", s.peak_intensity);
    }
    out += '}';
  }
  out += "\n]}\n";
  sink.write(out.data(), static_cast<std::streamsize>(out.size()));
}

void write_truth_json(std::ostream& sink, std::span<const ExpectedSpectrum> spectra,
                      double noise_sd) {
  std::string out = "{\"noise_sd\":";
  append_json_double(out, noise_sd);
  out += ",\"scans\":[";
  for (std::size_t i = 0; i < spectra.size(); ++i) {
    const ExpectedSpectrum& s = spectra[i];
    if (i != 0) out += ',';
    out += "\n{\"scan_id\":";
    append_unsigned(out, s.scan_id);
    append_array(out, sink, "true_mz", s.true_mz);
    append_array(out, sink, "true_height", s.true_height);
    append_array(out, sink, "true_fwhm", s.true_fwhm);
    out += '}';
  }
  out += "\n]}\n";
  sink.write(out.data(), static_cast<std::streamsize>(out.size()));
}

}  // namespace velmoran::testkit
