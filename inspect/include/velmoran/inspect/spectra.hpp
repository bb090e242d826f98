// One pass over a run's spectra, and what a spectrum's points came from.
#pragma once

#include <functional>

#include <quorlith/types.hpp>
#include <velmoran/reader.hpp>

namespace velmoran::inspect {

// Where a spectrum's points came from: the scan's profile block, its peak
// block (centroids), or nowhere (no block, a block that could not be read
// or decoded, or one of zero points).
enum class Representation { profile, centroid, empty };

// `scan` is the record's own row of the scan table.
[[nodiscard]] Representation representation_of(const quorlith::SpectrumRecord& record,
                                               const raw::ScanRecord& scan);

// "profile", "centroid" or "empty".
[[nodiscard]] const char* representation_name(Representation representation);

// Calls `visit` with every spectrum of the run, in scan-table order, until
// it returns false. Returns whether every spectrum was visited.
bool for_each_spectrum(const Reader& reader,
                       const std::function<bool(quorlith::SpectrumRecord&)>& visit);

}  // namespace velmoran::inspect
