#include "gaussian_run.hpp"

#include <algorithm>
#include <cmath>
#include <stdexcept>

#include "random.hpp"

namespace velmoran::testkit {

namespace {

// sigma of a Gaussian over its width at half height, 1 / (2 sqrt(2 ln 2)).
constexpr double kSigmaPerFwhm = 0.42466090014400953;
constexpr double kReachSigmas = 6.0;

// e^-t for 0 <= t <= 18 (a Gaussian out to 6 sigma) from basic arithmetic:
// a Taylor polynomial of e^-(t/1024), raised to the 1024th power by
// squaring (relative error below 1e-10), so profiles do not depend on libm.
double exp_neg(double t) {
  const double x = t / 1024.0;
  double y = 1.0 - x * (1.0 - x / 2.0 * (1.0 - x / 3.0 * (1.0 - x / 4.0 * (1.0 - x / 5.0))));
  for (int i = 0; i < 10; ++i) y *= y;
  return y;
}

// A standard normal draw, near enough: twelve uniform draws less six.
double normal(Random& random) {
  double sum = 0.0;
  for (int i = 0; i < 12; ++i) sum += random.unit();
  return sum - 6.0;
}

}  // namespace

DatasetWriter make_gaussian_run(const GaussianRunOptions& options,
                                std::vector<ExpectedSpectrum>* expected) {
  if (options.scans == 0) throw std::invalid_argument("a run needs at least one scan");
  if (options.points < 2) throw std::invalid_argument("a profile needs at least two points");
  if (options.points > (std::uint32_t{1} << 28)) {
    throw std::invalid_argument("at most 268435456 profile points");
  }
  if (!(options.resolving_power > 0.0)) {
    throw std::invalid_argument("the resolving power must be positive");
  }
  Random random(options.seed);
  DatasetWriter writer;
  writer.table().layout = Layout::k284;
  const std::uint32_t n = options.points;
  const double step = (kGaussianHighMz - kGaussianLowMz) / static_cast<double>(n - 1);
  std::vector<double> axis(n);
  for (std::uint32_t i = 0; i < n; ++i) {
    const double offset = step * static_cast<double>(i);
    axis[i] = kGaussianLowMz + offset;
  }
  // ln(kGaussianMaxHeight / kGaussianMinHeight) = ln 10^4.
  const double height_span = 9.2103403719761836;
  for (std::uint32_t s = 0; s < options.scans; ++s) {
    RecordSpec record;
    record.scan_id = s + 1;
    record.retention_time_min = 0.01 * (s + 1);
    record.ms_level = 1;
    record.mz_range_low = kGaussianLowMz;
    record.mz_range_high = kGaussianHighMz;
    ExpectedSpectrum spectrum = stored_fields(Layout::k284, record);

    std::vector<double> centres(options.peaks);
    for (double& c : centres) c = random.between(kGaussianLowMz + 1.0, kGaussianHighMz - 1.0);
    std::sort(centres.begin(), centres.end());
    std::vector<double> signal(n, 0.0);
    for (const double centre : centres) {
      // Heights spread evenly on a log scale.
      const double height = kGaussianMinHeight / exp_neg(height_span * random.unit());
      const double fwhm = centre / options.resolving_power;
      const double sigma = fwhm * kSigmaPerFwhm;
      const double reach = kReachSigmas * sigma;
      const auto from = static_cast<std::uint32_t>(
          std::max(0.0, std::ceil((centre - reach - kGaussianLowMz) / step)));
      const auto to = static_cast<std::uint32_t>(std::min(
          static_cast<double>(n - 1), std::floor((centre + reach - kGaussianLowMz) / step)));
      for (std::uint32_t i = from; i <= to; ++i) {
        const double d = (axis[i] - centre) / sigma;
        signal[i] += height * exp_neg(0.5 * d * d);
      }
      spectrum.true_mz.push_back(centre);
      spectrum.true_height.push_back(height);
      spectrum.true_fwhm.push_back(fwhm);
    }
    std::vector<std::uint32_t> counts(n);
    for (std::uint32_t i = 0; i < n; ++i) {
      double floor = 0.0;
      for (int k = 0; k < 4; ++k) floor += random.between(0.0, 60.0);
      const double shot = std::sqrt(signal[i]) * normal(random);
      const double value = std::clamp(signal[i] + shot + floor, 0.0, 4294967295.0);
      counts[i] = value < kGaussianThreshold ? 0 : static_cast<std::uint32_t>(value + 0.5);
    }
    record.second = writer.add_profile_block(counts);
    spectrum.from_profile = true;
    if (expected != nullptr) {
      spectrum.mz = axis;
      spectrum.intensity.assign(counts.begin(), counts.end());
    }
    writer.table().records.push_back(std::move(record));
    if (expected != nullptr) expected->push_back(std::move(spectrum));
  }
  return writer;
}

}  // namespace velmoran::testkit
