#include "dataset_writer.hpp"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <stdexcept>

namespace velmoran::testkit {

namespace {

template <class T>
void store(ByteVector& out, std::size_t at, T value) {
  if (at + sizeof value > out.size()) out.resize(at + sizeof value);
  std::memcpy(out.data() + at, &value, sizeof value);
}

template <class T>
void append(ByteVector& out, T value) {
  store(out, out.size(), value);
}

void store_descriptor(ByteVector& record, std::size_t at, bool narrow, const Descriptor& d) {
  if (narrow) {
    store(record, at, static_cast<std::uint16_t>(d.format_id));
    at += 2;
  } else {
    store(record, at, d.format_id);
    at += 4;
  }
  store(record, at, d.offset);
  store(record, at + 8, d.byte_count);
  store(record, at + 12, d.point_count);
  store(record, at + 16, d.uncompressed_byte_count);
}

constexpr std::size_t kNo = LayoutOffsets::npos;

}  // namespace

LayoutOffsets offsets_of(Layout layout) {
  switch (layout) {
    case Layout::k284:
      return {kNo, 84, 156, 220, 244, 252, false};
    case Layout::k220:
      return {kNo, 84, 156, kNo, kNo, kNo, false};
    case Layout::k216:
      return {kNo, 84, 152, kNo, kNo, kNo, false};
    case Layout::k196:
      return {4, kNo, 144, kNo, kNo, kNo, false};
    case Layout::k186:
      return {4, kNo, 136, kNo, kNo, kNo, true};
  }
  throw std::invalid_argument("unknown layout");
}

ByteVector encode_record(Layout layout, const RecordSpec& r) {
  const LayoutOffsets at = offsets_of(layout);
  ByteVector record(stride_of(layout), 0);
  store(record, 0, r.scan_id);
  store(record, 12, r.retention_time_min);
  store(record, 20, r.ms_level);
  if (at.mrm_channel != kNo) store(record, at.mrm_channel, r.mrm_channel);
  if (at.precursor_mz != kNo) store(record, at.precursor_mz, r.precursor_mz);
  store_descriptor(record, at.first_descriptor, at.narrow_descriptors, r.first);
  if (at.second_descriptor != kNo) {
    store_descriptor(record, at.second_descriptor, at.narrow_descriptors, r.second);
  }
  if (at.mz_range_low != kNo) {
    store(record, at.mz_range_low, r.mz_range_low);
    store(record, at.mz_range_high, r.mz_range_high);
  }
  for (const auto& [offset, bytes] : r.patches) {
    if (offset + bytes.size() > record.size()) throw std::out_of_range("patch past the record");
    std::copy(bytes.begin(), bytes.end(), record.begin() + static_cast<std::ptrdiff_t>(offset));
  }
  return record;
}

ByteVector build_scan_table(const ScanTableSpec& spec) {
  ByteVector out(std::max<std::size_t>(spec.payload_offset, 92), 0);
  std::size_t at = spec.payload_offset;
  for (const RecordSpec& r : spec.records) {
    const ByteVector record = encode_record(spec.layout, r);
    if (at + record.size() > out.size()) out.resize(at + record.size());
    std::copy(record.begin(), record.end(), out.begin() + static_cast<std::ptrdiff_t>(at));
    at += record.size();
  }
  store(out, 0, spec.magic);
  store(out, 88, spec.payload_offset);
  return out;
}

ByteVector lzf_compress(std::span<const std::uint8_t> in) {
  constexpr std::size_t kMaxLiteral = 32;
  constexpr std::size_t kMaxMatch = 264;
  constexpr std::size_t kMaxDistance = 8192;
  constexpr unsigned kHashBits = 14;
  ByteVector out;
  out.reserve(in.size() + in.size() / 32 + 1);
  std::vector<std::uint32_t> table(std::size_t{1} << kHashBits, 0);  // position + 1
  std::size_t literal_start = 0;
  const auto flush_literals = [&](std::size_t end) {
    while (literal_start < end) {
      const std::size_t run = std::min(kMaxLiteral, end - literal_start);
      out.push_back(static_cast<std::uint8_t>(run - 1));
      out.insert(out.end(), in.begin() + static_cast<std::ptrdiff_t>(literal_start),
                 in.begin() + static_cast<std::ptrdiff_t>(literal_start + run));
      literal_start += run;
    }
  };
  const auto hash = [&](std::size_t i) {
    const std::uint32_t v = static_cast<std::uint32_t>(in[i]) << 16 |
                            static_cast<std::uint32_t>(in[i + 1]) << 8 | in[i + 2];
    return (v * 2654435761U) >> (32 - kHashBits);
  };
  std::size_t ip = 0;
  while (ip + 2 < in.size()) {
    const std::uint32_t h = hash(ip);
    const std::size_t candidate = table[h];
    table[h] = static_cast<std::uint32_t>(ip + 1);
    if (candidate != 0) {
      const std::size_t ref = candidate - 1;
      const std::size_t distance = ip - ref;
      if (distance <= kMaxDistance && std::memcmp(&in[ref], &in[ip], 3) == 0) {
        std::size_t len = 3;
        const std::size_t limit = std::min(kMaxMatch, in.size() - ip);
        while (len < limit && in[ref + len] == in[ip + len]) ++len;
        flush_literals(ip);
        const std::size_t code = len - 2;
        const std::size_t off = distance - 1;
        if (code < 7) {
          out.push_back(static_cast<std::uint8_t>(code << 5 | off >> 8));
        } else {
          out.push_back(static_cast<std::uint8_t>(7U << 5 | off >> 8));
          out.push_back(static_cast<std::uint8_t>(code - 7));
        }
        out.push_back(static_cast<std::uint8_t>(off & 0xFF));
        // Index the positions inside the match too: better ratios on
        // smooth data at little cost.
        for (std::size_t k = ip + 1; k < ip + len && k + 2 < in.size(); ++k) {
          table[hash(k)] = static_cast<std::uint32_t>(k + 1);
        }
        ip += len;
        literal_start = ip;
        continue;
      }
    }
    ++ip;
  }
  flush_literals(in.size());
  return out;
}

ByteVector encode_peak_block(std::uint32_t format_id, std::span<const double> mz,
                             std::span<const float> intensity) {
  if (mz.size() != intensity.size()) throw std::invalid_argument("arrays differ in length");
  ByteVector out;
  out.reserve(12 * mz.size());
  if (format_id == 2) {
    for (double v : mz) append(out, v * 100.0);
    for (float v : intensity) append(out, v);
  } else {
    for (std::size_t i = 0; i < mz.size(); ++i) {
      append(out, mz[i]);
      append(out, intensity[i]);
    }
  }
  return out;
}

ByteVector profile_payload(std::span<const std::uint32_t> intensities) {
  ByteVector out(16, 0);
  out.reserve(16 + 4 * intensities.size());
  for (std::uint32_t v : intensities) append(out, v);
  return out;
}

ByteVector encode_profile_block(std::span<const std::uint8_t> payload) {
  ByteVector out(16, 0);
  const ByteVector stream = lzf_compress(payload);
  out.insert(out.end(), stream.begin(), stream.end());
  return out;
}

Descriptor DatasetWriter::add_peak_block(std::uint32_t format_id, std::span<const double> mz,
                                         std::span<const float> intensity) {
  const ByteVector block = encode_peak_block(format_id, mz, intensity);
  return add_raw_peak_block(block, format_id, static_cast<std::uint32_t>(mz.size()));
}

Descriptor DatasetWriter::add_profile_block(std::span<const std::uint32_t> intensities) {
  const ByteVector payload = profile_payload(intensities);
  const ByteVector block = encode_profile_block(payload);
  return add_raw_profile_block(block, static_cast<std::uint32_t>(intensities.size()),
                               static_cast<std::uint32_t>(payload.size()));
}

Descriptor DatasetWriter::add_raw_peak_block(std::span<const std::uint8_t> bytes,
                                             std::uint32_t format_id, std::uint32_t point_count) {
  Descriptor d;
  d.format_id = format_id;
  d.offset = peak_file_.size();
  d.byte_count = static_cast<std::uint32_t>(bytes.size());
  d.point_count = point_count;
  peak_file_.insert(peak_file_.end(), bytes.begin(), bytes.end());
  return d;
}

Descriptor DatasetWriter::add_raw_profile_block(std::span<const std::uint8_t> bytes,
                                                std::uint32_t point_count,
                                                std::uint32_t uncompressed_byte_count) {
  Descriptor d;
  d.format_id = 1;
  d.offset = profile_file_.size();
  d.byte_count = static_cast<std::uint32_t>(bytes.size());
  d.point_count = point_count;
  d.uncompressed_byte_count = uncompressed_byte_count;
  profile_file_.insert(profile_file_.end(), bytes.begin(), bytes.end());
  return d;
}

void DatasetWriter::write(const std::filesystem::path& dir, Files files) const {
  const std::filesystem::path acq = dir / "AcqData";
  std::filesystem::create_directories(acq);
  if (files.scan_table) write_file(acq / "MSScan.bin", build_scan_table(table_));
  if (files.peak) write_file(acq / "MSPeak.bin", peak_file_);
  if (files.profile) write_file(acq / "MSProfile.bin", profile_file_);
}

void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + path.string());
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "velmoran-XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

}  // namespace velmoran::testkit
