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

}  // namespace velmoran::fuzz
