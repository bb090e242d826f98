// What a spectrum's points are: the one rule that the mzML writer (its
// "profile spectrum" and "centroid spectrum" terms) and the scans and info
// tables share.
#pragma once

#include <quorlith/types.hpp>

#include <velmoran/reader.hpp>
#include <velmoran/visibility.hpp>

namespace velmoran {

// Where a spectrum's points came from: the scan's profile block, its peak
// block (centroids), or nowhere (no block, a block that could not be read
// or decoded, or one of zero points).
enum class Representation { profile, centroid, empty };

// The representation of `record`, one of `reader`'s spectra. A profile block
// that decoded to points is used whole; one that decoded to none hands the
// scan over to its peak block, whose points are centroids although the
// profile block decoded (`profile_decoded` is then true).
[[nodiscard]] VELMORAN_EXPORT Representation
representation_of(const Reader& reader, const quorlith::SpectrumRecord& record) noexcept;

// "profile", "centroid" or "empty".
[[nodiscard]] VELMORAN_EXPORT const char* representation_name(
    Representation representation) noexcept;

}  // namespace velmoran
