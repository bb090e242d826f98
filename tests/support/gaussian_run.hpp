// Profile scans whose true peaks are known, for measuring peak pickers:
// Gaussian peaks of known apex m/z, height and width (a constant resolving
// power, so the width grows with m/z) with shot noise, over a noise floor
// that the instrument cuts to zero below its threshold. MS1 scans of the
// 284 layout on an evenly spaced axis, as the dataset stores profiles.
#pragma once

#include <cstdint>
#include <vector>

#include "dataset_writer.hpp"
#include "synthetic_run.hpp"

namespace velmoran::testkit {

struct GaussianRunOptions {
  std::uint32_t scans = 100;
  std::uint32_t points = 100000;
  std::uint32_t peaks = 300;
  // m/z over the width at half height.
  double resolving_power = 20000.0;
  std::uint64_t seed = 1;
};

// The axis, the floor and the height range of the generated scans.
inline constexpr double kGaussianLowMz = 400.0;
inline constexpr double kGaussianHighMz = 1200.0;
// The floor is the sum of four uniform draws in [0, 60): mean 120,
// standard deviation 60 / sqrt(3) = 34.64 counts.
inline constexpr double kGaussianNoiseSd = 34.641016151377546;
inline constexpr double kGaussianThreshold = 215.0;
inline constexpr double kGaussianMinHeight = 100.0;
inline constexpr double kGaussianMaxHeight = 1e6;

// Generates the run; throws std::invalid_argument when the options cannot
// make one (no scans, fewer than two points, resolving power not positive).
// `expected`, when given, receives each scan with its profile and its true
// peaks (true_mz, true_height, true_fwhm) in m/z order.
[[nodiscard]] DatasetWriter make_gaussian_run(const GaussianRunOptions& options,
                                              std::vector<ExpectedSpectrum>* expected);

}  // namespace velmoran::testkit
