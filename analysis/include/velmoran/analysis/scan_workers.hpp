// The one engine for work on many scans at once: each of `count` items
// handed to exactly one of a few threads, in chunks, with a flag that
// stops them between items. Every pass of the library that reads "every
// selected scan on N workers, stoppable" (xic, the totals, the channel
// chromatograms, the quality pass) goes through here.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

namespace velmoran::analysis {

// The threads for_each_item() starts for `count` items when asked for
// `threads`: no more than there are chunks of items to take, at least 1.
// Scratch space per worker is allocated for this many, not for `threads`.
[[nodiscard]] unsigned worker_count(std::size_t count, unsigned threads) noexcept;

// Calls work(k, worker) once for every k in [0, count) on
// worker_count(count, threads) threads (the calling thread is one of
// them; `worker`, below that count, is private to the calling thread, for
// scratch space), until `stop` is set. The first exception that a call
// throws stops the others and is rethrown here, once every thread is done.
void for_each_item(std::size_t count, unsigned threads, const std::atomic<bool>& stop,
                   const std::function<void(std::size_t k, std::size_t worker)>& work);

}  // namespace velmoran::analysis
