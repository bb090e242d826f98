// LZF decompression in two tiers. The fast loop runs while the input and
// the output both have room for the largest chunk plus the overrun of the
// wide copies, so its body checks nothing but a back reference's distance.
// The careful loop finishes the tail with every check, in the order that
// decides which message a malformed stream reports.
//
// Every bound is a comparison of remaining sizes; no pointer is ever formed
// outside the input or the output buffer.
#include "raw/lzf.hpp"

#include <array>
#include <cassert>
#include <cstdint>
#include <cstring>
#include <string>

namespace velmoran::raw {

namespace {

// Control bytes below this open a literal run, the others a back reference.
constexpr unsigned kFirstReferenceControl = 0x20;
// A back reference's length code that announces an extra length byte.
constexpr std::size_t kExtendedLengthCode = 7;

// Format limits.
constexpr std::size_t kMaxLiteralRun = 32;  // control 0x1F: 0x1F + 1 bytes
constexpr std::size_t kMaxMatch = 264;      // length code 7 + length byte 255, plus 2
// Output bytes one input byte can yield at most: an extended back reference
// turns 3 input bytes into 264 output bytes (88 each); a plain one turns 2
// into at most 8 (4 each), a literal run 33 into 32.
constexpr std::size_t kMaxExpansion = kMaxMatch / 3;
static_assert(kMaxExpansion == 88);

// Width of one block copy: an SSE register, two general-purpose ones.
constexpr std::size_t kWide = 16;

// The fast loop's margins, each the worst case of one chunk.
//
// Input: the longest chunk is a literal run of 32, 1 control byte + 32
// bytes = 33. The fast literal copy always reads 32 bytes after the control
// byte, so those 33 bytes are exactly what it touches; a back reference
// reads at most 3.
constexpr std::size_t kFastInputMargin = 1 + kMaxLiteralRun;
static_assert(kFastInputMargin == 33);
// Output: the largest write is a match of 264 bytes stored in 16-byte
// blocks; its last block starts at most 263 bytes in and so ends at most
// 263 + 16 = 279 bytes in. A literal run stores 32.
constexpr std::size_t kFastOutputMargin = kMaxMatch + kWide - 1;
static_assert(kFastOutputMargin == 279 && kFastOutputMargin >= kMaxLiteralRun);

[[nodiscard]] Error literal_out_of_bounds() {
  return Error::parse("LZF: literal run out of bounds");
}
[[nodiscard]] Error invalid_back_reference() { return Error::parse("LZF: invalid back reference"); }
[[nodiscard]] Error truncated_length_byte() { return Error::parse("LZF: truncated length byte"); }
[[nodiscard]] Error truncated_reference_byte() {
  return Error::parse("LZF: truncated reference byte");
}
[[nodiscard]] Error match_out_of_bounds() {
  return Error::parse("LZF: match run exceeds output bounds");
}
[[nodiscard]] Error length_mismatch(std::size_t produced, std::size_t expected) {
  return Error::parse("LZF: decompressed length " + std::to_string(produced) + " != expected " +
                      std::to_string(expected));
}

// Literal run of up to 32 bytes: copies all 32, so it writes up to 31 bytes
// past the run's end (and reads as far past its source).
inline void copy_literal_overrun31(std::uint8_t* dst, const std::uint8_t* src) {
  std::memcpy(dst, src, kMaxLiteralRun);
}

// Match with distance >= 16: copies forward in 16-byte blocks. Each block's
// source ends at or before its destination starts and was written before
// it, so the result equals the byte-by-byte forward copy. Writes up to 15
// bytes past dst + length.
inline void copy_match_overrun15(std::uint8_t* dst, std::size_t distance, std::size_t length) {
  const std::uint8_t* src = dst - distance;
  std::size_t done = 0;
  do {
    std::memcpy(dst + done, src + done, kWide);
    done += kWide;
  } while (done < length);
}

// Match with distance 1: a run of the last byte written. Writes up to 15
// bytes past dst + length.
inline void broadcast_byte_overrun15(std::uint8_t* dst, std::size_t length) {
  std::uint8_t block[kWide];
  std::memset(block, dst[-1], kWide);
  std::size_t done = 0;
  do {
    std::memcpy(dst + done, block, kWide);
    done += kWide;
  } while (done < length);
}

// For a distance d of 2 to 15, the largest multiple of d not above 16,
// 16 - 16 % d: a table, since a division per match is a measurable part of
// decoding runs of short patterns.
constexpr auto kPatternStep = [] {
  std::array<std::uint8_t, kWide> steps{};
  for (std::size_t d = 2; d < kWide; ++d) steps[d] = static_cast<std::uint8_t>(kWide - kWide % d);
  return steps;
}();

// Match with distance 2 to 15: the forward copy repeats the last `distance`
// bytes. Builds 16 bytes of that repetition, then stores them at steps of
// the largest multiple of `distance` not above 16, so each store continues
// the pattern where the previous one must. Writes up to 15 bytes past
// dst + length.
inline void repeat_pattern_overrun15(std::uint8_t* dst, std::size_t distance, std::size_t length) {
  std::uint8_t block[kWide];
  std::memcpy(block, dst - distance, distance);
  for (std::size_t j = distance; j < kWide; ++j) block[j] = block[j - distance];
  const std::size_t step = kPatternStep[distance];
  std::size_t done = 0;
  do {
    std::memcpy(dst + done, block, kWide);
    done += step;
  } while (done < length);
}

// Any match, exactly: writes dst[0, length) and nothing past it.
inline void copy_match_exact(std::uint8_t* dst, std::size_t distance, std::size_t length) {
  const std::uint8_t* src = dst - distance;
  if (distance >= length) {
    std::memcpy(dst, src, length);
  } else if (distance == 1) {
    std::memset(dst, *src, length);
  } else {
    for (std::size_t k = 0; k < length; ++k) dst[k] = src[k];
  }
}

}  // namespace

Result<Bytes> decompress(ByteView input, std::size_t expected_length) {
  if (expected_length == 0) return Bytes{};
  if (input.empty()) return length_mismatch(0, expected_length);

  // The expected length comes from a file field: allocate no more than the
  // stream can possibly produce. Writes never pass `capacity` (each chunk is
  // fully present in the input before it is expanded), while every check
  // and message keeps `expected_length` as the limit; when the two differ
  // the stream necessarily ends short and the length test reports it.
  const std::size_t capacity = input.size() > expected_length / kMaxExpansion
                                   ? expected_length
                                   : input.size() * kMaxExpansion;
  Bytes output(capacity);

  const std::uint8_t* ip = input.data();
  const std::uint8_t* const in_end = ip + input.size();
  std::uint8_t* const out_begin = output.data();
  std::uint8_t* op = out_begin;
  std::uint8_t* const out_end = out_begin + capacity;
  const auto in_left = [&] { return static_cast<std::size_t>(in_end - ip); };
  const auto produced = [&] { return static_cast<std::size_t>(op - out_begin); };

  // Fast loop. The margins make every chunk fully present in the input and
  // every write, overrun included, fit below out_end <= the expected end: no
  // truncation and no bounds failure can occur. Of the two distance tests
  // only their union is left, distance > produced.
  while (in_left() >= kFastInputMargin &&
         static_cast<std::size_t>(out_end - op) >= kFastOutputMargin) {
    const unsigned control = *ip++;
    if (control < kFirstReferenceControl) {
      const std::size_t run = std::size_t{control} + 1;
      copy_literal_overrun31(op, ip);
      ip += run;
      op += run;
      continue;
    }
    std::size_t length_code = control >> 5;
    if (length_code == kExtendedLengthCode) length_code += *ip++;
    const std::size_t distance = (std::size_t{control & 0x1FU} << 8) + *ip++ + 1;
    if (distance > produced()) [[unlikely]]
      return invalid_back_reference();
    const std::size_t count = length_code + 2;
    if (distance >= kWide) {
      copy_match_overrun15(op, distance, count);
    } else if (distance == 1) {
      broadcast_byte_overrun15(op, count);
    } else {
      repeat_pattern_overrun15(op, distance, count);
    }
    op += count;
  }

  // Careful loop: every check, in the order that picks the message.
  while (ip != in_end && produced() < expected_length) {
    const unsigned control = *ip++;
    if (control < kFirstReferenceControl) {
      const std::size_t run = std::size_t{control} + 1;
      if (run > in_left()) return literal_out_of_bounds();
      if (run > expected_length - produced()) return literal_out_of_bounds();
      assert(run <= static_cast<std::size_t>(out_end - op));
      std::memcpy(op, ip, run);
      ip += run;
      op += run;
      continue;
    }
    // The high part of the distance alone is tested before any further
    // byte of the chunk is looked at.
    const std::size_t high = std::size_t{control & 0x1FU} << 8;
    if (produced() <= high) return invalid_back_reference();
    std::size_t length_code = control >> 5;
    if (length_code == kExtendedLengthCode) {
      if (ip == in_end) return truncated_length_byte();
      length_code += *ip++;
    }
    if (ip == in_end) return truncated_reference_byte();
    const std::size_t distance = high + *ip++ + 1;
    if (distance > produced()) return invalid_back_reference();
    const std::size_t count = length_code + 2;
    if (count > expected_length - produced()) return match_out_of_bounds();
    assert(count <= static_cast<std::size_t>(out_end - op));
    copy_match_exact(op, distance, count);
    op += count;
  }

  if (produced() != expected_length) return length_mismatch(produced(), expected_length);
  return output;
}

}  // namespace velmoran::raw
