// The project's writer of acquisition datasets, for tests, benchmarks,
// fuzz seeds and the example runs. It writes scan tables in any of the five
// record layouts from plain record descriptions, data blocks in every
// format, and whole dataset directories; where a test needs bytes that no
// well-formed file would hold, it writes those too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <string>
#include <utility>
#include <vector>

namespace velmoran::testkit {

using ByteVector = std::vector<std::uint8_t>;

enum class Layout : std::uint32_t {
  k284 = 284,
  k220 = 220,
  k216 = 216,
  k196 = 196,
  k186 = 186,
};

inline constexpr Layout kAllLayouts[] = {Layout::k284, Layout::k220, Layout::k216, Layout::k196,
                                         Layout::k186};

[[nodiscard]] constexpr std::uint32_t stride_of(Layout layout) {
  return static_cast<std::uint32_t>(layout);
}

// A block descriptor exactly as stored; any values, format ID 0 (empty)
// by default.
struct Descriptor {
  std::uint32_t format_id = 0;
  std::uint64_t offset = 0;
  std::uint32_t byte_count = 0;
  std::uint32_t point_count = 0;
  std::uint32_t uncompressed_byte_count = 0;
};

// One record of the scan table. Fields the layout does not have are not
// written; `patches` then overwrite bytes of the record (offset within the
// record, bytes), for anything the fields cannot express.
struct RecordSpec {
  std::uint32_t scan_id = 0;
  double retention_time_min = 0.0;
  std::uint16_t ms_level = 1;
  std::uint32_t mrm_channel = 0;  // 196 and 186 layouts
  double precursor_mz = 0.0;      // 284, 220 and 216 layouts
  double mz_range_low = 0.0;      // 284 layout
  double mz_range_high = 0.0;     // 284 layout
  Descriptor first;               // every layout
  Descriptor second;              // 284 layout
  std::vector<std::pair<std::size_t, ByteVector>> patches;
};

// Field offsets within a record of each layout; npos where it has none.
struct LayoutOffsets {
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);
  std::size_t mrm_channel;
  std::size_t precursor_mz;
  std::size_t first_descriptor;
  std::size_t second_descriptor;
  std::size_t mz_range_low;
  std::size_t mz_range_high;
  bool narrow_descriptors;
};
[[nodiscard]] LayoutOffsets offsets_of(Layout layout);

struct ScanTableSpec {
  Layout layout = Layout::k284;
  std::uint32_t magic = 257;
  // Records start here; the header is zero-padded up to it. Below 92 the
  // records are written over the header's tail (magic and the payload
  // offset field are written last and win).
  std::uint32_t payload_offset = 92;
  std::vector<RecordSpec> records;
};

// Encodes one record of `layout` (exactly stride_of(layout) bytes).
[[nodiscard]] ByteVector encode_record(Layout layout, const RecordSpec& record);
// Encodes a whole MSScan.bin.
[[nodiscard]] ByteVector build_scan_table(const ScanTableSpec& spec);

// Our LZF compressor: a greedy matcher over a hash of three bytes. Its
// output is a valid stream for any input, including the empty one.
[[nodiscard]] ByteVector lzf_compress(std::span<const std::uint8_t> input);

// A centroid peak block of format 2 (planes, m/z stored times 100) or 3
// (interleaved records). `mz` and `intensity` have equal length.
[[nodiscard]] ByteVector encode_peak_block(std::uint32_t format_id, std::span<const double> mz,
                                           std::span<const float> intensity);

// The decompressed content of a profile block: a 16-byte header, then one
// little-endian 32-bit intensity per point.
[[nodiscard]] ByteVector profile_payload(std::span<const std::uint32_t> intensities);

// A profile block: a 16-byte preamble and the LZF stream of `payload`.
[[nodiscard]] ByteVector encode_profile_block(std::span<const std::uint8_t> payload);

// Builds a dataset directory: blocks are appended to the two data files and
// located by the descriptors returned; write() lays out
// <dir>/AcqData/{MSScan,MSPeak,MSProfile}.bin.
class DatasetWriter {
 public:
  // Appends a peak block built from the arrays; returns its descriptor.
  Descriptor add_peak_block(std::uint32_t format_id, std::span<const double> mz,
                            std::span<const float> intensity);
  // Appends a profile block of these intensities; returns its descriptor.
  Descriptor add_profile_block(std::span<const std::uint32_t> intensities);
  // Appends arbitrary bytes as a block; the descriptor locates them and
  // carries the given format ID and counts.
  Descriptor add_raw_peak_block(std::span<const std::uint8_t> bytes, std::uint32_t format_id,
                                std::uint32_t point_count);
  Descriptor add_raw_profile_block(std::span<const std::uint8_t> bytes, std::uint32_t point_count,
                                   std::uint32_t uncompressed_byte_count);

  ScanTableSpec& table() { return table_; }
  const ScanTableSpec& table() const { return table_; }
  ByteVector& peak_file() { return peak_file_; }
  ByteVector& profile_file() { return profile_file_; }

  struct Files {
    bool scan_table = true;
    bool peak = true;
    bool profile = true;
  };
  // Writes the dataset directory, creating it; `files` leaves some out.
  void write(const std::filesystem::path& dir, Files files) const;
  void write(const std::filesystem::path& dir) const { write(dir, Files{}); }

 private:
  ScanTableSpec table_;
  ByteVector peak_file_;
  ByteVector profile_file_;
};

// Writes bytes to a file, replacing it. Throws std::runtime_error on
// failure (test support only).
void write_file(const std::filesystem::path& path, std::span<const std::uint8_t> bytes);

// A fresh directory under the system's temporary folder, removed with all
// its contents when the object goes.
class TempDir {
 public:
  TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir();
  [[nodiscard]] const std::filesystem::path& path() const { return path_; }
  [[nodiscard]] std::filesystem::path operator/(const std::string& name) const {
    return path_ / name;
  }

 private:
  std::filesystem::path path_;
};

}  // namespace velmoran::testkit
