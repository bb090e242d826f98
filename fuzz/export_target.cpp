// One spectrum record carved from the input, with any values a damaged
// scan table or data block can hand over (NaN, infinities, 2^31 and more,
// tiny and negative numbers), through the mzML spectrum writer in every
// compression and through the MGF writer. The mzML element must be
// well-formed, with every parameter value a finite number, and each array
// must decode (base64, zlib, numpress by the reference library) to the
// record's values: bit for bit without numpress, within numpress's bound
// with it. The MGF block must hold only finite numbers, exactly the
// record's finite points, or not be written at all.
#include <charconv>
#include <cmath>
#include <cstring>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include <libdeflate.h>
#include <libmsnumpress/MSNumpress.hpp>

#include <velmoran/export/mgf.hpp>
#include <velmoran/export/mzml.hpp>

#include "check.hpp"
#include "targets.hpp"

namespace velmoran::fuzz {

namespace {

namespace ex = exporting;
namespace reference = ms::numpress::MSNumpress;

quorlith::SpectrumRecord record_of(const ExportInput& in) {
  quorlith::SpectrumRecord record;
  record.scan_id = in.scan_id;
  record.index = in.scan_id;
  record.ms_level = in.ms_level;
  record.retention_time_sec = in.retention_time_sec;
  record.mz.assign(in.mz.begin(), in.mz.end());
  record.intensity.assign(in.intensity.begin(), in.intensity.end());
  if ((in.flags & kShortIntensity) != 0 && !record.intensity.empty()) record.intensity.pop_back();
  if ((in.flags & kHasMzRange) != 0) {
    record.mz_range_low = in.mz_range_low;
    record.mz_range_high = in.mz_range_high;
  }
  if ((in.flags & kHasPrecursor) != 0) {
    record.precursor.emplace();
    if ((in.flags & kHasSelectedMz) != 0) record.precursor->selected_mz = in.selected_mz;
  }
  return record;
}

bool parses_as_finite(std::string_view text) {
  double value = 0.0;
  const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && ec == std::errc{} && end == text.data() + text.size() &&
         std::isfinite(value);
}

// A well-formedness check sized to what the writer produces: elements
// nest and close in order, attributes are name="value" with no raw '<',
// and every value="..." is a finite number. Text between elements is
// whitespace, or base64 inside <binary>.
void check_well_formed(std::string_view xml) {
  std::vector<std::string_view> open;
  std::size_t i = 0;
  while (i < xml.size()) {
    if (xml[i] != '<') {
      const char c = xml[i];
      const bool base64 = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                          (c >= '0' && c <= '9') || c == '+' || c == '/' || c == '=';
      VELMORAN_FUZZ_CHECK(c == ' ' || c == '\n' ||
                          (base64 && !open.empty() && open.back() == "binary"));
      ++i;
      continue;
    }
    const std::size_t close = xml.find('>', i);
    VELMORAN_FUZZ_CHECK(close != std::string_view::npos);
    std::string_view tag = xml.substr(i + 1, close - i - 1);
    i = close + 1;
    if (tag.starts_with('/')) {
      VELMORAN_FUZZ_CHECK(!open.empty() && open.back() == tag.substr(1));
      open.pop_back();
      continue;
    }
    const bool empty_element = tag.ends_with('/');
    if (empty_element) tag.remove_suffix(1);
    const std::string_view name = tag.substr(0, tag.find(' '));
    VELMORAN_FUZZ_CHECK(!name.empty());
    std::string_view attributes = tag.substr(name.size());
    while (!attributes.empty()) {
      VELMORAN_FUZZ_CHECK(attributes.starts_with(' '));
      const std::size_t equals = attributes.find("=\"");
      VELMORAN_FUZZ_CHECK(equals != std::string_view::npos);
      const std::string_view attribute = attributes.substr(1, equals - 1);
      const std::size_t end = attributes.find('"', equals + 2);
      VELMORAN_FUZZ_CHECK(end != std::string_view::npos);
      const std::string_view value = attributes.substr(equals + 2, end - equals - 2);
      VELMORAN_FUZZ_CHECK(value.find('<') == std::string_view::npos);
      if (attribute == "value" && name == "cvParam") VELMORAN_FUZZ_CHECK(parses_as_finite(value));
      attributes = attributes.substr(end + 1);
    }
    if (!empty_element) open.push_back(name);
  }
  VELMORAN_FUZZ_CHECK(open.empty());
}

std::vector<std::uint8_t> base64_decode(std::string_view text) {
  VELMORAN_FUZZ_CHECK(text.size() % 4 == 0);
  const auto sextet = [](char c) -> std::uint32_t {
    if (c >= 'A' && c <= 'Z') return static_cast<std::uint32_t>(c - 'A');
    if (c >= 'a' && c <= 'z') return static_cast<std::uint32_t>(c - 'a' + 26);
    if (c >= '0' && c <= '9') return static_cast<std::uint32_t>(c - '0' + 52);
    return c == '+' ? 62u : 63u;
  };
  std::vector<std::uint8_t> out;
  for (std::size_t i = 0; i < text.size(); i += 4) {
    std::uint32_t v = 0;
    std::size_t padding = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      padding += text[i + j] == '=' ? 1U : 0U;
      v = (v << 6) | (text[i + j] == '=' ? 0u : sextet(text[i + j]));
    }
    for (std::size_t j = 0; j < 3 - padding; ++j) {
      out.push_back(static_cast<std::uint8_t>(v >> (16 - 8 * j)));
    }
  }
  return out;
}

std::vector<std::uint8_t> inflate(const std::vector<std::uint8_t>& stream, std::size_t limit) {
  const std::unique_ptr<libdeflate_decompressor, void (*)(libdeflate_decompressor*)> d(
      libdeflate_alloc_decompressor(), libdeflate_free_decompressor);
  VELMORAN_FUZZ_CHECK(d != nullptr);
  std::vector<std::uint8_t> out(limit);
  std::size_t produced = 0;
  VELMORAN_FUZZ_CHECK(libdeflate_zlib_decompress(d.get(), stream.data(), stream.size(), out.data(),
                                                 out.size(), &produced) == LIBDEFLATE_SUCCESS);
  out.resize(produced);
  return out;
}

double fixed_point_of(const std::vector<std::uint8_t>& bytes) {
  VELMORAN_FUZZ_CHECK(bytes.size() >= 8);
  std::uint64_t bits = 0;
  for (std::size_t i = 0; i < 8; ++i) bits = (bits << 8) | bytes[i];
  double scale = 0.0;
  std::memcpy(&scale, &bits, sizeof scale);
  return scale;
}

// Checks one <binaryDataArray> element against the values it must hold.
template <class T>
void check_array(std::string_view element, const std::vector<T>& want) {
  const std::size_t open = element.find("<binary>");
  const std::string_view text =
      open == std::string_view::npos
          ? std::string_view()
          : element.substr(open + 8, element.find("</binary>") - open - 8);
  VELMORAN_FUZZ_CHECK(element.find("encodedLength=\"" + std::to_string(text.size()) + "\"") !=
                      std::string_view::npos);
  if (want.empty()) {
    VELMORAN_FUZZ_CHECK(text.empty());
    return;
  }
  std::vector<std::uint8_t> bytes = base64_decode(text);
  const std::size_t width = element.find("MS:1000523") != std::string_view::npos ? 8 : 4;
  VELMORAN_FUZZ_CHECK(width == sizeof(T));
  if (element.find("MS:1000576") != std::string_view::npos) {         // none
  } else if (element.find("MS:1000574") != std::string_view::npos) {  // zlib
    bytes = inflate(bytes, want.size() * sizeof(T));
  } else {
    const std::vector<std::uint8_t> packed = inflate(bytes, 16 + 5 * want.size());
    const double scale = fixed_point_of(packed);
    VELMORAN_FUZZ_CHECK(scale >= 1.0 && std::isfinite(scale));
    std::vector<double> decoded;
    if (element.find("MS:1002746") != std::string_view::npos) {
      reference::decodeLinear(packed, decoded);
      VELMORAN_FUZZ_CHECK(decoded.size() == want.size());
      for (std::size_t i = 0; i < want.size(); ++i) {
        const double v = static_cast<double>(want[i]);
        VELMORAN_FUZZ_CHECK(std::abs(decoded[i] - v) <= 0.5000001 / scale + 1e-15 * v);
      }
    } else {
      VELMORAN_FUZZ_CHECK(element.find("MS:1002748") != std::string_view::npos);
      reference::decodeSlof(packed, decoded);
      VELMORAN_FUZZ_CHECK(decoded.size() == want.size());
      for (std::size_t i = 0; i < want.size(); ++i) {
        const double logged = std::log(static_cast<double>(want[i]) + 1.0);
        VELMORAN_FUZZ_CHECK(std::abs(std::log(decoded[i] + 1.0) - logged) <= 0.5000001 / scale);
      }
    }
    return;
  }
  VELMORAN_FUZZ_CHECK(bytes.size() == want.size() * sizeof(T));
  VELMORAN_FUZZ_CHECK(std::memcmp(bytes.data(), want.data(), bytes.size()) == 0);
}

void check_mzml(const quorlith::SpectrumRecord& record, const ExportInput& in,
                ex::Compression compression, ex::EncodeScratch& scratch) {
  std::string text;
  const ex::SpectrumPlace place{0, (in.flags & kProfile) != 0, std::nullopt};
  const ex::IdForm ids = (in.flags & kIndexIds) != 0 ? ex::IdForm::kIndex : ex::IdForm::kScan;
  const ex::SpectrumSummary summary =
      ex::append_mzml_spectrum(text, record, place, ids, compression, scratch);
  const std::size_t points = std::min(record.mz.size(), record.intensity.size());
  VELMORAN_FUZZ_CHECK(summary.points == points);
  check_well_formed(text);
  VELMORAN_FUZZ_CHECK(text.find("defaultArrayLength=\"" + std::to_string(points) + "\"") !=
                      std::string::npos);
  const std::size_t mz_at = text.find("<binaryDataArray ");
  const std::size_t intensity_at = text.find("<binaryDataArray ", mz_at + 1);
  VELMORAN_FUZZ_CHECK(mz_at != std::string::npos && intensity_at != std::string::npos);
  const std::string_view view(text);
  const std::span<const double> mz(record.mz.data(), points);
  const std::span<const float> intensity(record.intensity.data(), points);
  check_array(view.substr(mz_at, intensity_at - mz_at), std::vector<double>(mz.begin(), mz.end()));
  check_array(view.substr(intensity_at), std::vector<float>(intensity.begin(), intensity.end()));
}

void check_mgf(const quorlith::SpectrumRecord& record) {
  if (!ex::mgf_wants(record)) return;
  std::string text;
  const std::size_t written = ex::append_mgf_ions(text, record, "run");
  std::vector<std::pair<double, float>> finite;
  for (std::size_t i = 0; i < std::min(record.mz.size(), record.intensity.size()); ++i) {
    if (std::isfinite(record.mz[i]) && std::isfinite(record.intensity[i])) {
      finite.emplace_back(record.mz[i], record.intensity[i]);
    }
  }
  VELMORAN_FUZZ_CHECK(written == finite.size());
  if (written == 0) {
    VELMORAN_FUZZ_CHECK(text.empty());
    return;
  }
  std::string_view rest(text);
  const auto line = [&rest] {
    const std::size_t end = rest.find('\n');
    VELMORAN_FUZZ_CHECK(end != std::string_view::npos);
    const std::string_view taken = rest.substr(0, end);
    rest = rest.substr(end + 1);
    return taken;
  };
  VELMORAN_FUZZ_CHECK(line() == "BEGIN IONS");
  VELMORAN_FUZZ_CHECK(line() == "TITLE=run scan=" + std::to_string(record.scan_id));
  std::string_view next = line();
  if (next.starts_with("RTINSECONDS=")) {
    VELMORAN_FUZZ_CHECK(parses_as_finite(next.substr(12)));
    next = line();
  } else {
    VELMORAN_FUZZ_CHECK(!std::isfinite(record.retention_time_sec));
  }
  VELMORAN_FUZZ_CHECK(next.starts_with("PEPMASS=") && parses_as_finite(next.substr(8)));
  VELMORAN_FUZZ_CHECK(line().starts_with("SCANS="));
  for (const auto& [mz, intensity] : finite) {
    const std::string_view peak = line();
    const std::size_t space = peak.find(' ');
    double read_mz = 0.0;
    float read_intensity = 0.0F;
    VELMORAN_FUZZ_CHECK(space != std::string_view::npos);
    VELMORAN_FUZZ_CHECK(std::from_chars(peak.data(), peak.data() + space, read_mz).ec ==
                        std::errc{});
    VELMORAN_FUZZ_CHECK(
        std::from_chars(peak.data() + space + 1, peak.data() + peak.size(), read_intensity).ec ==
        std::errc{});
    VELMORAN_FUZZ_CHECK(read_mz == mz && read_intensity == intensity);
  }
  VELMORAN_FUZZ_CHECK(line() == "END IONS" && rest.empty());
}

}  // namespace

void run_export(ByteView input) {
  const ExportInput carved = split_export_input(input);
  const quorlith::SpectrumRecord record = record_of(carved);
  ex::EncodeScratch scratch;
  for (const auto compression :
       {ex::Compression::kZlib, ex::Compression::kNone, ex::Compression::kNumpress}) {
    check_mzml(record, carved, compression, scratch);
  }
  check_mgf(record);
}

}  // namespace velmoran::fuzz
