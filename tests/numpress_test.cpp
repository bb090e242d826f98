// The numpress encoders of the export library against the reference
// library that Debian packages (which they call): the same bytes wherever
// the reference's output decodes to the values, and a refusal (so that the
// writer falls back to zlib) wherever it does not or its behaviour is
// undefined.
#include <cmath>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <libmsnumpress/MSNumpress.hpp>

#include <velmoran/export/binary_encoding.hpp>

namespace {

namespace reference = ms::numpress::MSNumpress;
namespace ex = velmoran::exporting;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

std::vector<unsigned char> reference_linear(const std::vector<double>& values) {
  std::vector<unsigned char> out;
  reference::encodeLinear(values, out,
                          reference::optimalLinearFixedPoint(values.data(), values.size()));
  return out;
}

std::vector<double> even_axis(std::size_t n, double from, double step) {
  std::vector<double> axis(n);
  for (std::size_t i = 0; i < n; ++i) axis[i] = from + step * static_cast<double>(i);
  return axis;
}

TEST(NumpressLinear, SameBytesAsTheReferenceWhereItsOutputIsDefined) {
  std::vector<double> centroids;
  for (int i = 0; i < 300; ++i) centroids.push_back(100.0 + 0.37 * i * i + 1e-5 * (i % 7));
  const std::vector<std::pair<std::string, std::vector<double>>> cases = {
      {"profile axis", even_axis(20000, 100.0, 0.05)},
      {"centroids", centroids},
      {"one point", {500.0}},
      {"two points", {500.0, 501.25}},
      {"largest value with scale 1", {2147483647.0}},
      {"a step up to 2^31", {100.0, 200.0, 2147483648.0}},
      {"three tiny values", {1e-300, 2e-300, 3e-300}},
      {"steps of every size", {0.0, 1.0, 3.0, 1e3, 1e6, 1.0, 4e8, 0.5, 1e9}},
  };
  for (const auto& [name, values] : cases) {
    ex::Bytes ours;
    ASSERT_TRUE(ex::numpress_linear(values, ours)) << name;
    const std::vector<unsigned char> theirs = reference_linear(values);
    EXPECT_EQ(std::vector<unsigned char>(ours.begin(), ours.end()), theirs) << name;
    std::vector<double> decoded;
    reference::decodeLinear(theirs, decoded);
    ASSERT_EQ(decoded.size(), values.size()) << name;
    for (std::size_t i = 0; i < values.size(); ++i) {
      EXPECT_NEAR(decoded[i], values[i], 1.0 + 1e-6 * values[i]) << name << " point " << i;
    }
  }
}

TEST(NumpressLinear, RefusesWhatItCannotWriteRight) {
  std::vector<double> growing(150000);
  for (std::size_t i = 0; i < growing.size(); ++i) {
    growing[i] = 0.5 * static_cast<double>(i) * static_cast<double>(i);
  }
  // What the reference does with each: a scale of 0 decodes to NaN, an
  // infinite one (tiny values, a lone zero) converts inf to an integer
  // (undefined), it throws on the growing steps, and negative values
  // decode wrong.
  const std::vector<std::pair<std::string, std::vector<double>>> cases = {
      {"no point", {}},
      {"2^31, one point", {2147483648.0}},
      {"2^31, two points", {2147483648.0, 2147483649.0}},
      {"a step of 2^40", {0.0, 1.0, 0x1p40, 2.0}},
      {"one tiny value", {1e-300}},
      {"one zero", {0.0}},
      {"two tiny values", {1e-300, 2e-300}},
      {"NaN", {100.0, kNaN, 300.0}},
      {"every value NaN", {kNaN, kNaN, kNaN}},
      {"infinity", {100.0, 200.0, kInf}},
      {"negative", {-5.0, 100.0, 200.0, 310.0}},
      {"steps that grow past 64 bits", growing},
  };
  for (const auto& [name, values] : cases) {
    ex::Bytes ours;
    EXPECT_FALSE(ex::numpress_linear(values, ours)) << name;
  }
  std::vector<double> decoded;
  // The reference's own output for 2^31 decodes as NaN: why we fall back.
  reference::decodeLinear(reference_linear({2147483648.0}), decoded);
  ASSERT_EQ(decoded.size(), 1u);
  EXPECT_TRUE(std::isnan(decoded[0]));
}

TEST(NumpressSlof, SameBytesAsTheReference) {
  std::vector<float> profile(4000);
  for (std::size_t i = 0; i < profile.size(); ++i) {
    profile[i] = static_cast<float>((i * 7919) % 100000) * (i % 5 == 0 ? 0.0f : 1.0f);
  }
  const std::vector<std::pair<std::string, std::vector<float>>> cases = {
      {"profile", profile},
      {"fractions", {0.25f, 1.5f, 1234.5678f, 3e7f}},
      {"zeros", {0.0f, 0.0f}},
      {"one point", {42.0f}},
      {"2^32", {4294967296.0f, 1.0f}},
  };
  for (const auto& [name, values] : cases) {
    ex::Bytes ours;
    std::vector<double> widened;
    ASSERT_TRUE(ex::numpress_slof(values, widened, ours)) << name;
    const std::vector<double> wide(values.begin(), values.end());
    std::vector<unsigned char> theirs;
    reference::encodeSlof(wide, theirs, reference::optimalSlofFixedPoint(wide.data(), wide.size()));
    EXPECT_EQ(std::vector<unsigned char>(ours.begin(), ours.end()), theirs) << name;
  }
}

}  // namespace
