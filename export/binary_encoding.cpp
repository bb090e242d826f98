#include <velmoran/export/binary_encoding.hpp>

#include <bit>
#include <cstring>
#include <new>
#include <utility>

#include <libdeflate.h>

namespace velmoran::exporting {

static_assert(std::endian::native == std::endian::little,
              "mzML arrays are little-endian; raw_bytes() hands out memory as it is");

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// The two characters of every 12-bit value, so that three bytes take two
// lookups instead of four.
struct Base64Pairs {
  char text[4096][2];
  constexpr Base64Pairs() : text{} {
    for (unsigned v = 0; v < 4096; ++v) {
      text[v][0] = kAlphabet[v >> 6];
      text[v][1] = kAlphabet[v & 63u];
    }
  }
};
constexpr Base64Pairs kPairs;

}  // namespace

void append_base64(std::string& out, std::span<const std::uint8_t> bytes) {
  const std::size_t start = out.size();
  out.resize(start + base64_length(bytes.size()));
  char* p = out.data() + start;
  const std::uint8_t* in = bytes.data();
  std::size_t n = bytes.size();
  while (n >= 3) {
    const std::uint32_t v = (std::uint32_t{in[0]} << 16) | (std::uint32_t{in[1]} << 8) | in[2];
    std::memcpy(p, kPairs.text[v >> 12], 2);
    std::memcpy(p + 2, kPairs.text[v & 0xFFFu], 2);
    p += 4;
    in += 3;
    n -= 3;
  }
  if (n > 0) {
    const std::uint32_t v =
        (std::uint32_t{in[0]} << 16) | (n == 2 ? std::uint32_t{in[1]} << 8 : 0u);
    p[0] = kAlphabet[v >> 18];
    p[1] = kAlphabet[(v >> 12) & 63u];
    p[2] = n == 2 ? kAlphabet[(v >> 6) & 63u] : '=';
    p[3] = '=';
  }
}

ZlibCompressor::ZlibCompressor(int level) : compressor_(libdeflate_alloc_compressor(level)) {
  if (compressor_ == nullptr) throw std::bad_alloc();
}

ZlibCompressor::ZlibCompressor(ZlibCompressor&& other) noexcept
    : compressor_(std::exchange(other.compressor_, nullptr)) {}

ZlibCompressor& ZlibCompressor::operator=(ZlibCompressor&& other) noexcept {
  if (this != &other) {
    if (compressor_ != nullptr) libdeflate_free_compressor(compressor_);
    compressor_ = std::exchange(other.compressor_, nullptr);
  }
  return *this;
}

ZlibCompressor::~ZlibCompressor() {
  if (compressor_ != nullptr) libdeflate_free_compressor(compressor_);
}

void ZlibCompressor::compress(std::span<const std::uint8_t> in, Bytes& out) {
  // The bound is what libdeflate guarantees to be enough, so the call
  // cannot run out of room.
  out.resize(libdeflate_zlib_compress_bound(compressor_, in.size()));
  const std::size_t n =
      libdeflate_zlib_compress(compressor_, in.data(), in.size(), out.data(), out.size());
  out.resize(n);
}

}  // namespace velmoran::exporting
