#include <velmoran/qc/metrics.hpp>

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <limits>
#include <optional>
#include <utility>

#include <velmoran/analysis/survey_level.hpp>

namespace velmoran::qc {

namespace {

constexpr Term kNoUnit{};
constexpr Term kCount{"UO:0000189", "count unit"};
constexpr Term kSecond{"UO:0000010", "second"};
constexpr Term kFraction{"UO:0000191", "fraction"};
constexpr Term kHertz{"UO:0000106", "hertz"};
constexpr Term kIntensity{"MS:1000043", "intensity unit"};
constexpr Term kMz{"MS:1000040", "m/z"};

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();

// The spectra a metric looks at, in scan-table (acquisition) order.
using Spectra = std::vector<const SpectrumFigures*>;

// Convert's survey scans.
bool is_ms1(const SpectrumFigures& s) { return analysis::is_survey_level(s.ms_level); }
bool is_ms2(const SpectrumFigures& s) { return s.ms_level == 2; }

// A time that is not finite (a damaged scan table) is in no time-based
// metric.
bool is_timed(const SpectrumFigures& s) { return std::isfinite(s.retention_time_sec); }

template <class Keep>
Spectra select(const Spectra& spectra, Keep keep) {
  Spectra out;
  for (const SpectrumFigures* s : spectra) {
    if (keep(*s)) out.push_back(s);
  }
  return out;
}

// Ascending with NaN last: a strict weak order even for a damaged run's
// values, which std::sort needs.
bool ascending(double a, double b) { return std::isnan(b) ? !std::isnan(a) : a < b; }

// The nearest-rank quantile of sorted values: sorted[ceil(q n) - 1].
template <class T>
T nearest_rank(const std::vector<T>& sorted, double q) {
  const auto n = static_cast<double>(sorted.size());
  const auto rank = static_cast<std::size_t>(std::ceil(q * n));
  return sorted[std::clamp<std::size_t>(rank, 1, sorted.size()) - 1];
}

// The middle value, or the mean of the two middle ones.
double median(std::vector<double> values) {
  std::sort(values.begin(), values.end(), ascending);
  const std::size_t n = values.size();
  return n % 2 == 1 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
}

// log10(Q2/Q1), log10(Q3/Q2), log10(max/Q3) of the values; NaN where a
// ratio has no logarithm (a quantile of 0).
std::vector<double> quartile_log_ratios(std::vector<double> values) {
  std::sort(values.begin(), values.end(), ascending);
  const double q1 = nearest_rank(values, 0.25);
  const double q2 = nearest_rank(values, 0.5);
  const double q3 = nearest_rank(values, 0.75);
  const double max = values.back();
  std::vector<double> out;
  for (const auto& [above, below] : {std::pair{q2, q1}, std::pair{q3, q2}, std::pair{max, q3}}) {
    const double ratio = std::log10(above / below);
    out.push_back(std::isfinite(ratio) ? ratio : kNaN);
  }
  return out;
}

std::vector<double> times_of(const Spectra& spectra) {
  std::vector<double> out;
  out.reserve(spectra.size());
  for (const auto* s : spectra) out.push_back(s->retention_time_sec);
  return out;
}

// Differences of the retention times of successive spectra; an interval
// with an end that is not finite is left out.
std::vector<double> intervals_of(const Spectra& spectra) {
  std::vector<double> out;
  for (std::size_t i = 1; i < spectra.size(); ++i) {
    const double dt = spectra[i]->retention_time_sec - spectra[i - 1]->retention_time_sec;
    if (std::isfinite(dt)) out.push_back(dt);
  }
  return out;
}

// The run's retention-time span: first and last finite time of any
// spectrum.
struct Span {
  double start = 0.0;
  double end = 0.0;
  [[nodiscard]] double duration() const { return end - start; }
};

std::optional<Span> span_of(const Spectra& spectra) {
  std::optional<Span> span;
  for (const SpectrumFigures* s : spectra) {
    const double t = s->retention_time_sec;
    if (!std::isfinite(t)) continue;
    span = span ? Span{std::min(span->start, t), std::max(span->end, t)} : Span{t, t};
  }
  return span;
}

// The TIC chromatogram as convert writes it: the MS1 spectra, or every
// spectrum when the run has none, less those without a finite time; here
// also ordered by time for the areas.
struct Chromatogram {
  Spectra in_order;
  std::vector<double> times;
  std::vector<double> tics;
};

Chromatogram chromatogram_of(const Spectra& spectra) {
  Chromatogram c;
  c.in_order = select(spectra, is_ms1);
  if (c.in_order.empty()) c.in_order = spectra;
  c.in_order = select(c.in_order, is_timed);
  Spectra by_time = c.in_order;
  std::stable_sort(by_time.begin(), by_time.end(), [](const auto* a, const auto* b) {
    return ascending(a->retention_time_sec, b->retention_time_sec);
  });
  for (const auto* s : by_time) {
    c.times.push_back(s->retention_time_sec);
    c.tics.push_back(s->total_ion_current);
  }
  return c;
}

// The area under the straight lines joining the chromatogram's points,
// between times a and b (a <= b).
double area_between(const Chromatogram& c, double a, double b) {
  double area = 0.0;
  for (std::size_t i = 1; i < c.times.size(); ++i) {
    const double t0 = c.times[i - 1];
    const double t1 = c.times[i];
    const double lo = std::max(t0, a);
    const double hi = std::min(t1, b);
    if (!(hi > lo)) continue;
    const auto at = [&](double t) {
      return c.tics[i - 1] + (c.tics[i] - c.tics[i - 1]) * (t - t0) / (t1 - t0);
    };
    area += (hi - lo) * (at(lo) + at(hi)) / 2.0;
  }
  return area;
}

// MS:4000059 number of MS1 spectra: "The number of MS1 events in the run."
Metric number_of_ms1_spectra(const Spectra& ms1) {
  return {{"MS:4000059", "number of MS1 spectra"}, kCount, static_cast<std::int64_t>(ms1.size())};
}

// MS:4000060 number of MS2 spectra: "The number of MS2 events in the run."
Metric number_of_ms2_spectra(const Spectra& ms2) {
  return {{"MS:4000060", "number of MS2 spectra"}, kCount, static_cast<std::int64_t>(ms2.size())};
}

std::int64_t count_empty(const Spectra& spectra) {
  return std::count_if(spectra.begin(), spectra.end(),
                       [](const auto* s) { return s->total_ion_current == 0.0; });
}

// MS:4000099 number of empty MS1 scans: "Number of MS1 scans where the
// scans' peaks intensity sums to 0 (i.e. no peaks or only 0-intensity
// peaks)."
Metric number_of_empty_ms1_scans(const Spectra& ms1) {
  return {{"MS:4000099", "number of empty MS1 scans"}, kCount, count_empty(ms1)};
}

// MS:4000100 number of empty MS2 scans: the same for MS2 scans.
Metric number_of_empty_ms2_scans(const Spectra& ms2) {
  return {{"MS:4000100", "number of empty MS2 scans"}, kCount, count_empty(ms2)};
}

// MS:4000069 m/z acquisition range: "Upper and lower limit of m/z
// precursor values at which MSn spectra are recorded." [lowest, highest]
// selected precursor m/z of the MSn spectra (a damaged run's NaN or
// infinite ones left out); none without a precursor.
std::optional<Metric> mz_acquisition_range(const Spectra& spectra) {
  std::optional<std::pair<double, double>> range;
  for (const SpectrumFigures* s : spectra) {
    if (is_ms1(*s) || !s->precursor_mz || !std::isfinite(*s->precursor_mz)) continue;
    const double mz = *s->precursor_mz;
    range = range ? std::pair{std::min(range->first, mz), std::max(range->second, mz)}
                  : std::pair{mz, mz};
  }
  if (!range) return std::nullopt;
  return Metric{{"MS:4000069", "m/z acquisition range"},
                kMz,
                std::vector<double>{range->first, range->second}};
}

// MS:4000070 retention time acquisition range: "Upper and lower limit of
// retention time at which spectra are recorded." [first, last], seconds.
Metric retention_time_acquisition_range(const Span& span) {
  return {{"MS:4000070", "retention time acquisition range"},
          kSecond,
          std::vector<double>{span.start, span.end}};
}

// MS:4000053 chromatography duration: "The retention time duration of the
// chromatography in seconds." Last time less first time.
Metric chromatography_duration(const Span& span) {
  return {{"MS:4000053", "chromatography duration"}, kSecond, span.duration()};
}

// MS:4000104 total ion currents: "Tabular representation of the total ion
// current detected in each of a series of mass spectra." The spectra of
// the TIC chromatogram, in scan-table order.
Metric total_ion_currents(const Chromatogram& c) {
  TicTable table;
  for (const auto* s : c.in_order) {
    table.native_ids.push_back(s->native_id);
    table.retention_times_sec.push_back(s->retention_time_sec);
    table.points.push_back(s->points);
    table.total_ion_currents.push_back(s->total_ion_current);
  }
  return {{"MS:4000104", "total ion currents"}, kNoUnit, std::move(table)};
}

// MS:4000155 area under TIC: "The area under the total ion chromatogram."
// Trapezoid rule over time in seconds.
Metric area_under_tic(const Chromatogram& c) {
  const double start = c.times.front();
  const double end = c.times.back();
  return {{"MS:4000155", "area under TIC"}, kNoUnit, area_between(c, start, end)};
}

// MS:4000156 area under TIC RT quantiles: "The area under the total ion
// chromatogram of the retention time quantiles. Number of quantiles are
// given by the n-tuple." The chromatogram's time span cut into four equal
// quarters, the area (trapezoid rule, the line interpolated at the cuts)
// under each.
Metric area_under_tic_rt_quantiles(const Chromatogram& c) {
  const double start = c.times.front();
  const double length = c.times.back() - start;
  std::vector<double> areas;
  for (int quarter = 0; quarter < 4; ++quarter) {
    const double a = quarter == 0 ? start : start + length * quarter / 4.0;
    const double b = quarter == 3 ? c.times.back() : start + length * (quarter + 1) / 4.0;
    areas.push_back(area_between(c, a, b));
  }
  return {{"MS:4000156", "area under TIC RT quantiles"}, kNoUnit, std::move(areas)};
}

// MS:4000183 TIC quantile RT fraction: "The interval when the respective
// quantile of the TIC accumulates divided by retention time duration."
// For q = 1/4, 1/2, 3/4, 1: the time of the first chromatogram spectrum
// (by time) at which the running sum of TICs reaches q of the total, less
// the run's start, over the run's duration. None when the total or the
// duration is not positive.
std::optional<Metric> tic_quantile_rt_fraction(const Chromatogram& c, const Span& span) {
  double total = 0.0;
  for (const double tic : c.tics) total += tic;
  if (!(total > 0.0) || !std::isfinite(total) || !(span.duration() > 0.0)) return std::nullopt;
  std::vector<double> fractions;
  for (const double q : {0.25, 0.5, 0.75, 1.0}) {
    double sum = 0.0;
    std::size_t i = 0;
    for (; i + 1 < c.tics.size(); ++i) {
      sum += c.tics[i];
      if (sum >= q * total) break;
    }
    fractions.push_back((c.times[i] - span.start) / span.duration());
  }
  return Metric{{"MS:4000183", "TIC quantile RT fraction"}, kFraction, std::move(fractions)};
}

// MS:4000204 total ion current maximum: "The maximum total ion current
// (MS:1000285) of all spectra in a single run."
Metric total_ion_current_maximum(const Spectra& spectra) {
  double max = 0.0;
  for (const SpectrumFigures* s : spectra) max = std::max(max, s->total_ion_current);
  return {{"MS:4000204", "total ion current maximum"}, kIntensity, max};
}

// MS:4000202 base peak intensity maximum: "The maximum base peak intensity
// (MS:1000505) of all spectra in a single run."
Metric base_peak_intensity_maximum(const Spectra& spectra) {
  double max = 0.0;
  for (const SpectrumFigures* s : spectra) max = std::max(max, s->base_peak_intensity);
  return {{"MS:4000202", "base peak intensity maximum"}, kIntensity, max};
}

// The time of the q-th nearest-rank spectrum (of those with a finite
// time), less the run's start, over the run's duration, for q = 1/4, 1/2,
// 3/4, 1.
std::optional<std::vector<double>> acquisition_fractions(const Spectra& spectra, const Span& span) {
  std::vector<double> times = times_of(select(spectra, is_timed));
  if (times.empty() || !(span.duration() > 0.0)) return std::nullopt;
  std::sort(times.begin(), times.end(), ascending);
  std::vector<double> out;
  for (const double q : {0.25, 0.5, 0.75, 1.0}) {
    out.push_back((nearest_rank(times, q) - span.start) / span.duration());
  }
  return out;
}

// MS:4000184 MS1 quantile RT fraction: "The interval used for acquisition
// of quantiles of all MS1 events divided by retention time duration."
std::optional<Metric> ms1_quantile_rt_fraction(const Spectra& ms1, const Span& span) {
  auto fractions = acquisition_fractions(ms1, span);
  if (!fractions) return std::nullopt;
  return Metric{{"MS:4000184", "MS1 quantile RT fraction"}, kFraction, std::move(*fractions)};
}

// MS:4000185 MS2 quantile RT fraction: the same for the MS2 events.
std::optional<Metric> ms2_quantile_rt_fraction(const Spectra& ms2, const Span& span) {
  auto fractions = acquisition_fractions(ms2, span);
  if (!fractions) return std::nullopt;
  return Metric{{"MS:4000185", "MS2 quantile RT fraction"}, kFraction, std::move(*fractions)};
}

// MS:4000186 MS1 TIC-change quantile ratios: "The log ratios of successive
// TIC-change quantiles. The TIC changes are the list of MS1 total ion
// current (TIC) value changes from one to the next scan [...] the log
// ratio of the TIC-change Q2 to Q1, Q3 to Q2, TIC-change-max to Q3." The
// changes taken as magnitudes |TIC(i) - TIC(i-1)|, logarithms base 10.
std::optional<Metric> ms1_tic_change_quantile_ratios(const Spectra& ms1) {
  if (ms1.size() < 2) return std::nullopt;
  std::vector<double> changes;
  for (std::size_t i = 1; i < ms1.size(); ++i) {
    changes.push_back(std::abs(ms1[i]->total_ion_current - ms1[i - 1]->total_ion_current));
  }
  return Metric{{"MS:4000186", "MS1 TIC-change quantile ratios"},
                kFraction,
                quartile_log_ratios(std::move(changes))};
}

// MS:4000187 MS1 TIC quantile ratios: "The log ratios of successive TIC
// quantiles [...] TIC-Q2 to TIC-Q1, TIC-Q3 to TIC-Q2, TIC-max to TIC-Q3."
std::optional<Metric> ms1_tic_quantile_ratios(const Spectra& ms1) {
  if (ms1.empty()) return std::nullopt;
  std::vector<double> tics;
  for (const auto* s : ms1) tics.push_back(s->total_ion_current);
  return Metric{
      {"MS:4000187", "MS1 TIC quantile ratios"}, kFraction, quartile_log_ratios(std::move(tics))};
}

// Adjacent MS1 TICs from `before` to `after` rise more than tenfold; from
// 0 to anything positive counts, 0 to 0 does not.
bool jumps(double before, double after) {
  return before == 0.0 ? after > 0.0 : before > 0.0 && after > 10.0 * before;
}

// MS:4000097 MS1 signal jump (10x) count: "The number of times where MS1
// TIC increased more than 10-fold between adjacent MS1 scans."
Metric ms1_signal_jump_count(const Spectra& ms1) {
  std::int64_t count = 0;
  for (std::size_t i = 1; i < ms1.size(); ++i) {
    count += jumps(ms1[i - 1]->total_ion_current, ms1[i]->total_ion_current) ? 1 : 0;
  }
  return {{"MS:4000097", "MS1 signal jump (10x) count"}, kCount, count};
}

// MS:4000098 MS1 signal fall (10x) count: "The number of times where MS1
// TIC decreased more than 10-fold between adjacent MS1 scans." A fall is a
// jump read backwards.
Metric ms1_signal_fall_count(const Spectra& ms1) {
  std::int64_t count = 0;
  for (std::size_t i = 1; i < ms1.size(); ++i) {
    count += jumps(ms1[i]->total_ion_current, ms1[i - 1]->total_ion_current) ? 1 : 0;
  }
  return {{"MS:4000098", "MS1 signal fall (10x) count"}, kCount, count};
}

std::optional<std::vector<std::int64_t>> density_quartiles(const Spectra& spectra) {
  if (spectra.empty()) return std::nullopt;
  std::vector<std::int64_t> points;
  for (const auto* s : spectra) points.push_back(static_cast<std::int64_t>(s->points));
  std::sort(points.begin(), points.end());
  std::vector<std::int64_t> out;
  for (const double q : kQuartiles) out.push_back(nearest_rank(points, q));
  return out;
}

// MS:4000061 MS1 density quantiles: "The first to n-th quantile of MS1
// peak density (scan peak counts)." Quartiles of the points per MS1 scan.
std::optional<Metric> ms1_density_quantiles(const Spectra& ms1) {
  auto quartiles = density_quartiles(ms1);
  if (!quartiles) return std::nullopt;
  return Metric{{"MS:4000061", "MS1 density quantiles"}, kCount, std::move(*quartiles)};
}

// MS:4000062 MS2 density quantiles: the same for the MS2 scans.
std::optional<Metric> ms2_density_quantiles(const Spectra& ms2) {
  auto quartiles = density_quartiles(ms2);
  if (!quartiles) return std::nullopt;
  return Metric{{"MS:4000062", "MS2 density quantiles"}, kCount, std::move(*quartiles)};
}

// Scans per second at the shortest and longest positive interval between
// successive scans of a level; none without one.
std::optional<std::pair<double, double>> frequencies(const Spectra& spectra) {
  std::optional<std::pair<double, double>> shortest_longest;
  for (const double dt : intervals_of(spectra)) {
    if (!(dt > 0.0)) continue;
    shortest_longest = shortest_longest ? std::pair{std::min(shortest_longest->first, dt),
                                                    std::max(shortest_longest->second, dt)}
                                        : std::pair{dt, dt};
  }
  if (!shortest_longest) return std::nullopt;
  return std::pair{1.0 / shortest_longest->first, 1.0 / shortest_longest->second};
}

// MS:4000065 / MS:4000066 fastest frequency for MS level 1 / 2 collection:
// "Fastest frequency for MS level 1 collection"; MS:4000095 / MS:4000096
// slowest frequency for MS level 1 / 2 collection: "The slowest
// acquisition speed with which precursor [product] MS scans were
// collected." In hertz, from the intervals between successive scans.
void append_frequencies(std::vector<Metric>& out, const Spectra& spectra, Term fastest,
                        Term slowest) {
  const auto found = frequencies(spectra);
  if (!found) return;
  out.push_back({fastest, kHertz, found->first});
  out.push_back({slowest, kHertz, found->second});
}

// MS:4000192 MS1 median cycle time: "The median time between consecutive
// MS1 scans across the full run." Seconds.
std::optional<Metric> ms1_median_cycle_time(const Spectra& ms1) {
  std::vector<double> intervals = intervals_of(ms1);
  if (intervals.empty()) return std::nullopt;
  return Metric{{"MS:4000192", "MS1 median cycle time"}, kSecond, median(std::move(intervals))};
}

// The spectra with a block that could not be read: counted apart, as no
// vocabulary term covers them, and left out of every other metric but the
// numbers of spectra (an empty scan is one the instrument recorded empty).
std::optional<Metric> unreadable_spectra(const Spectra& spectra) {
  const auto count =
      std::count_if(spectra.begin(), spectra.end(), [](const auto* s) { return s->unreadable; });
  if (count == 0) return std::nullopt;
  return Metric{kUnreadableSpectra, kCount, static_cast<std::int64_t>(count)};
}

template <class T>
void append(std::vector<Metric>& out, std::optional<T> metric) {
  if (metric) out.push_back(std::move(*metric));
}

}  // namespace

std::vector<Metric> run_metrics(std::span<const SpectrumFigures> figures) {
  Spectra every;
  for (const SpectrumFigures& s : figures) every.push_back(&s);
  std::vector<Metric> out;
  out.push_back(number_of_ms1_spectra(select(every, is_ms1)));
  out.push_back(number_of_ms2_spectra(select(every, is_ms2)));
  const Spectra spectra = select(every, [](const SpectrumFigures& s) { return !s.unreadable; });
  const Spectra ms1 = select(spectra, is_ms1);
  const Spectra ms2 = select(spectra, is_ms2);
  out.push_back(number_of_empty_ms1_scans(ms1));
  out.push_back(number_of_empty_ms2_scans(ms2));
  append(out, mz_acquisition_range(spectra));
  out.push_back(ms1_signal_jump_count(ms1));
  out.push_back(ms1_signal_fall_count(ms1));
  append(out, unreadable_spectra(every));
  const std::optional<Span> span = span_of(spectra);
  if (!span) return out;
  out.push_back(retention_time_acquisition_range(*span));
  out.push_back(chromatography_duration(*span));
  const Chromatogram chromatogram = chromatogram_of(spectra);
  if (!chromatogram.times.empty()) {
    out.push_back(total_ion_currents(chromatogram));
    out.push_back(area_under_tic(chromatogram));
    out.push_back(area_under_tic_rt_quantiles(chromatogram));
    append(out, tic_quantile_rt_fraction(chromatogram, *span));
  }
  out.push_back(total_ion_current_maximum(spectra));
  out.push_back(base_peak_intensity_maximum(spectra));
  append(out, ms1_quantile_rt_fraction(ms1, *span));
  append(out, ms2_quantile_rt_fraction(ms2, *span));
  append(out, ms1_tic_change_quantile_ratios(ms1));
  append(out, ms1_tic_quantile_ratios(ms1));
  append(out, ms1_density_quantiles(ms1));
  append(out, ms2_density_quantiles(ms2));
  append_frequencies(out, ms1, {"MS:4000065", "fastest frequency for MS level 1 collection"},
                     {"MS:4000095", "slowest frequency for MS level 1 collection"});
  append_frequencies(out, ms2, {"MS:4000066", "fastest frequency for MS level 2 collection"},
                     {"MS:4000096", "slowest frequency for MS level 2 collection"});
  append(out, ms1_median_cycle_time(ms1));
  return out;
}

std::vector<double> metric_elements(const MetricValue& value) {
  struct Elements {
    std::vector<double> operator()(std::int64_t v) const { return {static_cast<double>(v)}; }
    std::vector<double> operator()(double v) const { return {v}; }
    std::vector<double> operator()(const std::vector<std::int64_t>& v) const {
      std::vector<double> out;
      for (const std::int64_t x : v) out.push_back(static_cast<double>(x));
      return out;
    }
    std::vector<double> operator()(const std::vector<double>& v) const { return v; }
    std::vector<double> operator()(const TicTable& t) const { return t.total_ion_currents; }
  };
  return std::visit(Elements{}, value);
}

bool is_logarithmic(std::string_view accession) {
  return accession == "MS:4000186" || accession == "MS:4000187";
}

bool has_fixed_length(const MetricValue& value) { return !std::holds_alternative<TicTable>(value); }

}  // namespace velmoran::qc
