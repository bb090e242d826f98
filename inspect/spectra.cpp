#include <velmoran/inspect/spectra.hpp>

#include <tbb/parallel_pipeline.h>

#include <atomic>

namespace velmoran::inspect {

Representation representation_of(const quorlith::SpectrumRecord& record,
                                 const raw::ScanRecord& scan) {
  if (record.mz.empty()) return Representation::empty;
  // A profile block that decoded to points is used whole. One that decoded
  // to none (its point count is 0) leaves the points to the peak block:
  // then they are centroids although the profile block decoded.
  const bool profile_points =
      record.profile_decoded && scan.profile_block && scan.profile_block->point_count > 0;
  return profile_points ? Representation::profile : Representation::centroid;
}

const char* representation_name(Representation representation) {
  switch (representation) {
    case Representation::profile:
      return "profile";
    case Representation::centroid:
      return "centroid";
    case Representation::empty:
      break;
  }
  return "empty";
}

bool for_each_spectrum(const Reader& reader,
                       const std::function<bool(quorlith::SpectrumRecord&)>& visit) {
  // One thread: for light work per spectrum (counts, ranges) a reading
  // thread of its own saves little and costs more than it saves when the
  // cores are busy (as they are when a workflow runs many runs at once).
  auto spectra = reader.iter_spectra();
  while (auto record = spectra->next()) {
    if (!visit(*record)) return false;
  }
  return true;
}

bool pipeline_spectra(const Reader& reader, bool parallel, std::size_t slot_count,
                      const std::function<bool(quorlith::SpectrumRecord&, std::size_t)>& take,
                      const std::function<void(std::size_t)>& work,
                      const std::function<bool(std::size_t)>& emit) {
  if (!parallel) {
    return for_each_spectrum(reader, [&](quorlith::SpectrumRecord& record) {
      if (!take(record, 0)) return true;
      work(0);
      return emit(0);
    });
  }
  auto spectra = reader.iter_spectra();
  std::size_t taken = 0;
  bool ended = false;
  // Written by the emitting stage, read by the taking one.
  std::atomic<bool> stopped = false;
  // With slot_count tokens at most slot_count spectra are between take and
  // emit, and emit runs in order: when spectrum k + slot_count is taken,
  // spectrum k, the one that held the same slot, has been emitted.
  tbb::parallel_pipeline(
      slot_count,
      tbb::make_filter<void, std::size_t>(tbb::filter_mode::serial_in_order,
                                          [&](tbb::flow_control& control) -> std::size_t {
                                            while (!stopped.load(std::memory_order_relaxed)) {
                                              auto record = spectra->next();
                                              if (!record) {
                                                ended = true;
                                                break;
                                              }
                                              const std::size_t slot = taken % slot_count;
                                              if (take(*record, slot)) {
                                                ++taken;
                                                return slot;
                                              }
                                            }
                                            control.stop();
                                            return 0;
                                          }) &
          tbb::make_filter<std::size_t, std::size_t>(tbb::filter_mode::parallel,
                                                     [&](std::size_t slot) {
                                                       work(slot);
                                                       return slot;
                                                     }) &
          tbb::make_filter<std::size_t, void>(
              tbb::filter_mode::serial_in_order, [&](std::size_t slot) {
                if (!stopped.load(std::memory_order_relaxed) && !emit(slot)) {
                  stopped.store(true, std::memory_order_relaxed);
                }
              }));
  return ended && !stopped.load();
}

}  // namespace velmoran::inspect
