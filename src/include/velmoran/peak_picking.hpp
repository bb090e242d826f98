// Peak picking: a profile spectrum (intensities sampled along an m/z axis)
// turned into a centroid list, one point per peak, at the peak's apex.
//
// A peak is a local maximum above zero: a point, or a run of equal points
// (a plateau, counted once), higher than the point on each side of it, with
// those points above zero. A maximum beside a zero is not a peak: profiles
// here are cut to zero below the instrument's threshold, and one or two
// points alone between zeros are noise that crossed it (on generated scans
// they were nearly all of the false peaks; see docs/convert.md). Its apex
// comes from the highest point and its two neighbours:
//
// - a Gaussian through the three points, that is a parabola through the
//   logarithms of their intensities. It is exact for a Gaussian peak
//   sampled on an evenly spaced axis; the apex lies within half a sampling
//   step of the highest point.
// - at an end of the axis, where a neighbour is missing (no fit through
//   two points): the intensity-weighted mean m/z of the end point and its
//   neighbour, at the height of the end point; a spectrum of one point
//   above zero is one peak, that point.
// - a plateau: the midpoint of its first and last m/z, at its height.
//
// An intensity that is not finite or not above zero, and a point whose m/z
// is not finite, count as zero, so the output never holds a NaN or an
// infinity. The result is a pure function of the input: logarithm and
// exponential are computed with basic arithmetic (no platform libm, no
// fused multiply-add), so the same spectrum gives the same bits on every
// machine, in any order, on any thread.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include <velmoran/visibility.hpp>

namespace velmoran {

// Peaks in the order of the axis (ascending m/z for every axis the reader
// spans), m/z as 64-bit and apex heights as 32-bit floats.
struct PickedPeaks {
  std::vector<double> mz;
  std::vector<float> intensity;
};

// The most peaks pick_peaks_into() can write for `point_count` points
// (peaks are separated by at least one lower point).
[[nodiscard]] constexpr std::size_t max_picked_peaks(std::size_t point_count) noexcept {
  return (point_count + 1) / 2;
}

// Picks the peaks of the profile (`mz`, `intensity`; the shorter length
// counts) into the front of `out_mz` and `out_intensity`, each at least
// max_picked_peaks(points) long, and returns how many it wrote. Allocates
// nothing, and the output may be the input arrays themselves: each peak is
// written behind the points still to be read, so a profile can be replaced
// by its peaks in place.
[[nodiscard]] VELMORAN_EXPORT std::size_t pick_peaks_into(std::span<const double> mz,
                                                          std::span<const float> intensity,
                                                          std::span<double> out_mz,
                                                          std::span<float> out_intensity) noexcept;

// The same, into new arrays of their final size.
[[nodiscard]] VELMORAN_EXPORT PickedPeaks pick_peaks(std::span<const double> mz,
                                                     std::span<const float> intensity);

}  // namespace velmoran
