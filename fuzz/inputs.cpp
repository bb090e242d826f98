#include "inputs.hpp"

#include <algorithm>
#include <cstring>

namespace velmoran::fuzz {

namespace {

// Takes fields from the front of an input; see the header for how a field
// or a length cut short by the end of the input reads.
class Cursor {
 public:
  explicit Cursor(ByteView input) : rest_(input) {}

  template <class T>
  [[nodiscard]] T take() {
    T value{};
    const std::size_t n = std::min(sizeof value, rest_.size());
    if (n != 0) std::memcpy(&value, rest_.data(), n);
    rest_ = rest_.subspan(n);
    return value;
  }

  [[nodiscard]] ByteView take_bytes(std::uint64_t length) {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(length, rest_.size()));
    const ByteView taken = rest_.first(n);
    rest_ = rest_.subspan(n);
    return taken;
  }

  [[nodiscard]] ByteView rest() const { return rest_; }

 private:
  ByteView rest_;
};

class Builder {
 public:
  template <class T>
  Builder& put(T value) {
    const auto* p = reinterpret_cast<const std::uint8_t*>(&value);
    bytes_.insert(bytes_.end(), p, p + sizeof value);
    return *this;
  }
  Builder& put_bytes(ByteView bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
  }
  [[nodiscard]] ByteVector take() { return std::move(bytes_); }

 private:
  ByteVector bytes_;
};

}  // namespace

std::size_t expected_length_of(std::uint32_t selector) {
  if ((selector & kHugeLengthBit) != 0) return selector;
  return selector & 0xFFFFU;
}

LzfInput split_lzf_input(ByteView input) {
  Cursor in(input);
  LzfInput out;
  out.selector = in.take<std::uint32_t>();
  out.stream = in.rest();
  return out;
}

ByteVector join_lzf_input(std::uint32_t selector, ByteView stream) {
  return Builder().put(selector).put_bytes(stream).take();
}

PeakInput split_peak_input(ByteView input) {
  Cursor in(input);
  PeakInput out;
  out.block.format_id = in.take<std::uint8_t>();
  out.block.point_count = in.take<std::uint32_t>();
  out.bytes = in.rest();
  out.block.byte_count = static_cast<std::uint32_t>(out.bytes.size());
  return out;
}

ByteVector join_peak_input(std::uint8_t format_id, std::uint32_t point_count, ByteView bytes) {
  return Builder().put(format_id).put(point_count).put_bytes(bytes).take();
}

ProfileInput split_profile_input(ByteView input) {
  Cursor in(input);
  ProfileInput out;
  const auto flags = in.take<std::uint8_t>();
  const auto uncompressed = in.take<std::uint32_t>();
  out.block.format_id = raw::kProfileFormatId;
  if ((flags & kHasUncompressedCount) != 0) out.block.uncompressed_byte_count = uncompressed;
  out.block.point_count = in.take<std::uint32_t>();
  out.first_mz = in.take<double>();
  out.last_mz = in.take<double>();
  out.bytes = in.rest();
  out.block.byte_count = static_cast<std::uint32_t>(out.bytes.size());
  return out;
}

ByteVector join_profile_input(std::uint8_t flags, std::uint32_t uncompressed_byte_count,
                              std::uint32_t point_count, double first_mz, double last_mz,
                              ByteView bytes) {
  return Builder()
      .put(flags)
      .put(uncompressed_byte_count)
      .put(point_count)
      .put(first_mz)
      .put(last_mz)
      .put_bytes(bytes)
      .take();
}

DatasetInput split_dataset_input(ByteView input) {
  Cursor in(input);
  DatasetInput out;
  out.flags = in.take<std::uint8_t>();
  const auto scan_length = in.take<std::uint32_t>();
  const auto peak_length = in.take<std::uint32_t>();
  out.scan_table = in.take_bytes(scan_length);
  out.peak_file = in.take_bytes(peak_length);
  out.profile_file = in.rest();
  return out;
}

ByteVector join_dataset_input(std::uint8_t flags, ByteView scan_table, ByteView peak_file,
                              ByteView profile_file) {
  return Builder()
      .put(flags)
      .put(static_cast<std::uint32_t>(scan_table.size()))
      .put(static_cast<std::uint32_t>(peak_file.size()))
      .put_bytes(scan_table)
      .put_bytes(peak_file)
      .put_bytes(profile_file)
      .take();
}

ExportInput split_export_input(ByteView input) {
  Cursor in(input);
  ExportInput out;
  out.flags = in.take<std::uint8_t>();
  out.ms_level = in.take<std::uint8_t>();
  out.scan_id = in.take<std::uint32_t>();
  out.retention_time_sec = in.take<double>();
  out.selected_mz = in.take<double>();
  out.mz_range_low = in.take<double>();
  out.mz_range_high = in.take<double>();
  constexpr std::size_t kPointBytes = sizeof(double) + sizeof(float);
  const std::size_t points = in.rest().size() / kPointBytes;
  out.mz.reserve(points);
  out.intensity.reserve(points);
  for (std::size_t i = 0; i < points; ++i) {
    out.mz.push_back(in.take<double>());
    out.intensity.push_back(in.take<float>());
  }
  return out;
}

ByteVector join_export_input(const ExportInput& fields) {
  Builder out;
  out.put(fields.flags)
      .put(fields.ms_level)
      .put(fields.scan_id)
      .put(fields.retention_time_sec)
      .put(fields.selected_mz)
      .put(fields.mz_range_low)
      .put(fields.mz_range_high);
  for (std::size_t i = 0; i < fields.mz.size(); ++i) out.put(fields.mz[i]).put(fields.intensity[i]);
  return out.take();
}

}  // namespace velmoran::fuzz
