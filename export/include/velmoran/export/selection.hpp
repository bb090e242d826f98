// What convert writes of each spectrum (which scans: analysis::ScanSelection
// in ConvertOptions): which points: the instrument's centroids
// or our peak picking instead of a profile, zeros trimmed, an m/z window,
// an intensity floor, the most intense points.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include <quorlith/types.hpp>

#include <velmoran/analysis/peak_mode.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::exporting {

// The points of each spectrum (--peaks): profile, centroid or picked.
using analysis::block_order_of;
using analysis::PeakMode;

struct PointOptions {
  PeakMode peaks = PeakMode::kProfile;
  // Profiles lose their zero points, except those beside a non-zero point.
  bool drop_zeros = false;
  // Inclusive m/z window.
  std::optional<std::pair<double, double>> mz_window;
  // Points below this intensity go (after picking).
  std::optional<double> min_intensity;
  // The most intense points of each spectrum, kept in m/z order; among
  // equal intensities the lower m/z first.
  std::optional<std::size_t> top;
};

struct ShapedPoints {
  // The points are (still) a profile.
  bool profile = false;
  // They are velmoran's peak picking of a profile.
  bool picked = false;
};

// Applies `options` to the arrays of `record` in place, in this order:
// picking, zero trimming, m/z window, intensity floor, top N. Peaks (any
// mode but kProfile) and a top N come out in increasing m/z. `profile`
// says whether the record's points are a profile. `scratch` is reused
// between calls (the top-N selection).
ShapedPoints shape_points(quorlith::SpectrumRecord& record, bool profile,
                          const PointOptions& options, std::vector<float>& scratch);

}  // namespace velmoran::exporting
