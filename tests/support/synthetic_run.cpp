#include "synthetic_run.hpp"

#include "random.hpp"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <stdexcept>
#include <string>

namespace velmoran::testkit {

namespace {

// m/z windows of the generated scans.
constexpr double kSurveyLowMz = 100.0;
constexpr double kSurveyHighMz = 1700.0;
constexpr double kFragmentLowMz = 50.0;
constexpr double kFragmentHighMz = 2000.0;
constexpr double kTransitionLowMz = 50.0;
constexpr double kTransitionHighMz = 1000.0;

// Profile shape: one Gaussian peak per this many points, evaluated out to
// this many standard deviations, over a rising baseline with uniform noise;
// the instrument writes 0 wherever the sum stays below its threshold, which
// leaves long runs of zeros between the peaks.
constexpr std::uint32_t kPointsPerProfilePeak = 50;
constexpr double kPeakReachSigmas = 4.0;
constexpr double kBaselineStart = 40.0;
constexpr double kBaselineRise = 120.0;
constexpr std::uint64_t kNoiseSpan = 160;
constexpr double kZeroThreshold = 280.0;
// Share of a compound's height present in every survey scan, outside its
// elution too.
constexpr double kBackgroundShare = 0.04;

// How many of the survey scan's most intense peaks a fragment scan may
// select as its precursor, in order.
constexpr std::size_t kPrecursorCandidates = 32;
// One MRM scan in this many is a survey scan (MS level 1).
constexpr std::uint32_t kMrmSurveyEvery = 10;

// Limits that keep every block's byte counts inside the 32-bit descriptor
// fields: 16 + 4 bytes per profile point (LZF may add 1/32 and a few bytes)
// and 12 bytes per peak.
constexpr std::uint32_t kMaxProfilePoints = std::uint32_t{1} << 28;
constexpr std::uint32_t kMaxCentroidPeaks = std::uint32_t{1} << 26;

// e^-t for 0 <= t <= 8 (a Gaussian out to 4 sigma) from basic arithmetic
// only, so that profiles do not depend on the platform's libm: a Taylor
// polynomial of e^-(t/32) (error below 2e-8 there), raised to the 32nd
// power by squaring.
double exp_neg(double t) {
  const double x = t / 32.0;
  double y =
      1.0 -
      x * (1.0 - x / 2.0 * (1.0 - x / 3.0 * (1.0 - x / 4.0 * (1.0 - x / 5.0 * (1.0 - x / 6.0)))));
  for (int i = 0; i < 5; ++i) y *= y;
  return y;
}

// Rounds to four decimals, as an instrument reports m/z.
double round_mz(double mz) { return std::round(mz * 1e4) / 1e4; }

struct Peak {
  double mz;
  double height;
};

// The m/z values of the most intense peaks, most intense first.
std::vector<double> precursor_candidates(std::vector<Peak> peaks) {
  const std::size_t count = std::min(peaks.size(), kPrecursorCandidates);
  std::partial_sort(peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(count), peaks.end(),
                    [](const Peak& a, const Peak& b) {
                      return a.height != b.height ? a.height > b.height : a.mz < b.mz;
                    });
  std::vector<double> out(count);
  for (std::size_t i = 0; i < count; ++i) out[i] = round_mz(peaks[i].mz);
  return out;
}

// The compounds of a sample: each has its m/z (as a position on the
// profile axis) and peak width, and elutes once, around `apex` (a fraction
// of the run) for about `duration`. Drawn once per run, so the survey scans
// share them and the total ion current rises and falls.
struct Compound {
  double centre;
  double sigma;
  double apex;
  double duration;
  double height;
};

std::vector<Compound> draw_compounds(std::uint32_t n, Random& random) {
  if (n == 0) return {};
  const double last = static_cast<double>(n - 1);
  std::vector<Compound> compounds(std::max<std::uint32_t>(1, n / kPointsPerProfilePeak));
  for (Compound& c : compounds) {
    c.centre = random.between(0.0, last);
    c.sigma = random.between(1.2, 3.5);
    c.apex = random.between(-0.05, 1.05);
    c.duration = random.between(0.01, 0.06);
    const double u = random.unit();
    c.height = 1000.0 + 999000.0 * u * u * u;
  }
  return compounds;
}

// A compound's share of its height at `fraction` of the run: a floor of
// chemical background plus its elution profile.
double abundance(const Compound& c, double fraction) {
  const double t = (fraction - c.apex) / c.duration;
  const double elution = t * t <= kPeakReachSigmas * kPeakReachSigmas ? exp_neg(0.5 * t * t) : 0.0;
  return kBackgroundShare + (1.0 - kBackgroundShare) * elution;
}

// Adds a Gaussian peak of `height` centred at `centre` (in points) with
// `sigma` points to `signal`, out to kPeakReachSigmas.
void add_gaussian(std::vector<double>& signal, double centre, double sigma, double height) {
  if (signal.empty()) return;
  const double last = static_cast<double>(signal.size() - 1);
  const double reach = kPeakReachSigmas * sigma;
  const auto from = static_cast<std::size_t>(std::max(0.0, std::ceil(centre - reach)));
  const auto to = static_cast<std::size_t>(std::min(last, std::floor(centre + reach)));
  for (std::size_t i = from; i <= to; ++i) {
    const double d = (static_cast<double>(i) - centre) / sigma;
    signal[i] += height * exp_neg(0.5 * d * d);
  }
}

// The instrument's counts of `signal`: a rising baseline with noise added,
// cut to zero below the threshold.
std::vector<std::uint32_t> instrument_counts(const std::vector<double>& signal, Random& random) {
  const std::size_t n = signal.size();
  std::vector<std::uint32_t> counts(n);
  for (std::size_t i = 0; i < n; ++i) {
    const double baseline =
        kBaselineStart + kBaselineRise * static_cast<double>(i) / static_cast<double>(n);
    const auto noise = static_cast<double>((random.next() >> 32) % kNoiseSpan);
    const double value = std::min(signal[i] + baseline + noise, 4294967295.0);
    counts[i] = value < kZeroThreshold ? 0 : static_cast<std::uint32_t>(value + 0.5);
  }
  return counts;
}

// The n profile intensities of a survey scan at `fraction` of the run: the
// compounds' peaks over a rising baseline with noise, cut to zero below the
// instrument's threshold. `peaks`, when given, receives each compound's
// m/z and height in this scan.
std::vector<std::uint32_t> profile_counts(std::uint32_t n, const std::vector<Compound>& sample,
                                          double fraction, Random& random,
                                          std::vector<Peak>* peaks) {
  std::vector<double> signal(n, 0.0);
  if (peaks != nullptr) peaks->resize(sample.size());
  const double last = n == 0 ? 0.0 : static_cast<double>(n - 1);
  const double mz_per_point = n > 1 ? (kSurveyHighMz - kSurveyLowMz) / last : 0.0;
  for (std::size_t k = 0; k < sample.size(); ++k) {
    const double height = sample[k].height * abundance(sample[k], fraction);
    if (peaks != nullptr)
      (*peaks)[k] = Peak{kSurveyLowMz + mz_per_point * sample[k].centre, height};
    add_gaussian(signal, sample[k].centre, sample[k].sigma, height);
  }
  return instrument_counts(signal, random);
}

class RunBuilder {
 public:
  RunBuilder(const RunOptions& options, std::vector<ExpectedSpectrum>* expected)
      : options_(options), random_(options.seed), expected_(expected) {}

  DatasetWriter build() && {
    writer_.table().layout = options_.layout;
    if (options_.mrm) {
      build_mrm();
    } else {
      build_dda();
    }
    return std::move(writer_);
  }

 private:
  void build_dda() {
    const std::uint64_t surveys = options_.ms1_scans;
    const std::uint64_t fragments = options_.ms2_scans;
    reserve(surveys + fragments);
    std::vector<double> candidates;
    if (surveys == 0) {
      for (std::uint64_t j = 0; j < fragments; ++j) add_fragment_scan(candidates, j);
      return;
    }
    // Survey scan s is followed by the fragment scans that an even spread
    // gives it, the first selecting the most intense peak, and so on.
    for (std::uint64_t s = 0; s < surveys; ++s) {
      const double fraction = (static_cast<double>(s) + 0.5) / static_cast<double>(surveys);
      candidates = options_.layout == Layout::k284 ? add_profile_survey_scan(fraction)
                                                   : add_centroid_survey_scan();
      const std::uint64_t count = (s + 1) * fragments / surveys - s * fragments / surveys;
      for (std::uint64_t j = 0; j < count; ++j) add_fragment_scan(candidates, j);
    }
  }

  void build_mrm() {
    reserve(options_.mrm_scans);
    for (std::uint32_t i = 0; i < options_.mrm_scans; ++i) {
      RecordSpec record = next_record(0.05 + 0.02 * random_.unit());
      record.ms_level = i % kMrmSurveyEvery == kMrmSurveyEvery - 1 ? 1 : 2;
      record.mrm_channel = 1 + i % options_.mrm_channels;
      ExpectedSpectrum spectrum = expect(record);
      record.first = add_centroids(random_peaks(kTransitionLowMz, kTransitionHighMz), spectrum);
      commit(std::move(record), std::move(spectrum));
    }
  }

  std::vector<double> add_profile_survey_scan(double fraction) {
    RecordSpec record = next_record(0.25 + 0.05 * random_.unit());
    record.ms_level = 1;
    record.mz_range_low = kSurveyLowMz;
    record.mz_range_high = kSurveyHighMz;
    ExpectedSpectrum spectrum = expect(record);

    const std::uint32_t n = options_.profile_points;
    if (compounds_.empty()) compounds_ = draw_compounds(n, random_);
    std::vector<Peak> peaks;
    const std::vector<std::uint32_t> counts =
        profile_counts(n, compounds_, fraction, random_, &peaks);
    record.second = add_profile(counts, kSurveyLowMz, kSurveyHighMz, spectrum);
    commit(std::move(record), std::move(spectrum));
    return precursor_candidates(std::move(peaks));
  }

  std::vector<double> add_centroid_survey_scan() {
    RecordSpec record = next_record(0.25 + 0.05 * random_.unit());
    record.ms_level = 1;
    ExpectedSpectrum spectrum = expect(record);
    std::vector<Peak> peaks = random_peaks(kSurveyLowMz, kSurveyHighMz);
    record.first = add_centroids(peaks, spectrum);
    commit(std::move(record), std::move(spectrum));
    return precursor_candidates(std::move(peaks));
  }

  void add_fragment_scan(const std::vector<double>& candidates, std::uint64_t rank) {
    RecordSpec record = next_record(0.08 + 0.02 * random_.unit());
    record.ms_level = 2;
    record.precursor_mz =
        rank < candidates.size() ? candidates[rank] : round_mz(random_.between(400.0, 1200.0));
    if (options_.layout == Layout::k284) {
      record.mz_range_low = kFragmentLowMz;
      record.mz_range_high = kFragmentHighMz;
    }
    ExpectedSpectrum spectrum = expect(record);
    const double high = std::max(record.precursor_mz, kFragmentLowMz + 100.0);
    const std::vector<Peak> peaks = random_peaks(kFragmentLowMz, high);
    record.first = add_centroids(peaks, spectrum);
    if (options_.profile_ms2 && options_.layout == Layout::k284 && options_.profile_points > 0) {
      // The same peaks as the instrument sampled them before centroiding.
      spectrum.peak_mz = std::move(spectrum.mz);
      spectrum.peak_intensity = std::move(spectrum.intensity);
      const std::uint32_t n = options_.profile_points;
      const double points_per_mz =
          n > 1 ? static_cast<double>(n - 1) / (kFragmentHighMz - kFragmentLowMz) : 0.0;
      std::vector<double> signal(n, 0.0);
      for (const Peak& peak : peaks) {
        const double sigma = random_.between(1.2, 3.5);
        add_gaussian(signal, (peak.mz - kFragmentLowMz) * points_per_mz, sigma, peak.height);
      }
      record.second = add_profile(instrument_counts(signal, random_), kFragmentLowMz,
                                  kFragmentHighMz, spectrum);
    }
    commit(std::move(record), std::move(spectrum));
  }

  // Appends a profile block of `counts` spanning low to high m/z, and
  // expects its points.
  Descriptor add_profile(const std::vector<std::uint32_t>& sampled, double low, double high,
                         ExpectedSpectrum& spectrum) {
    spectrum.from_profile = true;
    const std::vector<std::uint32_t> counts =
        spray_failed() ? std::vector<std::uint32_t>(sampled.size(), 0) : sampled;
    const std::size_t n = counts.size();
    if (expected_ != nullptr) {
      // The axis exactly as a decoder spans it: first + step * i, two
      // roundings.
      const double step = n > 1 ? (high - low) / static_cast<double>(n - 1) : 0.0;
      spectrum.mz.resize(n);
      spectrum.intensity.resize(n);
      for (std::size_t i = 0; i < n; ++i) {
        const double offset = step * static_cast<double>(i);
        spectrum.mz[i] = low + offset;
        spectrum.intensity[i] = static_cast<float>(counts[i]);
      }
    }
    return writer_.add_profile_block(counts);
  }

  // Peaks at random m/z in [low, high), ascending, each exact after the
  // planar format's scaling; intensities mostly small, a few large.
  std::vector<Peak> random_peaks(double low, double high) {
    std::vector<Peak> peaks(options_.centroid_peaks);
    for (Peak& peak : peaks) {
      peak.mz = round_mz(random_.between(low, high));
      const double u = random_.unit();
      peak.height = static_cast<float>(50.0 + 2.0e5 * u * u * u * u);
    }
    std::sort(peaks.begin(), peaks.end(), [](const Peak& a, const Peak& b) { return a.mz < b.mz; });
    for (Peak& peak : peaks) peak.mz = planar_exact_mz(peak.mz);
    return peaks;
  }

  // Appends a centroid block, formats 2 and 3 in turn over the run.
  Descriptor add_centroids(const std::vector<Peak>& peaks, ExpectedSpectrum& spectrum) {
    std::vector<double> mz(peaks.size());
    std::vector<float> intensity(peaks.size());
    for (std::size_t i = 0; i < peaks.size(); ++i) {
      mz[i] = peaks[i].mz;
      intensity[i] = spray_failed() ? 0.0F : static_cast<float>(peaks[i].height);
    }
    const std::uint32_t format_id = centroid_blocks_++ % 2 == 0 ? 2 : 3;
    const Descriptor descriptor = writer_.add_peak_block(format_id, mz, intensity);
    if (expected_ != nullptr) {
      spectrum.mz = std::move(mz);
      spectrum.intensity = std::move(intensity);
    }
    return descriptor;
  }

  // A record with the next scan number and a retention time `seconds`
  // after the previous one.
  RecordSpec next_record(double seconds) {
    retention_time_min_ += seconds / 60.0;
    RecordSpec record;
    record.scan_id = next_scan_id_++;
    record.retention_time_min = retention_time_min_;
    return record;
  }

  // The fields every expected spectrum takes straight from its record;
  // call it once the record's fields are set.
  ExpectedSpectrum expect(const RecordSpec& record) const {
    return stored_fields(options_.layout, record);
  }

  void commit(RecordSpec record, ExpectedSpectrum spectrum) {
    writer_.table().records.push_back(std::move(record));
    if (expected_ != nullptr) expected_->push_back(std::move(spectrum));
  }

  // The scans written so far reach half of the run's, and the spray fails.
  bool spray_failed() const {
    return options_.spray_fails && 2 * writer_.table().records.size() >= total_scans_;
  }

  void reserve(std::uint64_t scans) {
    total_scans_ = scans;
    writer_.table().records.reserve(static_cast<std::size_t>(scans));
    if (expected_ != nullptr)
      expected_->reserve(expected_->size() + static_cast<std::size_t>(scans));
  }

  const RunOptions& options_;
  Random random_;
  std::vector<ExpectedSpectrum>* expected_;
  DatasetWriter writer_;
  std::uint32_t next_scan_id_ = 1;
  double retention_time_min_ = 0.0;
  std::uint64_t centroid_blocks_ = 0;
  std::uint64_t total_scans_ = 0;
  std::vector<Compound> compounds_;
};

}  // namespace

std::optional<std::string> run_options_problem(const RunOptions& options) {
  const bool mrm_layout = options.layout == Layout::k196 || options.layout == Layout::k186;
  if (options.mrm != mrm_layout) {
    return options.mrm ? "an MRM run takes layout 196 or 186"
                       : "a DDA run takes layout 284, 220 or 216";
  }
  const std::uint64_t scans = options.mrm ? std::uint64_t{options.mrm_scans}
                                          : std::uint64_t{options.ms1_scans} + options.ms2_scans;
  if (scans == 0) return "a run needs at least one scan";
  if (scans >= std::numeric_limits<std::uint32_t>::max()) {
    return "too many scans for 32-bit scan numbers";
  }
  if (options.mrm && options.mrm_channels == 0) return "an MRM run needs at least one channel";
  if (options.profile_points > kMaxProfilePoints) {
    return "at most " + std::to_string(kMaxProfilePoints) + " profile points";
  }
  if (options.centroid_peaks > kMaxCentroidPeaks) {
    return "at most " + std::to_string(kMaxCentroidPeaks) + " peaks";
  }
  return std::nullopt;
}

double planar_exact_mz(double mz) {
  while ((mz * 100.0) / 100.0 != mz)
    mz = std::nextafter(mz, std::numeric_limits<double>::infinity());
  return mz;
}

std::vector<std::uint32_t> synthetic_profile(std::size_t point_count, std::uint64_t seed) {
  if (point_count > kMaxProfilePoints) throw std::invalid_argument("too many profile points");
  Random random(seed);
  const auto n = static_cast<std::uint32_t>(point_count);
  const std::vector<Compound> sample = draw_compounds(n, random);
  return profile_counts(n, sample, random.unit(), random, nullptr);
}

ExpectedSpectrum stored_fields(Layout layout, const RecordSpec& record) {
  constexpr std::size_t kNone = LayoutOffsets::npos;
  const LayoutOffsets at = offsets_of(layout);
  ExpectedSpectrum spectrum;
  spectrum.scan_id = record.scan_id;
  spectrum.ms_level = record.ms_level;
  spectrum.retention_time_sec = record.retention_time_min * 60.0;
  // The precursor field is written for every scan, and means something for
  // fragment scans alone.
  if (at.precursor_mz != kNone && record.ms_level >= 2) spectrum.precursor_mz = record.precursor_mz;
  if (at.mrm_channel != kNone) spectrum.mrm_channel = record.mrm_channel;
  if (at.mz_range_low != kNone) {
    spectrum.mz_range_low = record.mz_range_low;
    spectrum.mz_range_high = record.mz_range_high;
  }
  return spectrum;
}

DatasetWriter make_run(const RunOptions& options, std::vector<ExpectedSpectrum>* expected) {
  if (auto problem = run_options_problem(options)) throw std::invalid_argument(*problem);
  return RunBuilder(options, expected).build();
}

}  // namespace velmoran::testkit
