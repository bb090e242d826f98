#include <velmoran/analysis/peak_mode.hpp>

#include <algorithm>
#include <cmath>
#include <utility>
#include <vector>

#include <velmoran/peak_picking.hpp>
#include <velmoran/representation.hpp>

namespace velmoran::analysis {

namespace {

// Increasing m/z, NaN after every number: a strict weak order.
bool mz_before(double a, double b) { return !std::isnan(a) && (std::isnan(b) || a < b); }

}  // namespace

std::optional<PeakMode> parse_peak_mode(std::string_view name) noexcept {
  if (name == "profile") return PeakMode::kProfile;
  if (name == "centroid") return PeakMode::kCentroid;
  if (name == "picked") return PeakMode::kPicked;
  return std::nullopt;
}

BlockOrder block_order_of(PeakMode mode) noexcept {
  return mode == PeakMode::kCentroid ? BlockOrder::kPeaksFirst : BlockOrder::kProfileFirst;
}

void sort_by_mz(quorlith::SpectrumRecord& record) {
  const std::size_t n = std::min(record.mz.size(), record.intensity.size());
  const auto mz_end = record.mz.begin() + static_cast<std::ptrdiff_t>(n);
  if (std::is_sorted(record.mz.begin(), mz_end, mz_before)) return;
  std::vector<std::pair<double, float>> points(n);
  for (std::size_t i = 0; i < n; ++i) points[i] = {record.mz[i], record.intensity[i]};
  std::stable_sort(points.begin(), points.end(),
                   [](const auto& a, const auto& b) { return mz_before(a.first, b.first); });
  for (std::size_t i = 0; i < n; ++i) {
    record.mz[i] = points[i].first;
    record.intensity[i] = points[i].second;
  }
}

bool apply_peak_mode(quorlith::SpectrumRecord& record, bool profile, PeakMode mode) {
  if (mode == PeakMode::kProfile) return false;
  bool picked = false;
  if (profile) {
    const std::size_t n = std::min(record.mz.size(), record.intensity.size());
    // In place: each peak is written behind the points still to be read.
    const std::size_t count = pick_peaks_into(std::span<const double>(record.mz.data(), n),
                                              std::span<const float>(record.intensity.data(), n),
                                              record.mz, record.intensity);
    record.mz.resize(count);
    record.intensity.resize(count);
    picked = true;
  }
  sort_by_mz(record);
  return picked;
}

ScanSpectrum read_scan(const Reader& reader, std::size_t index, PeakMode mode) {
  ScanSpectrum spectrum = reader.read_spectrum(index, block_order_of(mode));
  if (mode == PeakMode::kProfile) return spectrum;
  const bool profile = representation_of(reader, spectrum.record) == Representation::profile;
  if (apply_peak_mode(spectrum.record, profile, mode)) spectrum.record.profile_decoded = false;
  return spectrum;
}

}  // namespace velmoran::analysis
