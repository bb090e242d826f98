// One pass over a run's spectra, and what a spectrum's points came from.
#pragma once

#include <cstddef>
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

// An ordered pipeline over the run's spectra, for work that costs as much as
// the reading itself: reading and decoding run on one thread while the
// spectra before are worked on by the others.
//   take(record, slot)  in table order, one at a time: returns whether the
//                       record is wanted, and then keeps it in `slot`;
//   work(slot)          on any thread, several slots at once;
//   emit(slot)          in the order taken, one at a time: returns false to
//                       stop.
// Slots are numbered 0 to slot_count - 1; a slot is taken again only after
// its previous spectrum was emitted, so at most slot_count spectra are in
// memory. With `parallel` false everything runs on the calling thread in
// slot 0: for light work the hand-offs cost more than they save (and a
// workflow running many runs at once has no core to spare). Returns
// whether the run was read to its end without a stop.
inline constexpr std::size_t kPipelineSlots = 8;

bool pipeline_spectra(const Reader& reader, bool parallel, std::size_t slot_count,
                      const std::function<bool(quorlith::SpectrumRecord&, std::size_t)>& take,
                      const std::function<void(std::size_t)>& work,
                      const std::function<bool(std::size_t)>& emit);

}  // namespace velmoran::inspect
