// The peak picker on profiles whose true peaks are known: exact Gaussians
// sampled as the dataset stores them (whole counts on an evenly spaced
// axis), and the shapes that have no fit (plateaus, axis ends, zeros,
// hostile values).
#include <velmoran/peak_picking.hpp>

#include <gtest/gtest.h>

#include "gaussian_run.hpp"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <vector>

namespace {

using velmoran::pick_peaks;

struct Axis {
  double first;
  double step;
  std::size_t points;
  // As the profile decoder spans it: first + step * i, two roundings.
  [[nodiscard]] std::vector<double> values() const {
    std::vector<double> mz(points);
    for (std::size_t i = 0; i < points; ++i) {
      const double offset = step * static_cast<double>(i);
      mz[i] = first + offset;
    }
    return mz;
  }
};

struct Gaussian {
  double centre;
  double height;
  double sigma;
};

// Whole counts as the file stores them, read back as 32-bit floats.
std::vector<float> sampled(const std::vector<double>& mz, const std::vector<Gaussian>& peaks) {
  std::vector<float> intensity(mz.size());
  for (std::size_t i = 0; i < mz.size(); ++i) {
    double sum = 0.0;
    for (const Gaussian& g : peaks) {
      const double d = (mz[i] - g.centre) / g.sigma;
      sum += g.height * std::exp(-0.5 * d * d);
    }
    const auto counts = static_cast<std::uint32_t>(std::min(sum + 0.5, 4294967295.0));
    intensity[i] = static_cast<float>(counts);
  }
  return intensity;
}

TEST(PeakPicking, RecoversTheApexOfExactGaussians) {
  const Axis axis{400.0, 0.004, 20000};  // 400 to 480
  const std::vector<double> mz = axis.values();
  // Resolving power 20,000 to 60,000 (sigma = m/z / (2.3548 R)); apexes on
  // a sample, between samples and a third of a step off; heights from 1e5
  // to 1e7 counts (below 2^24, so a 32-bit float holds the count exactly).
  const std::vector<Gaussian> peaks = {
      {405.0, 1e5, 405.0 / (2.3548 * 20000)},     {417.0021, 3.3e5, 417.0 / (2.3548 * 30000)},
      {431.50133, 1e6, 431.5 / (2.3548 * 60000)}, {444.44444, 2.5e6, 444.4 / (2.3548 * 40000)},
      {470.0037, 1e7, 470.0 / (2.3548 * 25000)},
  };
  const velmoran::PickedPeaks picked = pick_peaks(mz, sampled(mz, peaks));
  ASSERT_EQ(picked.mz.size(), peaks.size());
  // In place, over the profile's own arrays: the same peaks.
  std::vector<double> in_place_mz = mz;
  std::vector<float> in_place_intensity = sampled(mz, peaks);
  const std::size_t count =
      velmoran::pick_peaks_into(in_place_mz, in_place_intensity, in_place_mz, in_place_intensity);
  in_place_mz.resize(count);
  in_place_intensity.resize(count);
  EXPECT_EQ(in_place_mz, picked.mz);
  EXPECT_EQ(in_place_intensity, picked.intensity);
  for (std::size_t k = 0; k < peaks.size(); ++k) {
    const double ppm = (picked.mz[k] - peaks[k].centre) / peaks[k].centre * 1e6;
    EXPECT_LT(std::abs(ppm), 0.001) << "peak " << k << " at " << picked.mz[k];
    EXPECT_NEAR(picked.intensity[k], peaks[k].height, peaks[k].height * 1e-5) << "peak " << k;
  }
}

TEST(PeakPicking, ShapesWithoutAFit) {
  const std::vector<double> mz = {100.0, 100.1, 100.2, 100.3, 100.4, 100.5, 100.6, 100.7};
  struct Case {
    const char* name;
    std::vector<float> intensity;
    std::vector<double> want_mz;
    std::vector<float> want_intensity;
  };
  const std::vector<Case> cases = {
      {"plateau counts once, at its middle", {0, 5, 9, 9, 9, 5, 0, 0}, {100.3}, {9}},
      {"two-point plateau", {0, 0, 4, 7, 7, 4, 0, 0}, {100.35}, {7}},
      {"peak at each end of the axis",
       {9, 3, 0, 0, 0, 0, 1, 8},
       {100.0 + 0.1 * 3 / 12, 100.7 - 0.1 * 1 / 9},
       {9, 8}},
      {"one or two points alone between zeros are noise", {0, 6, 0, 0, 2, 3, 0, 0}, {}, {}},
      {"an end point beside a zero is noise too", {5, 0, 0, 0, 0, 0, 0, 0}, {}, {}},
      {"all zero", {0, 0, 0, 0, 0, 0, 0, 0}, {}, {}},
      {"flat everywhere: one plateau", {3, 3, 3, 3, 3, 3, 3, 3}, {100.35}, {3}},
  };
  for (const Case& c : cases) {
    const velmoran::PickedPeaks picked = pick_peaks(mz, c.intensity);
    ASSERT_EQ(picked.mz.size(), c.want_mz.size()) << c.name;
    for (std::size_t k = 0; k < c.want_mz.size(); ++k) {
      EXPECT_NEAR(picked.mz[k], c.want_mz[k], 1e-9) << c.name;
      EXPECT_EQ(picked.intensity[k], c.want_intensity[k]) << c.name;
    }
  }
}

TEST(PeakPicking, OnePointAndEmptySpectra) {
  EXPECT_TRUE(pick_peaks({}, {}).mz.empty());
  const std::vector<double> one_mz = {250.5};
  const std::vector<float> one = {42};
  const velmoran::PickedPeaks picked = pick_peaks(one_mz, one);
  ASSERT_EQ(picked.mz.size(), 1u);
  EXPECT_EQ(picked.mz[0], 250.5);
  EXPECT_EQ(picked.intensity[0], 42.0f);
  const std::vector<float> zero = {0};
  EXPECT_TRUE(pick_peaks(one_mz, zero).mz.empty());
}

TEST(PeakPicking, HostileValuesGiveFiniteOrderedOutput) {
  constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
  constexpr float kInf = std::numeric_limits<float>::infinity();
  constexpr float kMax = std::numeric_limits<float>::max();
  constexpr float k2p32 = 4294967296.0f;
  std::vector<double> mz(64);
  for (std::size_t i = 0; i < mz.size(); ++i) mz[i] = 50.0 + 0.5 * static_cast<double>(i);
  mz[40] = std::numeric_limits<double>::quiet_NaN();
  const std::vector<float> intensity = {
      0,     k2p32, 0,      k2p32,  k2p32,  0,      1,    k2p32, 1,     kNaN,   k2p32, kNaN,  kInf,
      k2p32, kInf,  -5,     k2p32,  -5,     kMax,   kMax, 1,     kMax,  1e-45f, kMax,  3e38f, k2p32,
      0,     k2p32, 1e-45f, 1e-45f, 2e-45f, 1e-45f, 0,    k2p32, k2p32, k2p32,  0,     1,     2,
      3,     k2p32, 3,      2,      1,      0,      7,    7,     8,     7,      7,     0,     k2p32,
      0,     0,     0,      0,      0,      0,      0,    0,     0,     0,      0,     k2p32};
  ASSERT_EQ(intensity.size(), mz.size());
  // Neighbours further apart than the double range: a fit and a plateau.
  const std::vector<double> wide_mz = {-1.7e308, 1.7e308, 1.75e308, -1.7e308, 1.7e308};
  for (const auto& wide : {std::vector<float>{4, 9, 5}, std::vector<float>{9, 9}}) {
    const velmoran::PickedPeaks far =
        pick_peaks(std::span(wide_mz).subspan(wide.size() == 2 ? 3 : 0, wide.size()), wide);
    ASSERT_EQ(far.mz.size(), 1u);
    EXPECT_TRUE(std::isfinite(far.mz[0]));
  }
  const velmoran::PickedPeaks picked = pick_peaks(mz, intensity);
  ASSERT_FALSE(picked.mz.empty());
  for (std::size_t k = 0; k < picked.mz.size(); ++k) {
    EXPECT_TRUE(std::isfinite(picked.mz[k])) << k;
    EXPECT_TRUE(std::isfinite(picked.intensity[k]) && picked.intensity[k] > 0) << k;
    if (k > 0) {
      EXPECT_LT(picked.mz[k - 1], picked.mz[k]) << k;
    }
  }
}

TEST(PeakPicking, FindsTheTruePeaksOfNoisyGaussianScans) {
  // Generated scans with shot noise over a floor cut to zero (the setting
  // of the comparison in docs/convert.md), on the axis the reader spans.
  velmoran::testkit::GaussianRunOptions options;
  options.scans = 2;
  options.points = 100000;
  options.peaks = 300;
  std::vector<velmoran::testkit::ExpectedSpectrum> scans;
  (void)velmoran::testkit::make_gaussian_run(options, &scans);
  std::size_t strong = 0;
  std::size_t found = 0;
  std::size_t false_peaks = 0;
  for (const auto& scan : scans) {
    const velmoran::PickedPeaks picked = pick_peaks(scan.mz, scan.intensity);
    const auto near = [&](double mz, double tolerance) {
      const auto at = std::lower_bound(picked.mz.begin(), picked.mz.end(), mz);
      return (at != picked.mz.end() && *at - mz <= tolerance) ||
             (at != picked.mz.begin() && mz - *(at - 1) <= tolerance);
    };
    for (std::size_t k = 0; k < scan.true_mz.size(); ++k) {
      if (scan.true_height[k] <= 10 * velmoran::testkit::kGaussianNoiseSd) continue;
      ++strong;
      found += near(scan.true_mz[k], scan.true_fwhm[k] / 2) ? 1u : 0u;
    }
    for (const double mz : picked.mz) {
      bool any = false;
      for (std::size_t k = 0; k < scan.true_mz.size() && !any; ++k) {
        any = std::abs(mz - scan.true_mz[k]) <= scan.true_fwhm[k] / 2;
      }
      false_peaks += any ? 0 : 1;
    }
  }
  ASSERT_GT(strong, 400u);
  EXPECT_GT(static_cast<double>(found), 0.97 * static_cast<double>(strong));
  EXPECT_LT(false_peaks, 4 * scans.size());
}

}  // namespace
