// One pass over a run's spectra: on the calling thread, or as an ordered
// pipeline in which one thread reads and decodes while the others work on
// the spectra before. The convert, scans, info and xic commands all go
// through here.
#pragma once

#include <cstddef>
#include <functional>
#include <optional>
#include <utility>

#include <quorlith/types.hpp>
#include <velmoran/reader.hpp>
#include <velmoran/result.hpp>

namespace velmoran::pipeline {

// The threads a pass with `requested` threads uses: `requested`, or when 0
// analysis::default_threads() (the process's CPU affinity held to its
// control group's CPU quota). How many threads may run at once in the
// whole process is the program's to set (tbb::global_control), never a
// library's.
[[nodiscard]] unsigned thread_count(unsigned requested);

// Calls `visit` with every spectrum of the run, in scan-table order, until
// it returns false. Returns whether every spectrum was visited. One thread:
// for light work per spectrum (counts, ranges) a reading thread of its own
// saves little, and costs more than it saves when the cores are busy (as
// they are when a workflow runs many runs at once).
bool for_each_spectrum(const Reader& reader,
                       const std::function<bool(quorlith::SpectrumRecord&)>& visit,
                       BlockOrder order = BlockOrder::kProfileFirst);

// The stages of an ordered pipeline over the run's spectra.
struct SpectrumStages {
  // In table order, one at a time: whether the record is wanted; if so the
  // caller keeps it in slot `slot`.
  std::function<bool(quorlith::SpectrumRecord& record, std::size_t slot)> take;
  // On any thread, several slots at once. `worker`, below the pass's thread
  // count, is the calling thread's own: no two calls running at once share
  // it, so scratch space indexed by it is private to the call. Scratch
  // space is thus per thread, not per slot.
  std::function<void(std::size_t slot, std::size_t worker)> work;
  // Optional: in the order taken, one at a time, overlapping the emitting
  // of the slot before (a checksum beside the write).
  std::function<void(std::size_t slot)> place;
  // In the order taken, one at a time: false to stop.
  std::function<bool(std::size_t slot)> emit;
  // Which of a scan's blocks gives its points first.
  BlockOrder order = BlockOrder::kProfileFirst;
};

// The slots a pass on `threads` threads uses, numbered 0 to
// slot_count(threads) - 1: two spectra in flight per thread, so that every
// thread has the next one waiting. One thread uses one slot.
[[nodiscard]] std::size_t slot_count(unsigned threads) noexcept;

// Runs the stages over the run's spectra on `threads` threads (see
// thread_count(); 1 runs everything on the calling thread, slot 0, worker
// 0, without a hand-off). A slot is taken again only after its previous
// spectrum was emitted, so at most slot_count(threads) spectra are in
// memory. Returns whether the run was read to its end without a stop.
bool run_spectrum_pipeline(const Reader& reader, unsigned threads, const SpectrumStages& stages);

// For stages that stop at the first error and report it after the pass:
// whether `result` holds a value; if not, its error goes to `failure`.
template <class T>
[[nodiscard]] bool succeeded(Result<T>&& result, std::optional<Error>& failure) {
  if (result) return true;
  failure = std::move(result).error();
  return false;
}

}  // namespace velmoran::pipeline
