// Our own MS-Numpress encoders, the candidate that lost to the reference
// library: the export library uses the reference (export/numpress.cpp),
// which made numpress conversion only about 1.3 times slower, short of the
// 1.5 that keeping our own would have needed. Kept as the yardstick of
// numpress_convert_own and numpress_bench (docs/performance.md); the same
// bytes as the reference wherever its output is defined.
#include <velmoran/export/binary_encoding.hpp>

#include <algorithm>
#include <bit>
#include <climits>
#include <cmath>
#include <limits>

namespace velmoran::exporting {

namespace {

void append_fixed_point(Bytes& out, double scale) {
  const auto bits = std::bit_cast<std::uint64_t>(scale);
  for (int i = 7; i >= 0; --i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

// The half bytes of one difference, in the order they are written, as the
// low `length` half bytes of the result (the first one most significant): a
// count half byte, then the half bytes that remain, least significant
// first. The count is k (0-8) when k leading zero half bytes were dropped,
// 8 + k when k leading 0xF half bytes were dropped (0 < k < 8, the value is
// negative); so a value whose top half byte is neither 0 nor 0xF has the
// count 0 and all eight half bytes.
std::uint64_t difference_half_bytes(std::uint32_t x, unsigned& length) {
  unsigned dropped = 0;
  unsigned count = 0;
  if ((x >> 28) == 0xFu) {
    dropped = std::min(7u, static_cast<unsigned>(std::countl_one(x)) / 4);
    count = dropped + 8;
  } else {
    dropped = static_cast<unsigned>(std::countl_zero(x)) / 4;
    count = dropped;
  }
  const unsigned kept = 8 - dropped;
  // Reverse the order of the eight half bytes: the least significant one
  // comes first, and the kept ones are the top `kept` of the reversal.
  std::uint32_t reversed = __builtin_bswap32(x);
  reversed = ((reversed & 0x0F0F0F0Fu) << 4) | ((reversed >> 4) & 0x0F0F0F0Fu);
  length = kept + 1;
  return (std::uint64_t{count} << (4 * kept)) | (std::uint64_t{reversed} >> (4 * dropped));
}

void append_le32(Bytes& out, std::int64_t value) {
  const auto bits = static_cast<std::uint32_t>(value);
  for (int i = 0; i < 4; ++i) out.push_back(static_cast<std::uint8_t>(bits >> (8 * i)));
}

}  // namespace

bool numpress_linear(std::span<const double> values, Bytes& out) {
  out.clear();
  const std::size_t n = values.size();
  // The scale that keeps the first two values and every difference from
  // the linear extrapolation within a signed 32-bit integer:
  // floor(0x7FFFFFFF / max(first, second, ceil(|difference| + 1) ...)).
  // ceil(x + 1) grows with x, so the largest difference alone decides.
  // Both loops below are branch-free so that the compiler can vectorise
  // them: NaN fails both comparisons, infinity the second.
  bool encodable = true;
  double highest = 0.0;
  for (const double v : values) {
    encodable &= (v >= 0.0) & (v <= std::numeric_limits<double>::max());
    highest = v > highest ? v : highest;
  }
  if (!encodable) return false;
  double scale = 0.0;
  if (n == 1) {
    scale = values[0] > 0.0 ? std::floor(double{0x7FFFFFFF} / values[0]) : 1.0;
  } else if (n >= 2) {
    double widest = 0.0;
    for (std::size_t i = 2; i < n; ++i) {
      const double extrapolated = values[i - 1] + (values[i - 1] - values[i - 2]);
      const double width = std::abs(values[i] - extrapolated);
      widest = width > widest ? width : widest;
    }
    double largest = std::max(values[0], values[1]);
    if (n > 2) largest = std::max(largest, std::ceil(widest + 1.0));
    scale = largest > 0.0 ? std::floor(double{0x7FFFFFFF} / largest) : 1.0;
  }
  // A value of 2^31 or more makes the scale 0 (every value would decode as
  // NaN); one or two values below about 1e-299 make it infinite (and the
  // conversion to an integer undefined). Neither can be written.
  if (!(scale >= 1.0 && scale < std::numeric_limits<double>::infinity())) return false;
  // Differences that each fit 32 bits can still add up to a fixed-point
  // value past 64 bits (a run of steps that keep growing); below 2^62 both
  // the values and the extrapolation 2 * current - previous stay exact.
  if (!(highest * scale < 0x1p62)) return false;
  out.reserve(16 + n * 5);
  append_fixed_point(out, scale);

  const auto fixed = [scale](double v) { return static_cast<std::int64_t>(v * scale + 0.5); };
  std::int64_t previous = 0;
  std::int64_t current = fixed(values[0]);
  append_le32(out, current);
  if (n == 1) return true;
  std::int64_t next = fixed(values[1]);
  append_le32(out, next);

  // At most nine half bytes per value: room for all of them at once.
  const std::size_t header = out.size();
  out.resize(header + (n - 2) * 9 / 2 + 1);
  std::uint8_t* p = out.data() + header;
  // Half bytes not yet written, the first most significant; at most one is
  // left over between values, so 40 bits are ever in use.
  std::uint64_t pending = 0;
  unsigned pending_length = 0;
  for (std::size_t i = 2; i < n; ++i) {
    previous = current;
    current = next;
    next = fixed(values[i]);
    const std::int64_t difference = next - (current + (current - previous));
    if (difference > INT_MAX || difference < INT_MIN) return false;
    unsigned length = 0;
    const std::uint64_t half_bytes = difference_half_bytes(
        static_cast<std::uint32_t>(static_cast<std::int32_t>(difference)), length);
    pending = (pending << (4 * length)) | half_bytes;
    pending_length += length;
    while (pending_length >= 2) {
      pending_length -= 2;
      *p++ = static_cast<std::uint8_t>(pending >> (4 * pending_length));
    }
  }
  if (pending_length == 1) *p++ = static_cast<std::uint8_t>((pending & 0xFu) << 4);
  out.resize(static_cast<std::size_t>(p - out.data()));
  return true;
}

bool numpress_slof(std::span<const float> values, std::vector<double>& /*widened*/, Bytes& out) {
  out.clear();
  double largest = 1.0;
  float highest = 0.0f;
  for (const float v : values) {
    if (!std::isfinite(v) || v < 0.0f) return false;
    highest = std::max(highest, v);
  }
  // log is increasing: the largest logarithm is that of the largest value.
  largest = std::max(largest, std::log(static_cast<double>(highest) + 1.0));
  const double scale = std::floor(65535.0 / largest);
  out.reserve(8 + 2 * values.size());
  append_fixed_point(out, scale);
  out.resize(8 + 2 * values.size());
  std::uint8_t* p = out.data() + 8;
  for (const float v : values) {
    // Zero (common in profiles) needs no logarithm.
    const auto x =
        v == 0.0f
            ? std::uint16_t{0}
            : static_cast<std::uint16_t>(std::log(static_cast<double>(v) + 1.0) * scale + 0.5);
    p[0] = static_cast<std::uint8_t>(x & 0xFFu);
    p[1] = static_cast<std::uint8_t>(x >> 8);
    p += 2;
  }
  return true;
}

}  // namespace velmoran::exporting
