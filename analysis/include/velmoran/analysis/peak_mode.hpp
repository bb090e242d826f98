// Which points a spectrum is given as: the reader's (the profile where the
// scan has one), the instrument's centroids, or velmoran's peak picking of
// the profile. The convert command's --peaks and the Python module's
// peaks= argument mean the same through these functions.
#pragma once

#include <cstddef>
#include <optional>
#include <string_view>

#include <quorlith/types.hpp>

#include <velmoran/reader.hpp>

namespace velmoran::analysis {

enum class PeakMode {
  // The library's points: the profile where the scan has one.
  kProfile,
  // The instrument's centroids (the peak block) where the scan has them,
  // elsewhere the profile picked by pick_peaks.
  kCentroid,
  // Every profile picked by pick_peaks; the peak block only where the scan
  // has no profile points.
  kPicked,
};

// "profile", "centroid" or "picked" (exactly); nullopt otherwise.
[[nodiscard]] std::optional<PeakMode> parse_peak_mode(std::string_view name) noexcept;

// The order in which the reader must take each scan's blocks for `mode`.
[[nodiscard]] BlockOrder block_order_of(PeakMode mode) noexcept;

// Puts the points in increasing m/z, NaN last, equal m/z in their order: a
// falling profile axis gives its peaks from the highest m/z down, and a
// peak list may be stored in any order. A sorted spectrum costs one pass.
void sort_by_mz(quorlith::SpectrumRecord& record);

// Makes `record`'s points those of `mode`, in place: a profile (`profile`)
// is replaced by its picked peaks in every mode but kProfile, and those
// modes give their points in increasing m/z. Returns whether the points
// were picked.
bool apply_peak_mode(quorlith::SpectrumRecord& record, bool profile, PeakMode mode);

// The spectrum of the scan at `index` (below the table's size) in `mode`:
// what convert --peaks writes for it before any other point option. A
// picked spectrum's record says its profile was not decoded, so that
// representation_of() calls its points centroids, which they are. Safe to
// call from several threads at once.
[[nodiscard]] ScanSpectrum read_scan(const Reader& reader, std::size_t index, PeakMode mode);

}  // namespace velmoran::analysis
