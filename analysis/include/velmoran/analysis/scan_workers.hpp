// Work on many scans at once: each of `count` items handed to exactly one
// of a few threads, in chunks, with a flag that stops them between items.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>

namespace velmoran::analysis {

// Calls work(k, worker) once for every k in [0, count) on up to `threads`
// threads (the calling thread is one of them; `worker`, below the number
// of threads, is private to the calling thread, for scratch space), until
// `stop` is set. The first exception that a call throws stops the others
// and is rethrown here, once every thread is done.
void for_each_item(std::size_t count, unsigned threads, const std::atomic<bool>& stop,
                   const std::function<void(std::size_t k, std::size_t worker)>& work);

}  // namespace velmoran::analysis
