// Binary arrays as mzML carries them: little-endian numbers, optionally
// compressed (zlib format, or MS-Numpress followed by zlib), then base64.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include <velmoran/result.hpp>

struct libdeflate_compressor;

namespace velmoran::exporting {

using Bytes = std::vector<std::uint8_t>;

// Appends the standard base64 text (RFC 4648 alphabet, '=' padding, no line
// breaks) of `bytes` to `out`.
void append_base64(std::string& out, std::span<const std::uint8_t> bytes);

// Base64 text length of `n` bytes.
[[nodiscard]] constexpr std::size_t base64_length(std::size_t n) noexcept {
  return (n + 2) / 3 * 4;
}

// A zlib-format (RFC 1950) compressor; one per thread, reused across calls.
class ZlibCompressor {
 public:
  // Level 1 to 12 (libdeflate's scale; 6 is zlib's default ratio).
  explicit ZlibCompressor(int level = 6);
  ZlibCompressor(ZlibCompressor&& other) noexcept;
  ZlibCompressor& operator=(ZlibCompressor&& other) noexcept;
  ZlibCompressor(const ZlibCompressor&) = delete;
  ZlibCompressor& operator=(const ZlibCompressor&) = delete;
  ~ZlibCompressor();

  // Replaces `out` with the zlib stream of `in`. Throws std::bad_alloc when
  // no compressor could be made.
  void compress(std::span<const std::uint8_t> in, Bytes& out);

 private:
  libdeflate_compressor* compressor_ = nullptr;
};

// Both numpress encoders write what the reference MS-Numpress library
// writes (they call it), and refuse what it would write wrong.
//
// MS-Numpress linear prediction of m/z values: the fixed-point scale as a
// big-endian double, the first two values as 32-bit little-endian integers,
// then each further value as the difference from its linear extrapolation
// in a variable number of half bytes. Replaces `out`; returns false (and
// leaves `out` unspecified) when the values cannot be encoded: none at all,
// one not finite or negative, a fixed-point scale outside [1, infinity)
// (a value of 2^31 or more, or a lone zero, or only one or two values below
// about 1e-299), a difference beyond 32 bits, or a fixed-point value of 2^62
// or more.
[[nodiscard]] bool numpress_linear(std::span<const double> values, Bytes& out);

// MS-Numpress short logged float of intensities: the fixed-point scale as a
// big-endian double, then round(log(x + 1) * scale) as 16-bit little-endian
// integers. Replaces `out`; returns false for values it cannot encode
// (negative or not finite). `widened` is scratch space (the values as
// doubles), reused from call to call.
[[nodiscard]] bool numpress_slof(std::span<const float> values, std::vector<double>& widened,
                                 Bytes& out);

// The little-endian bytes of a numeric array (this code runs on
// little-endian machines only; see the static_assert in the source).
template <class T>
[[nodiscard]] std::span<const std::uint8_t> raw_bytes(std::span<const T> values) noexcept {
  return {reinterpret_cast<const std::uint8_t*>(values.data()), values.size_bytes()};
}

}  // namespace velmoran::exporting
