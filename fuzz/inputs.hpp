// How each harness carves one fuzzed input into the arguments of the code
// under test, and the inverse, used to write seeds in the same shape.
//
//   msscan   the whole input is an MSScan.bin
//   lzf      u32 length selector | LZF stream
//   peak     u8 format ID | u32 point count | block
//   profile  u8 flags | u32 uncompressed byte count | u32 point count |
//            f64 first m/z | f64 last m/z | block
//   dataset  u8 flags | u32 scan-table length | u32 peak-file length |
//            MSScan.bin | MSPeak.bin | MSProfile.bin (the rest)
//   export   u8 flags | u8 MS level | u32 scan number | f64 retention time |
//            f64 selected m/z | f64 m/z range low | f64 m/z range high |
//            points, each f64 m/z | f32 intensity (the rest)
//
// Fields are little-endian; an input that ends inside a field reads the
// missing bytes as zero, and a length reaching past the end takes what is
// there, so every input carves into something.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "raw/bytes.hpp"
#include <velmoran/raw/msscan.hpp>

namespace velmoran::fuzz {

using raw::ByteView;
using ByteVector = std::vector<std::uint8_t>;

// The expected LZF length: with the top bit of the selector set, the
// selector itself (up to 4 GiB, far beyond what any input can expand to);
// otherwise its low 16 bits, lengths a stream can really reach.
inline constexpr std::uint32_t kHugeLengthBit = 0x80000000U;
[[nodiscard]] std::size_t expected_length_of(std::uint32_t selector);

struct LzfInput {
  std::uint32_t selector = 0;
  ByteView stream;
};
[[nodiscard]] LzfInput split_lzf_input(ByteView input);
[[nodiscard]] ByteVector join_lzf_input(std::uint32_t selector, ByteView stream);

struct PeakInput {
  raw::BlockRef block;
  ByteView bytes;
};
[[nodiscard]] PeakInput split_peak_input(ByteView input);
[[nodiscard]] ByteVector join_peak_input(std::uint8_t format_id, std::uint32_t point_count,
                                         ByteView bytes);

// Profile flags: bit 0 makes the uncompressed byte count present.
inline constexpr std::uint8_t kHasUncompressedCount = 1;

struct ProfileInput {
  raw::BlockRef block;
  double first_mz = 0.0;
  double last_mz = 0.0;
  ByteView bytes;
};
[[nodiscard]] ProfileInput split_profile_input(ByteView input);
[[nodiscard]] ByteVector join_profile_input(std::uint8_t flags,
                                            std::uint32_t uncompressed_byte_count,
                                            std::uint32_t point_count, double first_mz,
                                            double last_mz, ByteView bytes);

// Dataset flags: leave out a data file, or make "AcqData" a regular file.
inline constexpr std::uint8_t kNoPeakFile = 1;
inline constexpr std::uint8_t kNoProfileFile = 2;
inline constexpr std::uint8_t kAcqDataIsFile = 4;

struct DatasetInput {
  std::uint8_t flags = 0;
  ByteView scan_table;
  ByteView peak_file;
  ByteView profile_file;
};
[[nodiscard]] DatasetInput split_dataset_input(ByteView input);
[[nodiscard]] ByteVector join_dataset_input(std::uint8_t flags, ByteView scan_table,
                                            ByteView peak_file, ByteView profile_file);

// Export flags: which optional fields the record has, and how it is written.
inline constexpr std::uint8_t kHasPrecursor = 1;
inline constexpr std::uint8_t kHasSelectedMz = 2;
inline constexpr std::uint8_t kHasMzRange = 4;
inline constexpr std::uint8_t kProfile = 8;
inline constexpr std::uint8_t kIndexIds = 16;
// One intensity fewer than m/z values (the writer takes the shorter).
inline constexpr std::uint8_t kShortIntensity = 32;

struct ExportInput {
  std::uint8_t flags = 0;
  std::uint8_t ms_level = 0;
  std::uint32_t scan_id = 0;
  double retention_time_sec = 0.0;
  double selected_mz = 0.0;
  double mz_range_low = 0.0;
  double mz_range_high = 0.0;
  std::vector<double> mz;
  std::vector<float> intensity;
};
[[nodiscard]] ExportInput split_export_input(ByteView input);
[[nodiscard]] ByteVector join_export_input(const ExportInput& fields);

}  // namespace velmoran::fuzz
