// MS-Numpress encoders on the reference library (Debian's
// libmsnumpress-dev), with the checks it lacks: values it cannot write
// right return false, and the writer falls back to zlib for that array.
// Our own encoders were kept only if they made numpress conversion 1.5
// times faster; they made it about 1.3 times faster (bench/numpress_own.cpp,
// docs/performance.md).
#include <velmoran/export/binary_encoding.hpp>

#include <algorithm>
#include <cmath>
#include <limits>

#include <libmsnumpress/MSNumpress.hpp>

namespace velmoran::exporting {

namespace reference = ms::numpress::MSNumpress;

bool numpress_linear(std::span<const double> values, Bytes& out) {
  out.clear();
  // Branch-free, so that it vectorises: NaN fails both comparisons,
  // infinity the second.
  bool encodable = !values.empty();
  double highest = 0.0;
  for (const double v : values) {
    encodable &= (v >= 0.0) & (v <= std::numeric_limits<double>::max());
    highest = v > highest ? v : highest;
  }
  if (!encodable) return false;
  // A value (or a difference from the linear prediction) of 2^31 or more
  // makes the scale 0, and every value would decode as NaN; one or two
  // values below about 1e-299, or a lone zero, make it infinite, and the
  // conversion to an integer undefined. Fixed-point values must also stay
  // below 2^62, where the extrapolation 2 * current - previous is exact.
  const double scale = reference::optimalLinearFixedPoint(values.data(), values.size());
  if (!(scale >= 1.0 && scale < std::numeric_limits<double>::infinity()) ||
      !(highest * scale < 0x1p62)) {
    return false;
  }
  out.resize(8 + values.size() * 5);
  try {
    out.resize(reference::encodeLinear(values.data(), values.size(), out.data(), scale));
  } catch (const char*) {
    // A difference beyond what the format holds.
    return false;
  }
  return true;
}

bool numpress_slof(std::span<const float> values, std::vector<double>& widened, Bytes& out) {
  out.clear();
  bool encodable = true;
  for (const float v : values) encodable &= std::isfinite(v) & (v >= 0.0f);
  if (!encodable) return false;
  // The reference takes doubles.
  widened.assign(values.begin(), values.end());
  out.resize(8 + 2 * widened.size());
  const double scale = reference::optimalSlofFixedPoint(widened.data(), widened.size());
  out.resize(reference::encodeSlof(widened.data(), widened.size(), out.data(), scale));
  return true;
}

}  // namespace velmoran::exporting
